#include "app/win32/boards_page.h"

#include <bootwire/bootwire.h>
#include <commctrl.h>

#include <set>

#include "app/win32/sealbench_ids.h"
#include "common/version.h"
#include "station/window_station.h"
#include "ui/win32/win32_ui.h"

namespace sealbench::win32 {
namespace {

constexpr UINT_PTR kRefreshTimer = 1;
constexpr UINT kRefreshMs = 200;
enum Column { kBoard, kProgress, kPhase, kBytes, kRate, kResult, kLog };
constexpr const char* kColumnNames[] = {"Board", "Progress", "Phase", "Bytes", "Rate", "Result", ""};
constexpr const char* kSlotColumnNames[] = {"Slot", "Progress", "Stage", "Identity", "", "Result", ""};
constexpr int kColumnWidths[] = {110, 80, 90, 70, 70, 150, 40};

void SetCell(HWND list, int row, int column, const std::string& text) {
    LVITEMA item{};
    item.iSubItem = column;
    std::string copy = text;
    item.pszText = copy.data();
    SendMessageA(list, LVM_SETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

void AddRow(HWND list, int row, const std::string& text) {
    LVITEMA item{};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    std::string copy = text;
    item.pszText = copy.data();
    SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
}

bool Ticked(HWND list, size_t row) {
    return SendMessageA(list, LVM_GETITEMSTATE, row, LVIS_STATEIMAGEMASK) == INDEXTOSTATEIMAGEMASK(2);
}

class LogDialog : public CPageDialog {
public:
    LogDialog(std::string title, std::string text)
        : CPageDialog(IDD_BOARD_LOG), title_(std::move(title)), text_(std::move(text)) {}

protected:
    bool OnInitDialog() override {
        SetWindowTextA(hwnd(), title_.c_str());
        SetItemText(hwnd(), IDC_BOARD_LOG_TEXT, WithCrLf(text_));
        return true;
    }
    bool ClosesOnOkCancel() const override { return true; }

private:
    std::string title_;
    std::string text_;
};

}  // namespace

CBoardsPage::CBoardsPage(WindowSide window) : CPageDialog(IDD_BOARDS_PAGE), window_(std::move(window)) {}

CBoardsPage::~CBoardsPage() { StopAll(); }

void CBoardsPage::StopAll() {
    // Each board stops and its threads end before the views they report to go.
    for (auto& run : runs_) run->Stop();
    runs_.clear();
    station_.reset();  // stops every slot and joins their threads
    if (running_) Finish();
}

bool CBoardsPage::OnInitDialog() {
    const HWND candidates = GetDlgItem(hwnd(), IDC_BOARD_CANDIDATES);
    SendMessageA(candidates, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT);
    LVCOLUMNA column{};
    column.mask = LVCF_WIDTH;
    column.cx = 520;
    SendMessageA(candidates, LVM_INSERTCOLUMNA, 0, reinterpret_cast<LPARAM>(&column));
    const HWND table = GetDlgItem(hwnd(), IDC_BOARD_TABLE);
    SendMessageA(table, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
    for (int i = 0; i <= kLog; ++i) {
        LVCOLUMNA heading{};
        heading.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        std::string text = kColumnNames[i];
        heading.pszText = text.data();
        heading.cx = kColumnWidths[i];
        heading.iSubItem = i;
        SendMessageA(table, LVM_INSERTCOLUMNA, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&heading));
    }
    SendMessageW(GetDlgItem(hwnd(), IDC_BOARD_IDENTITY), EM_SETCUEBANNER, FALSE,
                 reinterpret_cast<LPARAM>(L"identity ADDRESS:LENGTH (optional)"));
    RefreshBoards();
    return true;
}

void CBoardsPage::RefreshBoards() {
    const HWND list = GetDlgItem(hwnd(), IDC_BOARD_CANDIDATES);
    std::set<std::string> ticked;
    for (size_t i = 0; i < candidates_.size(); ++i) {
        if (Ticked(list, i)) ticked.insert(candidates_[i].address.name);
    }
    SendMessageA(list, LVM_DELETEALLITEMS, 0, 0);
    candidates_.clear();
    for (const bootwire::PortInfo& port : bootwire::ListPorts()) {
        const bool usb = port.kind == bootwire::PortInfo::Kind::UsbBoot;
        const std::string name = usb ? UsbBoardName(port.name) : port.name;
        std::string label = name + "  " + port.description;
        if (!port.usbSerial.empty()) label += ", serial " + port.usbSerial;
        candidates_.push_back({{name, usb, port.name}, label});
    }
    for (size_t i = 0; i < candidates_.size(); ++i) {
        AddRow(list, static_cast<int>(i), candidates_[i].label);
        LVITEMA state{};
        state.stateMask = LVIS_STATEIMAGEMASK;
        state.state = INDEXTOSTATEIMAGEMASK(ticked.count(candidates_[i].address.name) ? 2 : 1);
        SendMessageA(list, LVM_SETITEMSTATE, i, reinterpret_cast<LPARAM>(&state));
    }
}

void CBoardsPage::ShowText(const std::string& text) { SetItemText(hwnd(), IDC_BOARD_MESSAGE, text); }

std::vector<BoardAddress> CBoardsPage::TickedBoards() const {
    const HWND list = GetDlgItem(hwnd(), IDC_BOARD_CANDIDATES);
    std::vector<BoardAddress> boards;
    for (size_t i = 0; i < candidates_.size(); ++i) {
        if (Ticked(list, i)) boards.push_back(candidates_[i].address);
    }
    return boards;
}

void CBoardsPage::StartRows(const std::vector<std::string>& names, const char* const* headings) {
    for (HWND bar : bars_) DestroyWindow(bar);
    bars_.clear();
    const HWND table = GetDlgItem(hwnd(), IDC_BOARD_TABLE);
    for (int i = 0; i <= kLog; ++i) {
        LVCOLUMNA heading{};
        heading.mask = LVCF_TEXT;
        std::string text = headings[i];
        heading.pszText = text.data();
        SendMessageA(table, LVM_SETCOLUMNA, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&heading));
    }
    SendMessageA(table, LVM_DELETEALLITEMS, 0, 0);
    for (size_t i = 0; i < names.size(); ++i) {
        AddRow(table, static_cast<int>(i), names[i]);
        const HWND bar = CreateWindowExA(0, PROGRESS_CLASSA, "", WS_CHILD | WS_VISIBLE | PBS_SMOOTH, 0, 0, 0, 0, table,
                                         nullptr, GetModuleHandleA(nullptr), nullptr);
        SendMessageA(bar, PBM_SETRANGE32, 0, BoardRow::kBarRange);
        bars_.push_back(bar);
    }
}

void CBoardsPage::BeginRunning() {
    running_ = true;
    if (window_.runningChanged) window_.runningChanged(true);
    for (int id : {IDC_BOARD_FLASH_ALL, IDC_BOARD_STATION, IDC_BOARD_IDENTITY, IDC_BOARD_REFRESH})
        EnableItem(hwnd(), id, false);
    EnableItem(hwnd(), IDC_BOARD_STOP, true);
    SetTimer(hwnd(), kRefreshTimer, kRefreshMs, nullptr);
    UpdateRows();
}

void CBoardsPage::OnFlashAll() {
    if (running_) return;
    if (window_.downloadBusy && window_.downloadBusy()) {
        ShowText("The Download page is running; wait for it to end.");
        return;
    }
    const RunSettings settings = window_.settings();
    const std::vector<BoardAddress> boards = TickedBoards();
    if (boards.empty()) {
        ShowText("Tick the boards to flash first.");
        return;
    }
    ShowText({});
    station_.reset();
    runs_.clear();
    logs_.clear();
    if (window_.release) window_.release(boards);
    std::vector<std::string> names;
    for (size_t i = 0; i < boards.size(); ++i) {
        logs_.push_back(std::make_unique<BoardLog>());
        // What the library says on a board's threads goes to that board's log.
        runs_.push_back(std::make_unique<BoardRun>(boards[i], *logs_.back(), true));
        names.push_back(boards[i].name);
    }
    StartRows(names, kColumnNames);
    const HWND table = GetDlgItem(hwnd(), IDC_BOARD_TABLE);
    for (size_t i = 0; i < boards.size(); ++i) SetCell(table, static_cast<int>(i), kLog, "Log");
    for (auto& run : runs_) run->Start(settings, 0);
    BeginRunning();
}

void CBoardsPage::OnStation() {
    if (running_) return;
    if (window_.downloadBusy && window_.downloadBusy()) {
        ShowText("The Download page is running; wait for it to end.");
        return;
    }
    const std::vector<BoardAddress> boards = TickedBoards();
    Result<StationSettings> made = WindowStation(window_.settings(), boards, ItemText(hwnd(), IDC_BOARD_IDENTITY));
    if (!made.Ok()) {
        ShowText(made.outcome.message);
        return;
    }
    made.value.toolVersion = kProjectVersion;
    std::vector<std::string> places;
    for (const SlotPlace& place : made.value.places) places.push_back(place.text);
    station_.reset();
    runs_.clear();
    logs_.clear();
    if (window_.release) window_.release(boards);
    Result<std::unique_ptr<Station>> created = Station::Create(std::move(made.value), quiet_);
    if (!created.Ok()) {
        if (window_.restore) window_.restore();
        const Outcome& refusal = created.outcome;
        ShowText(refusal.message + (refusal.detail.empty() ? "" : " " + refusal.detail));
        return;
    }
    ShowText({});
    StartRows(places, kSlotColumnNames);
    station_ = std::move(created.value);
    station_->Start();
    BeginRunning();
}

void CBoardsPage::PlaceBars() {
    const HWND table = GetDlgItem(hwnd(), IDC_BOARD_TABLE);
    RECT header{};
    GetWindowRect(reinterpret_cast<HWND>(SendMessageA(table, LVM_GETHEADER, 0, 0)), &header);
    const LONG headerHeight = header.bottom - header.top;
    for (size_t row = 0; row < bars_.size(); ++row) {
        RECT cell{};
        cell.top = kProgress;
        cell.left = LVIR_BOUNDS;
        SendMessageA(table, LVM_GETSUBITEMRECT, row, reinterpret_cast<LPARAM>(&cell));
        // A row scrolled under the column headings hides its bar.
        const bool shown = cell.top >= headerHeight;
        SetWindowPos(bars_[row], nullptr, cell.left + 2, cell.top + 2, cell.right - cell.left - 4,
                     cell.bottom - cell.top - 4,
                     SWP_NOZORDER | SWP_NOACTIVATE | (shown ? SWP_SHOWWINDOW : SWP_HIDEWINDOW));
    }
}

void CBoardsPage::UpdateSlots() {
    const HWND table = GetDlgItem(hwnd(), IDC_BOARD_TABLE);
    const StationSnapshot snapshot = station_->Snapshot();
    ShowText(station_->Figures().CountsLine(station_->Running()));
    for (size_t i = 0; i < bars_.size() && i < snapshot.states.size(); ++i) {
        const int row = static_cast<int>(i);
        const SlotStatus& slot = snapshot.states[i];
        const bool flashing = slot.stage == SlotStage::Flashing;
        const bool doneWell = slot.stage == SlotStage::Remove && slot.lastOk;
        const double filled = doneWell ? 1.0 : flashing ? slot.fraction : 0.0;
        SendMessageA(bars_[i], PBM_SETPOS, static_cast<WPARAM>(filled * BoardRow::kBarRange), 0);
        const bool failed = !flashing && slot.hasLast && !slot.lastOk;
        SendMessageA(bars_[i], PBM_SETSTATE, failed ? PBST_ERROR : PBST_NORMAL, 0);
        SetCell(table, row, kPhase, StageText(slot));
        SetCell(table, row, kBytes, slot.identity);
        SetCell(table, row, kResult, SlotResultText(slot));
        SetCell(table, row, kLog, slot.hasLast && !slot.lastOk ? "Why?" : "");
    }
    PlaceBars();
    if (station_->Wait(std::chrono::milliseconds(0))) Finish();
}

void CBoardsPage::UpdateRows() {
    if (!running_) return;  // a tick the timer posted before it was killed
    if (station_) {
        UpdateSlots();
        return;
    }
    const HWND table = GetDlgItem(hwnd(), IDC_BOARD_TABLE);
    bool everyEnded = true;
    for (size_t i = 0; i < runs_.size(); ++i) {
        const int row = static_cast<int>(i);
        const BoardStatus status = runs_[i]->Status();
        everyEnded = everyEnded && BoardEnded(status.state);
        const BoardRow shown = RowOf(status);
        SendMessageA(bars_[i], PBM_SETPOS, static_cast<WPARAM>(shown.bar), 0);
        SendMessageA(bars_[i], PBM_SETSTATE, shown.failed ? PBST_ERROR : PBST_NORMAL, 0);
        SetCell(table, row, kPhase, shown.phase);
        SetCell(table, row, kBytes, shown.bytes);
        SetCell(table, row, kRate, shown.rate);
        SetCell(table, row, kResult, shown.result);
    }
    PlaceBars();
    if (everyEnded) Finish();
}

void CBoardsPage::Finish() {
    running_ = false;
    if (hwnd() != nullptr) {
        KillTimer(hwnd(), kRefreshTimer);
        for (int id : {IDC_BOARD_FLASH_ALL, IDC_BOARD_STATION, IDC_BOARD_IDENTITY, IDC_BOARD_REFRESH})
            EnableItem(hwnd(), id, true);
        EnableItem(hwnd(), IDC_BOARD_STOP, false);
    }
    if (window_.restore) window_.restore();
    if (window_.runningChanged) window_.runningChanged(false);
}

void CBoardsPage::ShowLog(int row) {
    if (station_) {
        const StationSnapshot snapshot = station_->Snapshot();
        if (row < 0 || static_cast<size_t>(row) >= snapshot.states.size()) return;
        const SlotStatus& slot = snapshot.states[static_cast<size_t>(row)];
        if (!slot.hasLast || slot.lastOk) return;
        LogDialog dialog(slot.place, SlotWhyText(slot, station_->SlotLog(static_cast<size_t>(row))));
        dialog.RunModal(hwnd());
        return;
    }
    if (row < 0 || static_cast<size_t>(row) >= logs_.size()) return;
    LogDialog dialog(runs_[static_cast<size_t>(row)]->Address().name, logs_[static_cast<size_t>(row)]->Text());
    dialog.RunModal(hwnd());
}

bool CBoardsPage::OnCommand(int id, int code, HWND control) {
    if (code != BN_CLICKED) return CPageDialog::OnCommand(id, code, control);
    switch (id) {
        case IDC_BOARD_REFRESH:
            RefreshBoards();
            return true;
        case IDC_BOARD_FLASH_ALL:
            OnFlashAll();
            return true;
        case IDC_BOARD_STATION:
            OnStation();
            return true;
        case IDC_BOARD_STOP:
            for (auto& run : runs_) run->Stop();
            if (station_) station_->Stop();
            return true;
        default:
            return CPageDialog::OnCommand(id, code, control);
    }
}

bool CBoardsPage::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR* result) {
    if (message == WM_TIMER && wParam == kRefreshTimer) {
        UpdateRows();
        *result = TRUE;
        return true;
    }
    if (message == WM_NOTIFY) {
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header->idFrom != IDC_BOARD_TABLE) return false;
        if (header->code == NM_CLICK) {
            const auto* click = reinterpret_cast<const NMITEMACTIVATE*>(lParam);
            if (click->iSubItem == kLog) ShowLog(click->iItem);
        } else if (header->code == LVN_ENDSCROLL) {
            PlaceBars();
        }
        *result = 0;
        return true;
    }
    return false;
}

}  // namespace sealbench::win32
