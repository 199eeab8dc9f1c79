#include "download/win32/page_debug.h"

#include <commctrl.h>

#include <algorithm>
#include <limits>

#include "download/plan/presets.h"
#include "download/win32/page_debug_ids.h"
#include "ui/win32/win32_ui.h"

namespace sealbench::win32 {
namespace {

// Sent by the tasks (synchronously, the data on their stack), or posted.
constexpr UINT kLogLineMessage = WM_APP + 1;    // wParam: const std::string*, lParam: line count
constexpr UINT kResetMessage = WM_APP + 2;      // nothing of an earlier run's bar stays
constexpr UINT kRunEndedMessage = WM_APP + 3;   // posted; wParam: success
constexpr UINT kLaunchMessage = WM_APP + 4;     // posted; wParam: whether a run's tasks started
constexpr UINT kFailedBarMessage = WM_APP + 5;  // the bar shows the failure

int ClampToInt(int64_t value) {
    return static_cast<int>(std::clamp<int64_t>(value, 0, std::numeric_limits<int>::max()));
}

std::string WithoutLineEnd(std::string_view text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
    return std::string(text);
}

// Counts a task's write to the controls while it is in flight; none starts once the
// page has let go of its tasks.
class Sending {
public:
    Sending(std::atomic<int>& inFlight, const std::atomic<bool>& detached) : inFlight_(inFlight) {
        ++inFlight_;
        allowed_ = !detached.load();
    }
    ~Sending() { --inFlight_; }
    explicit operator bool() const { return allowed_; }

private:
    std::atomic<int>& inFlight_;
    bool allowed_;
};

}  // namespace

CPage_Debug::CPage_Debug(BoardSource board, Session& session)
    : CPageDialog(IDD_PAGE_DEBUG), board_(std::move(board)), session_(session) {
    runner_ = std::make_unique<Runner>(*this, session_);
}

CPage_Debug::~CPage_Debug() {
    // The launcher and the runner's tasks report to this object: end them while it is whole.
    StopForClose(std::chrono::seconds(30));
    if (launcher_.joinable()) launcher_.join();
    runner_.reset();
}

bool CPage_Debug::OnInitDialog() {
    for (std::string_view name : kFlashTypeNames)
        SendMessageA(Item(IDC_FLASH_TYPE), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(std::string(name).c_str()));
    SendMessageA(Item(IDC_PROGRESS), PBM_SETRANGE32, 0, 100);
    ShowControls();
    return false;
}

void CPage_Debug::InitialState() {
    model_ = PageModel();
    ShowControls();
}

void CPage_Debug::SelectProcessor(int index) {
    ReadFields();
    model_.SelectProcessor(index);
    ShowControls();
}

void CPage_Debug::ShowControls() {
    const HWND page = hwnd();
    const PageControls& c = model_.controls();
    SetChecked(page, IDC_DOWNLOAD_ONLY, c.downloadOnly);
    SetChecked(page, IDC_FLASHING, c.flashing);
    SendMessageA(Item(IDC_FLASH_TYPE), CB_SETCURSEL, static_cast<WPARAM>(c.flashTypeIndex), 0);
    EnableItem(page, IDC_FLASH_TYPE, c.flashTypeEnabled);
    SetItemTextIfChanged(page, IDC_FLASH_LIB, c.flashLibPath);
    EnableItem(page, IDC_FLASH_LIB, c.flashLibEnabled);
    EnableItem(page, IDC_FLASH_LIB_BROWSE, c.flashLibEnabled);

    SetChecked(page, IDC_DDR, c.ddr);
    SetChecked(page, IDC_SDRAM, c.sdram);
    EnableItem(page, IDC_SDRAM, c.sdramEnabled);
    SetItemTextIfChanged(page, IDC_MEM_INIT_FILE, c.memoryInitPath);
    EnableItem(page, IDC_MEM_INIT_FILE, c.memoryInitEnabled);
    EnableItem(page, IDC_MEM_INIT_BROWSE, c.memoryInitEnabled);

    SetChecked(page, IDC_SECURE, c.secure);

    SetChecked(page, IDC_DEFAULT_BOX, c.defaultBox);
    EnableItem(page, IDC_DEFAULT_BOX, c.defaultBoxEnabled);
    SetItemTextIfChanged(page, IDC_DEFAULT_BOX, c.defaultCaption);
    SetItemTextIfChanged(page, IDC_ADDRESS_LABEL, c.addressLabel);
    SetItemTextIfChanged(page, IDC_ADDRESS, c.addressText);
    EnableItem(page, IDC_ADDRESS, c.addressEnabled);
    SetItemTextIfChanged(page, IDC_PARTITION, c.partitionText);
    EnableItem(page, IDC_PARTITION, c.partitionEnabled);
    SetItemTextIfChanged(page, IDC_IMAGE, c.imagePath);
}

void CPage_Debug::ReadFields() {
    PageControls& fields = model_.fields();
    fields.addressText = ItemText(hwnd(), IDC_ADDRESS);
    fields.partitionText = ItemText(hwnd(), IDC_PARTITION);
    fields.imagePath = ItemText(hwnd(), IDC_IMAGE);
    fields.flashLibPath = ItemText(hwnd(), IDC_FLASH_LIB);
    fields.memoryInitPath = ItemText(hwnd(), IDC_MEM_INIT_FILE);
}

RunSettings CPage_Debug::CurrentSettings() {
    ReadFields();
    RunSettings settings = model_.WindowSettings(fastSerial_, fastBaud_);
    settings.statusSilenceLimit = statusTimeout_;
    if (settings.operation == OperationType::Flashing) settings.layoutPath = layoutPath_;
    return settings;
}

bool CPage_Debug::Verify() {
    RunSettings settings = CurrentSettings();
    settings.operation = OperationType::Verify;
    settings.layoutPath.clear();
    return Launch([this, settings, board = board_()] { return runner_->Execute(settings, board); });
}

bool CPage_Debug::Erase() {
    RunSettings settings = CurrentSettings();
    settings.operation = OperationType::Erase;
    settings.layoutPath.clear();
    settings.eraseLengthText.clear();  // where the image would go
    return Launch([this, settings, board = board_()] { return runner_->Execute(settings, board); });
}

bool CPage_Debug::OnCommand(int id, int code, HWND control) {
    switch (id) {
        case IDC_DOWNLOAD_ONLY:
        case IDC_FLASHING:
        case IDC_DEFAULT_BOX:
        case IDC_SECURE:
        case IDC_DDR:
        case IDC_SDRAM:
            if (code == BN_CLICKED) OnClick(id);
            return true;
        case IDC_FLASH_TYPE:
            if (code == CBN_SELCHANGE) {
                ReadFields();
                model_.SelectFlashType(static_cast<int>(SendMessageA(control, CB_GETCURSEL, 0, 0)));
                ShowControls();
            }
            return true;
        case IDC_IMAGE_BROWSE:
        case IDC_FLASH_LIB_BROWSE:
        case IDC_MEM_INIT_BROWSE:
            if (code == BN_CLICKED) OnBrowse(id);
            return true;
        case IDC_EXECUTE:
            if (code == BN_CLICKED) OnExecute();
            return true;
        case IDC_READ:
            if (code == BN_CLICKED) {
                const std::string address = ItemText(hwnd(), IDC_READ_ADDRESS);
                Launch([this, address, board = board_()] {
                    runner_->ReadMemory(board, address);
                    return false;
                });
            }
            return true;
        case IDC_SEKUREL:
            if (code == BN_CLICKED) {
                Launch([this, board = board_()] {
                    runner_->CheckSekurelStatus(board);
                    return false;
                });
            }
            return true;
        case IDC_MEM_INIT:
            if (code == BN_CLICKED) {
                Launch([this, settings = CurrentSettings(), board = board_()] {
                    runner_->MemoryInitAlone(settings, board);
                    return false;
                });
            }
            return true;
        default:
            return CPageDialog::OnCommand(id, code, control);
    }
}

void CPage_Debug::OnClick(int id) {
    ReadFields();
    switch (id) {
        case IDC_DOWNLOAD_ONLY:
            model_.ClickDownloadOnly();
            break;
        case IDC_FLASHING:
            model_.ClickFlashing();
            break;
        case IDC_DEFAULT_BOX:
            model_.ClickDefaultBox();
            break;
        case IDC_SECURE:
            model_.ClickSecure();
            break;
        case IDC_DDR:
            model_.ClickDdr();
            break;
        default:
            model_.ClickSdram();
            break;
    }
    ShowControls();
}

void CPage_Debug::OnBrowse(int id) {
    std::string path;
    if (id == IDC_IMAGE_BROWSE)
        path = ChooseFile(hwnd(), "Please select the Image File:",
                          "bin files(*.bin)|*.bin|nb0 files(*.nb0)|*.nb0|All Files(*.*)|*.*||");
    else if (id == IDC_FLASH_LIB_BROWSE)
        path = ChooseFile(hwnd(), "Please select the Flash Library:", "bin files(*.bin)|*.bin|All Files(*.*)|*.*||");
    else
        path = ChooseFile(hwnd(), "Please select the Init Memory File:", "Txt Files (*.txt)|*.txt||");
    if (path.empty()) return;
    ReadFields();
    if (id == IDC_IMAGE_BROWSE)
        model_.ChooseImage(path);
    else if (id == IDC_FLASH_LIB_BROWSE)
        model_.ChooseFlashLibrary(path);
    else
        model_.ChooseMemoryInitFile(path);
    ShowControls();
}

void CPage_Debug::OnExecute() {
    const RunSettings settings = CurrentSettings();
    Launch([this, settings, board = board_()] { return runner_->Execute(settings, board); });
}

bool CPage_Debug::Launch(std::function<bool()> job) {
    if (busy_ || detached_) return false;
    runEndedSeen_ = false;
    launchDone_ = false;
    SetBusy(true);
    if (launcher_.joinable()) launcher_.join();  // the previous launcher has already reported back
    const HWND page = hwnd();
    launcher_ = std::thread([this, page, job = std::move(job)] {
        const bool started = job();
        launchDone_ = true;
        PostMessageA(page, kLaunchMessage, started ? 1 : 0, 0);
    });
    return true;
}

void CPage_Debug::OnLaunchReturned(bool started) {
    if (!started) runEndedSeen_ = true;  // nothing runs: the checks or a debug button are done
    if (runEndedSeen_) SetBusy(false);
}

void CPage_Debug::OnRunFinished(bool) {
    runEndedSeen_ = true;
    if (launchDone_) SetBusy(false);
}

void CPage_Debug::SetBusy(bool busy) {
    busy_ = busy;
    EnableItem(hwnd(), IDC_EXECUTE, !busy);
    if (busyChanged_) busyChanged_(busy);
}

bool CPage_Debug::StopForClose(std::chrono::milliseconds limit) {
    runner_->Shutdown();
    const bool ended = ServeSentMessagesUntil([this] { return launchDone_ && !runner_->Running(); }, limit);
    detached_ = true;
    // A write that began before the page let go is still waiting for this thread.
    ServeSentMessagesUntil([this] { return inFlight_.load() == 0; }, limit);
    return ended;
}

void CPage_Debug::AppendLogLine(const std::string& line, int lineCount) {
    const HWND log = Item(IDC_STATUS_LOG);
    const int end = GetWindowTextLengthA(log);
    const std::string text = (end > 0 ? "\r\n" : "") + WithCrLf(line);
    SendMessageA(log, EM_SETSEL, static_cast<WPARAM>(end), end);
    SendMessageA(log, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
    // Keeps the newest line in view.
    SendMessageA(log, EM_LINESCROLL, 0, lineCount);
}

bool CPage_Debug::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR* result) {
    switch (message) {
        case kLogLineMessage:
            AppendLogLine(*reinterpret_cast<const std::string*>(wParam), static_cast<int>(lParam));
            break;
        case kResetMessage:
            SetItemText(hwnd(), IDC_PROGRESS_LABEL, "Status:");
            SetItemText(hwnd(), IDC_PROGRESS_TEXT, "");
            SendMessageA(Item(IDC_PROGRESS), PBM_SETSTATE, PBST_NORMAL, 0);
            SendMessageA(Item(IDC_PROGRESS), PBM_SETRANGE32, 0, 100);
            SendMessageA(Item(IDC_PROGRESS), PBM_SETPOS, 0, 0);
            break;
        case kFailedBarMessage:
            SendMessageA(Item(IDC_PROGRESS), PBM_SETSTATE, PBST_ERROR, 0);
            break;
        case kRunEndedMessage:
            OnRunFinished(wParam != 0);
            break;
        case kLaunchMessage:
            OnLaunchReturned(wParam != 0);
            break;
        default:
            return false;
    }
    *result = TRUE;
    return true;
}

void CPage_Debug::AppendLog(std::string_view line, int lineCount) {
    if (Sending sending(inFlight_, detached_); sending) {
        const std::string text = WithoutLineEnd(line);
        SendMessageA(hwnd(), kLogLineMessage, reinterpret_cast<WPARAM>(&text), lineCount);
    }
}

void CPage_Debug::SetProgressRange(int64_t minimum, int64_t maximum) {
    if (Sending sending(inFlight_, detached_); sending)
        SendMessageA(Item(IDC_PROGRESS), PBM_SETRANGE32, static_cast<WPARAM>(ClampToInt(minimum)), ClampToInt(maximum));
}

void CPage_Debug::SetProgressPosition(int64_t position) {
    if (Sending sending(inFlight_, detached_); sending)
        SendMessageA(Item(IDC_PROGRESS), PBM_SETPOS, static_cast<WPARAM>(ClampToInt(position)), 0);
}

void CPage_Debug::SetProgressCaption(std::string_view caption) {
    if (Sending sending(inFlight_, detached_); sending)
        SetDlgItemTextA(hwnd(), IDC_PROGRESS_LABEL, std::string(caption).c_str());
}

void CPage_Debug::SetProgressFigures(const ProgressFigures& figures) {
    if (Sending sending(inFlight_, detached_); sending)
        SetDlgItemTextA(hwnd(), IDC_PROGRESS_TEXT, FiguresText(figures).c_str());
}

void CPage_Debug::ResetProgress() {
    if (Sending sending(inFlight_, detached_); sending) SendMessageA(hwnd(), kResetMessage, 0, 0);
}

void CPage_Debug::Diagnostic(std::string_view text) {
    if (Sending sending(inFlight_, detached_); sending)
        SetDlgItemTextA(hwnd(), IDC_PROGRESS_TEXT, WithoutLineEnd(text).c_str());
}

void CPage_Debug::RunEnded(bool success) {
    if (Sending sending(inFlight_, detached_); sending) {
        if (!success) SendMessageA(hwnd(), kFailedBarMessage, 0, 0);
        PostMessageA(hwnd(), kRunEndedMessage, success ? 1 : 0, 0);
    }
}

}  // namespace sealbench::win32
