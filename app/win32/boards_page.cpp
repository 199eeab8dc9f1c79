#include "app/win32/boards_page.h"

#include <bootwire/bootwire.h>
#include <commctrl.h>

#include <mutex>
#include <set>

#include "app/win32/sealbench_ids.h"
#include "download/run_plan.h"
#include "download/win32/page_debug_run.h"
#include "ui/win32/win32_ui.h"

namespace sealbench::win32 {
namespace {

constexpr UINT_PTR kRefreshTimer = 1;
constexpr UINT kRefreshMs = 200;
enum Column { kBoard, kProgress, kPhase, kBytes, kRate, kResult, kLog };
constexpr const char* kColumnNames[] = {"Board", "Progress", "Phase", "Bytes", "Rate", "Result", ""};
constexpr int kColumnWidths[] = {110, 60, 90, 70, 70, 170, 40};

std::string RateText(double bytesPerSecond) {
    if (bytesPerSecond <= 0) return {};
    char text[32];
    if (bytesPerSecond >= 1024.0 * 1024.0)
        std::snprintf(text, sizeof text, "%.1f MiB/s", bytesPerSecond / (1024.0 * 1024.0));
    else
        std::snprintf(text, sizeof text, "%.1f KiB/s", bytesPerSecond / 1024.0);
    return text;
}

std::string PhaseText(const BoardStatus& status) {
    switch (status.state) {
        case BoardState::Waiting:
            return "waiting";
        case BoardState::Opening:
            return "opening";
        case BoardState::Running:
            return status.caption.empty() ? "Memory init" : status.caption;
        case BoardState::Succeeded:
            return "done";
        case BoardState::Stopped:
            return "stopped";
        default:
            return "failed";
    }
}

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

// One board's status log and diagnostics, kept for its "Log" cell. Called from the
// board's threads.
class CBoardsPage::BoardLog : public RunView {
public:
    void AppendLog(std::string_view line, int) override { Add(line); }
    void SetProgressRange(int64_t, int64_t) override {}
    void SetProgressPosition(int64_t) override {}
    void SetProgressCaption(std::string_view) override {}
    void Diagnostic(std::string_view text) override { Add(text); }

    std::string Text() const {
        std::lock_guard lock(mutex_);
        return text_;
    }

private:
    void Add(std::string_view line) {
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
        if (line.empty()) return;
        std::lock_guard lock(mutex_);
        if (!text_.empty()) text_ += '\n';
        text_ += line;
    }

