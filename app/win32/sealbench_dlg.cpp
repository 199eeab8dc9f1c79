#include "app/win32/sealbench_dlg.h"

#include <bootwire/bootwire.h>
#include <commctrl.h>

#include <algorithm>
#include <iterator>

#include "app/win32/about_dlg.h"
#include "app/win32/boards_page.h"
#include "app/win32/sealbench_ids.h"
#include "download/page/page_model.h"
#include "ui/win32/win32_ui.h"

namespace sealbench::win32 {
namespace {

constexpr int kDownloadPageId = 0;
constexpr int kBoardsPageId = 100;
constexpr const char* kProcessorNames[] = {"VireoB", "VireoC_TO1", "VireoC_TO2"};
constexpr const char* kStopAndClose = "A run is in progress.\nStop it and close Sealbench?";
constexpr const char* kFastRateMenu = "Fast serial flashing rate";
constexpr int kRateCount = static_cast<int>(std::size(bootwire::kStreamRates));
constexpr const char* kStatusTimeoutMenu = "Flash library status timeout";
constexpr int kTimeoutCount = static_cast<int>(std::size(kStatusTimeoutChoices));
// How long a stopped run may take to end before the window goes regardless.
constexpr auto kStopLimit = std::chrono::seconds(5);

std::string ComboText(HWND combo, int index) {
    const LRESULT length = SendMessageA(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length == CB_ERR) return {};
    std::string text(static_cast<size_t>(length) + 1, '\0');
    SendMessageA(combo, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<size_t>(length));
    return text;
}

int FindExact(HWND combo, const std::string& text) {
    const LRESULT found =
        SendMessageA(combo, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(text.c_str()));
    return found == CB_ERR ? -1 : static_cast<int>(found);
}

std::string Trimmed(std::string text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

}  // namespace

CSealbenchDlg::CSealbenchDlg(std::vector<ExtraPage> extraPages, bool showExtraPages)
    : CPageDialog(IDD_SEALBENCH_DIALOG), extraPages_(std::move(extraPages)), showExtraPages_(showExtraPages) {}

CSealbenchDlg::~CSealbenchDlg() {
    // The runs stop before the board they talk over and the views they report to go.
    if (boards_ != nullptr) boards_->StopAll();
    if (page_ != nullptr) page_->StopForClose(kStopLimit);
    bootwire::SetDiagnosticHandler({});
    tabs_.RemoveAllPages();
    if (icon_ != nullptr) DestroyIcon(icon_);
    if (smallIcon_ != nullptr) DestroyIcon(smallIcon_);
}

BoardLink CSealbenchDlg::ChosenBoard() {
    BoardLink board;
    board.usb = usb_;
    board.link = board_.Link();
    if (usb_) {
        // Called on the page's launcher thread, while the choices that touch the board are locked.
        board.reenumerate = [this] { return ReopenUsb(); };
    } else if (portIndex_ < 0) {
        board.link = nullptr;
    }
    return board;
}

bootwire::Link* CSealbenchDlg::ReopenUsb() {
    BoardAddress usb = UsbBoard();
    usb.firstOfSeveral = true;
    const WindowOpen opened = board_.Open(usb, page_->Processor());
    const std::string& said = opened.ok ? opened.notice : opened.reason;
    if (!said.empty()) page_->Diagnostic(said);
    return board_.Link();
}

bool CSealbenchDlg::OnInitDialog() {
    tabs_.Attach(Item(IDC_TAB_HOST));
    // A port that no list shows may be typed.
    SendMessageW(Item(IDC_PORT_LIST), CB_SETCUEBANNER, 0, reinterpret_cast<LPARAM>(L"device or rfc2217://HOST:PORT"));
    RefreshPorts();
    for (const char* name : kProcessorNames)
        SendMessageA(Item(IDC_TYPE_LIST), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
    SendMessageA(Item(IDC_PORT_LIST), CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
    SendMessageA(Item(IDC_TYPE_LIST), CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
    usb_ = false;

    char about[128] = {};
    if (LoadStringA(GetModuleHandleA(nullptr), IDS_ABOUTBOX, about, sizeof about) > 0) {
        HMENU system = GetSystemMenu(hwnd(), FALSE);
        AppendMenuA(system, MF_SEPARATOR, 0, nullptr);
        AppendMenuA(system, MF_STRING, IDM_ABOUTBOX, about);
    }
    const HINSTANCE instance = GetModuleHandleA(nullptr);
    icon_ = static_cast<HICON>(LoadImageA(instance, MAKEINTRESOURCEA(IDR_MAINFRAME), IMAGE_ICON,
                                          GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0));
    smallIcon_ = static_cast<HICON>(LoadImageA(instance, MAKEINTRESOURCEA(IDR_MAINFRAME), IMAGE_ICON,
                                               GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
    SendMessageA(hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
    SendMessageA(hwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_));

    auto page = std::make_unique<CPage_Debug>([this] { return ChosenBoard(); }, session_);
    page_ = page.get();
    page_->SetBusyChanged([this](bool) { UpdateChoices(); });
    tabs_.AddPage("Download", kDownloadPageId, std::move(page));
    // Nothing the library says goes to a console nobody sees: it is a failure's detail.
    bootwire::SetDiagnosticHandler([page = page_](std::string_view line) { page->Diagnostic(line); });
    AddChoiceMenus();
    for (size_t i = 0; i < extraPages_.size(); ++i) {
        if (showExtraPages_)
            tabs_.AddPage(extraPages_[i].label, static_cast<int>(i) + 1, extraPages_[i].create());
        else
            unshownPages_.push_back(extraPages_[i].create());
    }
    if (!showExtraPages_) {
        unshownPages_.push_back(std::make_unique<CPageDialog>(IDD_IMAGE_COMBINE));
        unshownPages_.push_back(std::make_unique<CPageDialog>(IDD_DEBUG));
    }
    page_->InitialState();
    Layout();

    // A board on USB at start-up makes USB the channel; none is no message.
    BoardAddress usb = UsbBoard();
    usb.firstOfSeveral = true;
    usb_ = board_.Open(usb, page_->Processor()).ok;
    if (usb_) {
        EnableItem(hwnd(), IDC_PORT_LIST, false);
        EnableItem(hwnd(), IDC_USB, false);
        SetChecked(hwnd(), IDC_USB, true);
    }
    session_.bannerPending = true;
    return true;
}

void CSealbenchDlg::AddChoiceMenus() {
    const HMENU window = GetSubMenu(GetMenu(hwnd()), 0);
    const HMENU rates = rateMenu_ = CreatePopupMenu();
    int chosen = 0;
    for (int i = 0; i < kRateCount; ++i) {
        const std::string text = std::to_string(bootwire::kStreamRates[i]) + " baud";
        AppendMenuA(rates, MF_STRING, static_cast<UINT_PTR>(IDM_FAST_RATE + i), text.c_str());
        if (bootwire::kStreamRates[i] == page_->FastBaud()) chosen = i;
    }
    CheckMenuRadioItem(rates, IDM_FAST_RATE, IDM_FAST_RATE + kRateCount - 1, IDM_FAST_RATE + chosen, MF_BYCOMMAND);
    // A user's flash library may stay silent through a whole chip erase.
    const HMENU timeouts = timeoutMenu_ = CreatePopupMenu();
    chosen = 0;
    for (int i = 0; i < kTimeoutCount; ++i) {
        AppendMenuA(timeouts, MF_STRING, static_cast<UINT_PTR>(IDM_STATUS_TIMEOUT + i),
                    StatusTimeoutCaption(kStatusTimeoutChoices[i]).c_str());
        if (std::chrono::seconds(kStatusTimeoutChoices[i]) == page_->StatusTimeout()) chosen = i;
    }
    CheckMenuRadioItem(timeouts, IDM_STATUS_TIMEOUT, IDM_STATUS_TIMEOUT + kTimeoutCount - 1,
                       IDM_STATUS_TIMEOUT + chosen, MF_BYCOMMAND);
    // Right after "Fast serial flashing", whose rate the first is.
    int at = 0;
    while (at < GetMenuItemCount(window) && GetMenuItemID(window, at) != IDM_FAST_FLASHING) ++at;
    InsertMenuA(window, static_cast<UINT>(at + 1), MF_BYPOSITION | MF_POPUP | MF_STRING,
                reinterpret_cast<UINT_PTR>(rates), kFastRateMenu);
    InsertMenuA(window, static_cast<UINT>(at + 2), MF_BYPOSITION | MF_POPUP | MF_STRING,
                reinterpret_cast<UINT_PTR>(timeouts), kStatusTimeoutMenu);
}

void CSealbenchDlg::OnRateChosen(int rate) {
    page_->SetFastBaud(rate);
    const int index =
        static_cast<int>(std::find(std::begin(bootwire::kStreamRates), std::end(bootwire::kStreamRates), rate) -
                         std::begin(bootwire::kStreamRates));
    CheckMenuRadioItem(rateMenu_, IDM_FAST_RATE, IDM_FAST_RATE + kRateCount - 1, IDM_FAST_RATE + index, MF_BYCOMMAND);
}

void CSealbenchDlg::OnStatusTimeoutChosen(int index) {
    page_->SetStatusTimeout(std::chrono::seconds(kStatusTimeoutChoices[index]));
    CheckMenuRadioItem(timeoutMenu_, IDM_STATUS_TIMEOUT, IDM_STATUS_TIMEOUT + kTimeoutCount - 1,
                       IDM_STATUS_TIMEOUT + index, MF_BYCOMMAND);
}

void CSealbenchDlg::OnErase() {
    if (ShowMessage(hwnd(), kEraseQuestion, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES) page_->Erase();
}

void CSealbenchDlg::OnFlashLayout() {
    // A chosen layout is checked; choosing the item again drops it.
    const std::string path =
        page_->Layout().empty()
            ? ChooseFile(hwnd(), "Please select the Flash Layout:", "Layout files(*.toml)|*.toml|All Files(*.*)|*.*||")
            : std::string();
    page_->SetLayout(path);
    ModifyMenuA(GetMenu(hwnd()), IDM_FLASH_LAYOUT,
                MF_BYCOMMAND | MF_STRING | (path.empty() ? MF_UNCHECKED : MF_CHECKED), IDM_FLASH_LAYOUT,
                LayoutCaption(path).c_str());
}

void CSealbenchDlg::RefreshPorts() {
    const HWND list = Item(IDC_PORT_LIST);
    const int selected = static_cast<int>(SendMessageA(list, CB_GETCURSEL, 0, 0));
    const std::string chosen = selected >= 0 ? ComboText(list, selected) : std::string();
    const std::string typed = WindowText(list);  // emptied with the list
    std::vector<std::string> names{"", "COM1", "COM2", "COM3", "COM4", "COM5", "COM6"};
    std::vector<std::string> found;
    for (const bootwire::PortInfo& port : bootwire::ListSerialPorts()) found.push_back(port.name);
    found.insert(found.end(), typedPorts_.begin(), typedPorts_.end());
    for (const std::string& name : found) {
        if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
    }
    SendMessageA(list, CB_RESETCONTENT, 0, 0);
    for (const std::string& name : names) SendMessageA(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
    if (selected >= 0) {
        const int again = FindExact(list, chosen);
        SelectPortEntry(again < 0 ? 0 : again);
        // The chosen port stays the one runs use; its index follows it in the new list.
        if (again >= 0 && portIndex_ > 0) portIndex_ = again;
    }
    if (!typed.empty() && typed != chosen) SetWindowTextA(list, typed.c_str());
}

void CSealbenchDlg::SelectPortEntry(int index) {
    SendMessageA(Item(IDC_PORT_LIST), CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

bool CSealbenchDlg::OnSerialPortChanged(int index) {
    if (index < 0) {
        SelectPortEntry(0);
        return false;
    }
    const PortChoice choice = ChoosePort(index, page_->Processor());
    if (!choice.open) {
        if (!choice.message.empty()) ShowMessage(hwnd(), choice.message, MB_OK | MB_ICONWARNING);
        SelectPortEntry(0);
        return false;
    }
    portIndex_ = index;
    const std::string text = ComboText(Item(IDC_PORT_LIST), index);
    const WindowOpen opened = board_.Open(SerialBoard(text), page_->Processor());
    if (!opened.ok) {
        ShowMessage(hwnd(), "Cannot Open " + text + (opened.reason.empty() ? "" : "\n" + opened.reason),
                    MB_OK | MB_ICONWARNING);
        SelectPortEntry(0);
        return false;
    }
    if (!opened.notice.empty()) page_->Diagnostic(opened.notice);
    return true;
}

void CSealbenchDlg::OnPortTyped() {
    const HWND list = Item(IDC_PORT_LIST);
    const std::string text = Trimmed(WindowText(list));
    if (text.empty()) return;
    if (const int index = FindExact(list, text); index >= 0) {
        // The entry chosen already is open (or was refused) as it was chosen.
        if (index == static_cast<int>(SendMessageA(list, CB_GETCURSEL, 0, 0))) return;
        SelectPortEntry(index);
        OnSerialPortChanged(index);
        return;
    }
    typedPorts_.push_back(text);
    RefreshPorts();
    const int added = FindExact(list, text);
    SelectPortEntry(added);
    if (!OnSerialPortChanged(added)) {
        // A port that could not be opened does not stay in the list.
        typedPorts_.pop_back();
        RefreshPorts();
    }
}

void CSealbenchDlg::OnTypeChanged() {
    const int index = static_cast<int>(SendMessageA(Item(IDC_TYPE_LIST), CB_GETCURSEL, 0, 0));
    if (index >= 0) page_->SelectProcessor(index);
}

void CSealbenchDlg::OnUsbClicked() {
    BoardAddress usb = UsbBoard();
    usb.firstOfSeveral = true;
    const WindowOpen opened = board_.Open(usb, page_->Processor());
    usb_ = opened.ok;
    if (usb_) {
        // From here on the channel is USB until the program ends.
        if (!opened.notice.empty()) page_->Diagnostic(opened.notice);
        EnableItem(hwnd(), IDC_PORT_LIST, false);
        EnableItem(hwnd(), IDC_USB, false);
        SetChecked(hwnd(), IDC_USB, true);
    } else {
        SetChecked(hwnd(), IDC_USB, false);
        ShowMessage(hwnd(), std::string(kNoUsbMessage) + (opened.reason.empty() ? "" : "\n" + opened.reason),
                    MB_OK | MB_ICONWARNING);
    }
}

bool CSealbenchDlg::RunInProgress() const { return page_->Busy() || (boards_ != nullptr && boards_->Running()); }

void CSealbenchDlg::UpdateChoices() {
    // A run keeps its board: no choice may close the link under it.
    const bool busy = RunInProgress();
    EnableItem(hwnd(), IDC_PORT_LIST, !busy && !usb_);
    EnableItem(hwnd(), IDC_USB, !busy && !usb_);
    EnableItem(hwnd(), IDC_TYPE_LIST, !busy);
}

void CSealbenchDlg::OnAbout() {
    CAboutDlg about;
    about.RunModal(hwnd());
}

void CSealbenchDlg::OpenBoardsPage() {
    int index = tabs_.GetPageIndex(kBoardsPageId);
    if (index < 0) {
        CBoardsPage::WindowSide side;
        side.settings = [this] { return page_->CurrentSettings(); };
        side.downloadBusy = [this] { return page_->Busy(); };
        side.release = [this](const std::vector<BoardAddress>& boards) { board_.ReleaseFor(boards, usb_, session_); };
        side.restore = [this] { board_.Restore(page_->Processor()); };
        side.runningChanged = [this](bool) { UpdateChoices(); };
        auto boards = std::make_unique<CBoardsPage>(std::move(side));
        boards_ = boards.get();
        index = tabs_.AddPage("Boards", kBoardsPageId, std::move(boards));
    }
    tabs_.ActivatePage(index);
}

void CSealbenchDlg::RequestClose(int result) {
    // Enter in the port entry confirms the port typed there; the dialog takes it for its OK.
    const HWND focus = GetFocus();
    if (result == IDOK && focus != nullptr && IsChild(Item(IDC_PORT_LIST), focus) &&
        !Trimmed(WindowText(Item(IDC_PORT_LIST))).empty()) {
        OnPortTyped();
        return;
    }
    if (RunInProgress()) {
        if (ShowMessage(hwnd(), kStopAndClose, MB_YESNO | MB_ICONQUESTION) != IDYES) return;
        EnableWindow(hwnd(), FALSE);
        if (boards_ != nullptr) boards_->StopAll();
        page_->StopForClose(kStopLimit);
    }
    EndPage(result);
}

void CSealbenchDlg::Layout() {
    RECT client;
    GetClientRect(hwnd(), &client);
    RECT tab;
    GetWindowRect(Item(IDC_TAB_HOST), &tab);
    MapWindowPoints(nullptr, hwnd(), reinterpret_cast<POINT*>(&tab), 2);
    const int margin = tab.left;
    SetWindowPos(Item(IDC_TAB_HOST), nullptr, margin, tab.top, std::max<LONG>(client.right - 2 * margin, 0),
                 std::max<LONG>(client.bottom - tab.top - margin, 0), SWP_NOZORDER | SWP_NOACTIVATE);
    tabs_.PlaceCurrentPage();
}

void CSealbenchDlg::PaintIcon() {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(hwnd(), &paint);
    SendMessageA(hwnd(), WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT client;
    GetClientRect(hwnd(), &client);
    const int x = (client.right - GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (client.bottom - GetSystemMetrics(SM_CYICON) + 1) / 2;
    DrawIcon(dc, x, y, icon_);
    EndPaint(hwnd(), &paint);
}

bool CSealbenchDlg::OnCommand(int id, int code, HWND control) {
    if (id >= IDM_FAST_RATE && id < IDM_FAST_RATE + kRateCount) {
        OnRateChosen(bootwire::kStreamRates[id - IDM_FAST_RATE]);
        return true;
    }
    if (id >= IDM_STATUS_TIMEOUT && id < IDM_STATUS_TIMEOUT + kTimeoutCount) {
        OnStatusTimeoutChosen(id - IDM_STATUS_TIMEOUT);
        return true;
    }
    switch (id) {
        case IDC_PORT_LIST:
            if (code == CBN_DROPDOWN) RefreshPorts();
            if (code == CBN_SELCHANGE)
                OnSerialPortChanged(static_cast<int>(SendMessageA(Item(IDC_PORT_LIST), CB_GETCURSEL, 0, 0)));
            return true;
        case IDC_TYPE_LIST:
            if (code == CBN_SELCHANGE) OnTypeChanged();
            return true;
        case IDC_USB:
            if (code == BN_CLICKED) OnUsbClicked();
            return true;
        case IDOK:
        case IDCANCEL:
        case IDM_CLOSE:
            RequestClose(id == IDOK ? IDOK : IDCANCEL);
            return true;
        case IDM_MINIMIZE:
            ShowWindow(hwnd(), SW_MINIMIZE);
            return true;
        case IDM_MAXIMIZE:
            ShowWindow(hwnd(), IsZoomed(hwnd()) ? SW_RESTORE : SW_MAXIMIZE);
            return true;
        case IDM_BOARDS:
            OpenBoardsPage();
            return true;
        case IDM_FAST_FLASHING: {
            const bool on = !page_->FastSerialFlashing();
            page_->SetFastSerialFlashing(on);
            CheckMenuItem(GetMenu(hwnd()), IDM_FAST_FLASHING, MF_BYCOMMAND | (on ? MF_CHECKED : MF_UNCHECKED));
            return true;
        }
        case IDM_VERIFY:
            page_->Verify();
            return true;
        case IDM_ERASE:
            OnErase();
            return true;
        case IDM_FLASH_LAYOUT:
            OnFlashLayout();
            return true;
        case IDM_ABOUT:
            OnAbout();
            return true;
        default:
            return CPageDialog::OnCommand(id, code, control);
    }
}

bool CSealbenchDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR* result) {
    switch (message) {
        case WM_SYSCOMMAND:
            // Commands 0x10 to 0x1F are all the about item.
            if ((wParam & 0xFFF0) != IDM_ABOUTBOX) return false;
            OnAbout();
            break;
        case WM_SIZE:
            Layout();
            break;
        case WM_NOTIFY:
            if (reinterpret_cast<const NMHDR*>(lParam)->idFrom != IDC_TAB_HOST) return false;
            tabs_.OnNotify(*reinterpret_cast<const NMHDR*>(lParam));
            break;
        case WM_PAINT:
            if (!IsIconic(hwnd())) return false;
            PaintIcon();
            break;
        case WM_QUERYDRAGICON:
            *result = reinterpret_cast<INT_PTR>(icon_);
            return true;
        default:
            return false;
    }
    *result = TRUE;
    return true;
}

}  // namespace sealbench::win32