    mutable std::mutex mutex_;
    std::string text_;
};

CBoardsPage::CBoardsPage(WindowSide window) : CPageDialog(IDD_BOARDS_PAGE), window_(std::move(window)) {}

CBoardsPage::~CBoardsPage() { StopAll(); }

void CBoardsPage::StopAll() {
    // Each board stops and its threads end before the views they report to go.
    for (auto& run : runs_) run->Stop();
    runs_.clear();
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
    RefreshBoards();
    return true;
}

void CBoardsPage::RefreshBoards() {
    const HWND list = GetDlgItem(hwnd(), IDC_BOARD_CANDIDATES);
    std::set<std::string> ticked;
    for (size_t i = 0; i < candidates_.size(); ++i) {
        if (SendMessageA(list, LVM_GETITEMSTATE, i, LVIS_STATEIMAGEMASK) == INDEXTOSTATEIMAGEMASK(2))
            ticked.insert(candidates_[i].address.name);
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
        const int row = static_cast<int>(i);
        AddRow(list, row, candidates_[i].label);
        LVITEMA state{};
        state.stateMask = LVIS_STATEIMAGEMASK;
        state.state = INDEXTOSTATEIMAGEMASK(ticked.count(candidates_[i].address.name) ? 2 : 1);
        SendMessageA(list, LVM_SETITEMSTATE, i, reinterpret_cast<LPARAM>(&state));
    }
}

void CBoardsPage::ShowText(const std::string& text) { SetItemText(hwnd(), IDC_BOARD_MESSAGE, text); }

void CBoardsPage::OnFlashAll() {
    if (running_) return;
    if (window_.downloadBusy && window_.downloadBusy()) {
        ShowText("The Download page is running; wait for it to end.");
        return;
    }
    const RunSettings settings = window_.settings();
    if (std::optional<std::string_view> refusal = RefuseProcessor(settings)) {
        std::string text(*refusal);
        while (!text.empty() && text.back() == '\n') text.pop_back();
        ShowText(text);
        return;
    }
    if (Result<RunPlan> plan = MakeRunPlan(settings); !plan.Ok()) {
        std::string text = "Error! - " + plan.outcome.message;
        while (!text.empty() && text.back() == '\n') text.pop_back();
        ShowText(text);
        return;
    }
    const HWND list = GetDlgItem(hwnd(), IDC_BOARD_CANDIDATES);
    std::vector<BoardAddress> boards;
    for (size_t i = 0; i < candidates_.size(); ++i) {
        if (SendMessageA(list, LVM_GETITEMSTATE, i, LVIS_STATEIMAGEMASK) == INDEXTOSTATEIMAGEMASK(2))
            boards.push_back(candidates_[i].address);
    }
    if (boards.empty()) {
        ShowText("Tick the boards to flash first.");
        return;
    }
    ShowText({});
    // The window holds its chosen port and the USB device open; both are exclusive.
    for (const BoardAddress& board : boards) {
        if (board.usb && window_.board->UsbOpen()) {
            window_.board->ReleaseUsbDevice();
            if (window_.session) window_.session->flashingDownloadDone = true;  // found again before the next run
        }
        if (!board.usb && board.port == window_.board->SerialPort()) {
            window_.board->ReleaseSerialPort();
            releasedSerial_ = true;
        }
    }
    runs_.clear();
    logs_.clear();
    const HWND table = GetDlgItem(hwnd(), IDC_BOARD_TABLE);
    SendMessageA(table, LVM_DELETEALLITEMS, 0, 0);
    for (size_t i = 0; i < boards.size(); ++i) {
        logs_.push_back(std::make_unique<BoardLog>());
        runs_.push_back(std::make_unique<BoardRun>(boards[i], *logs_.back()));
        AddRow(table, static_cast<int>(i), boards[i].name);
        SetCell(table, static_cast<int>(i), kLog, "Log");
    }
    for (auto& run : runs_) run->Start(settings, 0);
    running_ = true;
    EnableItem(hwnd(), IDC_BOARD_FLASH_ALL, false);
    EnableItem(hwnd(), IDC_BOARD_REFRESH, false);
    EnableItem(hwnd(), IDC_BOARD_STOP, true);
    SetTimer(hwnd(), kRefreshTimer, kRefreshMs, nullptr);
    UpdateRows();
}

void CBoardsPage::UpdateRows() {
    const HWND table = GetDlgItem(hwnd(), IDC_BOARD_TABLE);
    bool everyEnded = true;
    for (size_t i = 0; i < runs_.size(); ++i) {
        const int row = static_cast<int>(i);
        const BoardStatus status = runs_[i]->Status();
        everyEnded = everyEnded && BoardEnded(status.state);
        int percent = status.progressMax > 0 ? static_cast<int>(status.progress * 100 / status.progressMax) : 0;
        if (status.state == BoardState::Succeeded) percent = 100;
        SetCell(table, row, kProgress, std::to_string(percent) + "%");
        SetCell(table, row, kPhase, PhaseText(status));
        SetCell(table, row, kBytes, status.bytesSent > 0 ? std::to_string(status.bytesSent) : std::string());
        SetCell(table, row, kRate, RateText(status.bytesPerSecond));
        if (status.state == BoardState::Succeeded)
            SetCell(table, row, kResult, "OK");
        else if (BoardEnded(status.state))
            SetCell(table, row, kResult, "FAILED - " + status.reason);
    }
    if (everyEnded) Finish();
}

void CBoardsPage::Finish() {
    running_ = false;
    if (hwnd() != nullptr) {
        KillTimer(hwnd(), kRefreshTimer);
        EnableItem(hwnd(), IDC_BOARD_FLASH_ALL, true);
        EnableItem(hwnd(), IDC_BOARD_REFRESH, true);
        EnableItem(hwnd(), IDC_BOARD_STOP, false);
    }
    if (releasedSerial_) {
        window_.board->RetakeSerialPort();
        releasedSerial_ = false;
    }
}

void CBoardsPage::ShowLog(int row) {
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
        case IDC_BOARD_STOP:
            for (auto& run : runs_) run->Stop();
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
        if (header->idFrom == IDC_BOARD_TABLE && header->code == NM_CLICK) {
            const auto* click = reinterpret_cast<const NMITEMACTIVATE*>(lParam);
            if (click->iSubItem == kLog) ShowLog(click->iItem);
            *result = 0;
            return true;
        }
    }
    return false;
}

}  // namespace sealbench::win32
