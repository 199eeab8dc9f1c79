// The Win32 window through its own controls, as a user's clicks drive it: the
// initial state, the enable and check rules, the checks of "Execute" and the
// messages of the choices, a full FLASHING run to the virtual board over a COM port,
// closing the window during a run, the Window menu's fast flashing rate, status
// timeout, Verify and Erase, a typed port, the tab host's focus and the Boards page
// with its station mode.
//
// tests/windows/run.sh starts the virtual boards and names them: SEALBENCH_TEST_COM
// (a board for the flashing run, whose flash run.sh compares with
// SEALBENCH_TEST_IMAGE), SEALBENCH_TEST_PACED_COM (a board at the real line's speed),
// SEALBENCH_TEST_RANGES_COM (a board whose flash the Window menu erases and a station
// flashes).
#include <windows.h>
// After windows.h, which they build on.
#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "app/win32/boards_page.h"
#include "app/win32/file_pages.h"
#include "app/win32/sealbench_dlg.h"
#include "app/win32/sealbench_ids.h"
#include "download/page/page_model.h"
#include "download/win32/page_debug_ids.h"
#include "grid/win32/grid_ctrl.h"
#include "hwc/win32/page_hwc.h"
#include "hwc/win32/page_hwc_ids.h"
#include "tests/win32/window_driver.h"

namespace sealbench::test {
namespace {

using namespace std::chrono_literals;
using win32::CSealbenchDlg;

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr ? std::string() : value;
}

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        window_ = std::make_unique<CSealbenchDlg>(win32::FilePages());
        main_ = window_->Create(nullptr);
        ASSERT_NE(main_, nullptr);
        ShowWindow(main_, SW_SHOW);
        page_ = window_->DownloadPage()->hwnd();
    }
    void TearDown() override {
        if (IsWindow(main_)) DestroyWindow(main_);
        window_.reset();
    }

    bool Idle(std::chrono::milliseconds limit = 60s) {
        return PumpUntil([this] { return !window_->DownloadPage()->Busy(); }, limit);
    }
    void Execute() {
        Click(page_, IDC_EXECUTE);
        ASSERT_TRUE(Idle());
    }
    // The status log's lines.
    std::vector<std::string> Log() {
        std::vector<std::string> lines;
        std::string text = Text(page_, IDC_STATUS_LOG);
        size_t start = 0;
        for (size_t end = text.find("\r\n"); end != std::string::npos; end = text.find("\r\n", start)) {
            lines.push_back(text.substr(start, end - start));
            start = end + 2;
        }
        if (start < text.size()) lines.push_back(text.substr(start));
        return lines;
    }
    void ChoosePort(const std::string& name) {
        const int entry = FindEntry(main_, IDC_PORT_LIST, name);
        ASSERT_GE(entry, 0) << name << " is not in \"Serial Port:\"";
        Choose(main_, IDC_PORT_LIST, entry);
    }
    void PrepareFlashing(const std::string& port, const std::string& image) {
        Choose(main_, IDC_TYPE_LIST, 2);  // VireoC_TO2
        ChoosePort(port);
        ASSERT_EQ(SendDlgItemMessageA(main_, IDC_PORT_LIST, CB_GETCURSEL, 0, 0), FindEntry(main_, IDC_PORT_LIST, port));
        Click(page_, IDC_FLASHING);
        Type(page_, IDC_IMAGE, image);
    }

    std::unique_ptr<CSealbenchDlg> window_;
    HWND main_ = nullptr;
    HWND page_ = nullptr;
};

TEST_F(WindowTest, OpensInTheSpecifiedInitialState) {
    char title[64] = {};
    GetWindowTextA(main_, title, sizeof title);
    EXPECT_STREQ(title, "Sealbench");
    std::string label;
    ASSERT_EQ(window_->TabHost().GetPageCount(), 1);
    ASSERT_TRUE(window_->TabHost().GetPageLabel(0, &label));
    EXPECT_EQ(label, "Download");
    // The four pages and the two placeholders: constructed, never shown.
    for (const auto& unshown : window_->UnshownPages()) EXPECT_EQ(unshown->hwnd(), nullptr);
    EXPECT_EQ(window_->UnshownPages().size(), 6u);

    // The empty entry and COM1 to COM6, with the ports the system lists, each once, sorted.
    const std::vector<std::string> ports = Entries(main_, IDC_PORT_LIST);
    ASSERT_FALSE(ports.empty());
    EXPECT_EQ(ports.front(), "");
    for (const char* port : {"COM1", "COM2", "COM3", "COM4", "COM5", "COM6"})
        EXPECT_EQ(std::count(ports.begin(), ports.end(), port), 1) << port;
    EXPECT_TRUE(std::adjacent_find(ports.begin(), ports.end()) == ports.end());
    EXPECT_EQ(Entries(main_, IDC_TYPE_LIST), (std::vector<std::string>{"VireoB", "VireoC_TO1", "VireoC_TO2"}));
    EXPECT_EQ(SendDlgItemMessageA(main_, IDC_PORT_LIST, CB_GETCURSEL, 0, 0), CB_ERR);
    EXPECT_EQ(SendDlgItemMessageA(main_, IDC_TYPE_LIST, CB_GETCURSEL, 0, 0), CB_ERR);
    EXPECT_FALSE(Checked(main_, IDC_USB));
    EXPECT_TRUE(Enabled(main_, IDC_USB));
    EXPECT_FALSE(Visible(main_, IDOK));
    EXPECT_FALSE(Visible(main_, IDCANCEL));

    HMENU system = GetSystemMenu(main_, FALSE);
    const int last = GetMenuItemCount(system) - 1;
    char item[64] = {};
    GetMenuStringA(system, static_cast<UINT>(last), item, sizeof item, MF_BYPOSITION);
    EXPECT_STREQ(item, "&About VireoB_Sealbench...");
    EXPECT_EQ(GetMenuItemID(system, last), static_cast<UINT>(IDM_ABOUTBOX));
    MENUITEMINFOA separator{};
    separator.cbSize = sizeof separator;
    separator.fMask = MIIM_FTYPE;
    GetMenuItemInfoA(system, static_cast<UINT>(last - 1), TRUE, &separator);
    EXPECT_TRUE(separator.fType & MFT_SEPARATOR);

    EXPECT_TRUE(Checked(page_, IDC_DOWNLOAD_ONLY));
    EXPECT_FALSE(Checked(page_, IDC_FLASHING));
    EXPECT_TRUE(Checked(page_, IDC_DDR));
    EXPECT_TRUE(Checked(page_, IDC_DEFAULT_BOX));
    EXPECT_EQ(Text(page_, IDC_DEFAULT_BOX), "RAM Appl Start at 0x80004000");
    EXPECT_EQ(Text(page_, IDC_ADDRESS_LABEL), "RAM Appl Start at 0x");
    EXPECT_EQ(Text(page_, IDC_FLASH_TYPE), "NOR (S71WS256ND0)");
    EXPECT_EQ(Text(page_, IDC_PROGRESS_LABEL), "Status:");
    for (int id : {IDC_FLASH_TYPE, IDC_ADDRESS, IDC_PARTITION, IDC_FLASH_LIB, IDC_FLASH_LIB_BROWSE, IDC_MEM_INIT_FILE,
                   IDC_MEM_INIT_BROWSE})
        EXPECT_FALSE(Enabled(page_, id)) << id;
    // The debug controls are part of the page, made without the visible style.
    for (int id : {IDC_READ_ADDRESS, IDC_READ_LABEL, IDC_READ, IDC_SEKUREL, IDC_MEM_INIT, IDC_DEBUG_FRAME}) {
        EXPECT_NE(GetDlgItem(page_, id), nullptr) << id;
        EXPECT_FALSE(Visible(page_, id)) << id;
    }
    EXPECT_EQ(Text(page_, IDC_SEKUREL), "Check Sekurel Status");
    EXPECT_EQ(Text(page_, IDC_MEM_INIT), "Mem Init?");
    EXPECT_EQ(Text(page_, IDC_DEBUG_FRAME), "For debug only on development or Sekurel disable type silicon");

    // The manifest brings in the common controls of version 6.
    ACTCTX_SECTION_KEYED_DATA redirect{};
    redirect.cbSize = sizeof redirect;
    ASSERT_TRUE(
        FindActCtxSectionStringA(0, nullptr, ACTIVATION_CONTEXT_SECTION_DLL_REDIRECTION, "comctl32.dll", &redirect));
    char path[MAX_PATH] = {};
    GetModuleFileNameA(GetModuleHandleA("comctl32.dll"), path, sizeof path);
    EXPECT_NE(std::string(path).find("6.0."), std::string::npos) << path;
}

TEST_F(WindowTest, FlashingAndFlashTypeEnableAndCaptionTheControls) {
    Choose(main_, IDC_TYPE_LIST, 2);
    Click(page_, IDC_FLASHING);
    EXPECT_FALSE(Checked(page_, IDC_DOWNLOAD_ONLY));
    EXPECT_TRUE(Checked(page_, IDC_FLASHING));
    EXPECT_TRUE(Enabled(page_, IDC_FLASH_TYPE));
    EXPECT_EQ(Text(page_, IDC_DEFAULT_BOX), "Flash Start at 0xA0000000");
    EXPECT_EQ(Text(page_, IDC_ADDRESS_LABEL), "Flash Start at 0x");

    struct Case {
        int index;
        const char* caption;
        const char* label;
        bool defaultBox, defaultEnabled, address, flashLib, partition;
    };
    const Case cases[] = {
        {2, "NO default!", "Flash Start at 0x", false, false, true, true, false},
        {1, "Flash offset 0x00000000", "Flash offset 0x", true, true, false, false, true},
        {0, "Flash Start at 0xA0000000", "Flash Start at 0x", true, true, false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.caption);
        Choose(page_, IDC_FLASH_TYPE, c.index);
        EXPECT_EQ(Text(page_, IDC_DEFAULT_BOX), c.caption);
        EXPECT_EQ(Text(page_, IDC_ADDRESS_LABEL), c.label);
        EXPECT_EQ(Checked(page_, IDC_DEFAULT_BOX), c.defaultBox);
        EXPECT_EQ(Enabled(page_, IDC_DEFAULT_BOX), c.defaultEnabled);
        EXPECT_EQ(Enabled(page_, IDC_ADDRESS), c.address);
        EXPECT_EQ(Enabled(page_, IDC_FLASH_LIB), c.flashLib);
        EXPECT_EQ(Enabled(page_, IDC_FLASH_LIB_BROWSE), c.flashLib);
        EXPECT_EQ(Enabled(page_, IDC_PARTITION), c.partition);
    }
    // "with CSF HWC" on NOR locks the address, also once the default box is unchecked.
    Click(page_, IDC_SECURE);
    Click(page_, IDC_DEFAULT_BOX);
    EXPECT_FALSE(Enabled(page_, IDC_ADDRESS));
    // The memory-init boxes exclude each other; the script field opens when neither is ticked.
    Click(page_, IDC_SDRAM);
    EXPECT_FALSE(Checked(page_, IDC_DDR));
    Click(page_, IDC_SDRAM);
    EXPECT_TRUE(Enabled(page_, IDC_MEM_INIT_FILE));
    Choose(main_, IDC_TYPE_LIST, 0);  // VireoB has no SDRAM preset
    EXPECT_FALSE(Enabled(page_, IDC_SDRAM));
}

TEST_F(WindowTest, ExecuteAndTheChoicesReportTheSpecifiedMessages) {
    Execute();
    EXPECT_EQ(Log(), (std::vector<std::string>{"Please select the Vireo version!"}));

    {
        MessageBoxAnswer answer(IDOK);
        Choose(main_, IDC_PORT_LIST, 3);
        EXPECT_EQ(answer.Text(), "Please select the Vireo version");
    }
    EXPECT_EQ(SendDlgItemMessageA(main_, IDC_PORT_LIST, CB_GETCURSEL, 0, 0), 0);

    Choose(main_, IDC_TYPE_LIST, 0);
    Click(page_, IDC_FLASHING);
    Choose(page_, IDC_FLASH_TYPE, 1);
    Execute();
    EXPECT_EQ(Log().back(), "VireoB not support NAND flash yet!");

    Choose(main_, IDC_TYPE_LIST, 2);
    Choose(page_, IDC_FLASH_TYPE, 0);
    Execute();
    const std::vector<std::string> log = Log();
    ASSERT_GE(log.size(), 4u);
    EXPECT_EQ(log[log.size() - 2], "VireoC Sealbench ver 1.3s");
    EXPECT_EQ(log.back(), "Error! - Please select the Com port");

    {
        // The empty entry names no port: the specified message, then why.
        MessageBoxAnswer answer(IDOK);
        Choose(main_, IDC_PORT_LIST, 0);
        const std::string text = answer.Text();
        EXPECT_EQ(text.substr(0, text.find('\n')), "Cannot Open ");
        EXPECT_GT(text.size(), text.find('\n') + 1) << "no reason on the second line";
    }
    {
        MessageBoxAnswer answer(IDOK);
        Click(main_, IDC_USB);
        const std::string text = answer.Text();
        EXPECT_EQ(text.rfind("No USB detected!\nPlease check your USB connection and Try again\n", 0), 0u) << text;
        EXPECT_FALSE(Checked(main_, IDC_USB));
    }
}

TEST_F(WindowTest, FlashesTheVirtualBoardOverItsComPort) {
    const std::string com = Env("SEALBENCH_TEST_COM");
    const std::string image = Env("SEALBENCH_TEST_IMAGE");
    ASSERT_FALSE(com.empty() || image.empty()) << "run by tests/windows/run.sh, which starts the board";
    ASSERT_NO_FATAL_FAILURE(PrepareFlashing("COM" + com, image));
    TextRecorder captions(GetDlgItem(page_, IDC_PROGRESS_LABEL));
    Click(page_, IDC_EXECUTE);
    // A run keeps its board: the choices stay locked until it ends.
    ASSERT_TRUE(PumpUntil([&] { return captions.Saw("Downloading:"); }, 60s)) << Text(page_, IDC_STATUS_LOG);
    EXPECT_FALSE(Enabled(main_, IDC_PORT_LIST));
    EXPECT_FALSE(Enabled(main_, IDC_USB));
    EXPECT_FALSE(Enabled(main_, IDC_TYPE_LIST));
    EXPECT_FALSE(Enabled(page_, IDC_EXECUTE));
    ASSERT_TRUE(Idle(120s));
    EXPECT_TRUE(Enabled(main_, IDC_PORT_LIST));
    EXPECT_TRUE(Enabled(main_, IDC_TYPE_LIST));

    const std::vector<std::string> log = Log();
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log[0], "VireoC Sealbench ver 1.3s");
    EXPECT_EQ(log[1], "UART is using");
    EXPECT_EQ(log.back(), "Flashing Completed");
    // The label showed the run's stages, download first. A fast board may finish a
    // flash stage between two status polls, so only the first two are sure to show.
    const std::vector<std::string> stages{
        "Downloading:", "Start Flashing:", "Flash Erase:", "Flash Program:", "Flash Verify:"};
    std::vector<std::string> seen;
    for (const std::string& caption : captions.Texts())  // "Execute" first puts back "Status:"
        if (caption != "Status:" && (seen.empty() || seen.back() != caption)) seen.push_back(caption);
    ASSERT_GE(seen.size(), 2u);
    EXPECT_EQ(seen[0], "Downloading:");
    EXPECT_EQ(seen[1], "Start Flashing:");
    std::string shown;
    for (const std::string& caption : seen) shown += caption + " ";
    auto at = stages.begin();
    for (const std::string& caption : seen) {
        at = std::find(at, stages.end(), caption);
        EXPECT_NE(at, stages.end()) << shown;
    }
}

TEST_F(WindowTest, ClosingDuringARunAsksThenStopsTheRun) {
    const std::string com = Env("SEALBENCH_TEST_PACED_COM");
    const std::string image = Env("SEALBENCH_TEST_IMAGE");
    ASSERT_FALSE(com.empty() || image.empty()) << "run by tests/windows/run.sh, which starts the board";
    ASSERT_NO_FATAL_FAILURE(PrepareFlashing("COM" + com, image));
    TextRecorder captions(GetDlgItem(page_, IDC_PROGRESS_LABEL));
    TextRecorder log(GetDlgItem(page_, IDC_STATUS_LOG));
    Click(page_, IDC_EXECUTE);
    ASSERT_TRUE(PumpUntil([&] { return captions.Saw("Downloading:"); }, 60s)) << Text(page_, IDC_STATUS_LOG);
    {
        // Esc, Enter and the close box are the dialog's Cancel and OK.
        MessageBoxAnswer answer(IDNO);
        SendMessageA(main_, WM_COMMAND, IDCANCEL, 0);
        EXPECT_EQ(answer.Text(), "A run is in progress.\nStop it and close Sealbench?");
    }
    EXPECT_TRUE(IsWindow(main_));
    EXPECT_TRUE(window_->DownloadPage()->Busy());
    {
        MessageBoxAnswer answer(IDYES);
        SendMessageA(main_, WM_COMMAND, IDOK, 0);
        EXPECT_FALSE(answer.Text().empty());
    }
    EXPECT_FALSE(IsWindow(main_));
    EXPECT_TRUE(log.Saw("stopped")) << "the log does not say the run was stopped";
    EXPECT_FALSE(log.Saw("Flashing Completed"));
}

TEST_F(WindowTest, TheFastFlashingRateIsAMenuChoiceTheRunTakes) {
    const HMENU menu = GetSubMenu(GetMenu(main_), 0);
    int fast = 0;
    while (fast < GetMenuItemCount(menu) && GetMenuItemID(menu, fast) != IDM_FAST_FLASHING) ++fast;
    char text[64] = {};
    GetMenuStringA(menu, static_cast<UINT>(fast + 1), text, sizeof text, MF_BYPOSITION);
    EXPECT_STREQ(text, "Fast serial flashing rate");
    const HMENU rates = GetSubMenu(menu, fast + 1);
    ASSERT_NE(rates, nullptr);
    auto shown = [&] {
        std::vector<std::string> items;
        for (int i = 0; i < GetMenuItemCount(rates); ++i) {
            GetMenuStringA(rates, static_cast<UINT>(i), text, sizeof text, MF_BYPOSITION);
            const bool checked = (GetMenuState(rates, static_cast<UINT>(i), MF_BYPOSITION) & MF_CHECKED) != 0;
            items.push_back(std::string(checked ? "*" : "") + text);
        }
        return items;
    };
    EXPECT_EQ(shown(), (std::vector<std::string>{"*921600 baud", "460800 baud", "230400 baud", "115200 baud"}));
    SendMessageA(main_, WM_COMMAND, IDM_FAST_RATE + 1, 0);  // as choosing the item sends it
    SendMessageA(main_, WM_COMMAND, IDM_FAST_FLASHING, 0);
    EXPECT_EQ(shown(), (std::vector<std::string>{"921600 baud", "*460800 baud", "230400 baud", "115200 baud"}));
    const RunSettings settings = window_->DownloadPage()->CurrentSettings();
    EXPECT_TRUE(settings.fastSerial);
    EXPECT_EQ(settings.fastBaud, 460800);
    EXPECT_NE(settings.rateChoice.find("Fast serial flashing rate"), std::string::npos) << settings.rateChoice;
}

TEST_F(WindowTest, TheStatusTimeoutVerifyAndEraseAreWindowMenuChoices) {
    const std::string com = Env("SEALBENCH_TEST_RANGES_COM");
    const std::string image = Env("SEALBENCH_TEST_IMAGE");
    ASSERT_FALSE(com.empty() || image.empty()) << "run by tests/windows/run.sh, which starts the board";
    const HMENU menu = GetSubMenu(GetMenu(main_), 0);
    int fast = 0;
    while (fast < GetMenuItemCount(menu) && GetMenuItemID(menu, fast) != IDM_FAST_FLASHING) ++fast;
    char text[64] = {};
    GetMenuStringA(menu, static_cast<UINT>(fast + 2), text, sizeof text, MF_BYPOSITION);
    EXPECT_STREQ(text, "Flash library status timeout");
    const HMENU timeouts = GetSubMenu(menu, fast + 2);
    ASSERT_NE(timeouts, nullptr);
    EXPECT_NE(GetMenuState(timeouts, 0, MF_BYPOSITION) & MF_CHECKED, 0u);
    SendMessageA(main_, WM_COMMAND, IDM_STATUS_TIMEOUT + 2, 0);  // 5 min
    EXPECT_NE(GetMenuState(timeouts, 2, MF_BYPOSITION) & MF_CHECKED, 0u);
    EXPECT_EQ(GetMenuState(timeouts, 0, MF_BYPOSITION) & MF_CHECKED, 0u);
    EXPECT_EQ(window_->DownloadPage()->CurrentSettings().statusSilenceLimit, 300s);

    ASSERT_NO_FATAL_FAILURE(PrepareFlashing("COM" + com, image));
    {
        MessageBoxAnswer answer(IDNO);
        SendMessageA(main_, WM_COMMAND, IDM_ERASE, 0);
        EXPECT_EQ(answer.Text(), kEraseQuestion);
    }
    EXPECT_FALSE(window_->DownloadPage()->Busy()) << "No erases nothing";
    {
        MessageBoxAnswer answer(IDYES);
        SendMessageA(main_, WM_COMMAND, IDM_ERASE, 0);
        EXPECT_FALSE(answer.Text().empty());
    }
    ASSERT_TRUE(Idle(120s));
    std::vector<std::string> log = Log();
    EXPECT_NE(std::find(log.begin(), log.end(), "Erase Completed"), log.end()) << Text(page_, IDC_STATUS_LOG);
    // The erased flash is not the image.
    SendMessageA(main_, WM_COMMAND, IDM_VERIFY, 0);
    ASSERT_TRUE(Idle(120s));
    const std::string shown = Text(page_, IDC_STATUS_LOG);
    EXPECT_NE(shown.find("The flash differs from the image in"), std::string::npos) << shown;
}

TEST_F(WindowTest, EnterInTheTypedPortOpensItOrDropsAPortThatCannotBeOpened) {
    const std::string com = Env("SEALBENCH_TEST_COM");
    ASSERT_FALSE(com.empty()) << "run by tests/windows/run.sh, which starts the board";
    Choose(main_, IDC_TYPE_LIST, 2);
    const HWND entry = GetWindow(GetDlgItem(main_, IDC_PORT_LIST), GW_CHILD);
    const size_t before = Entries(main_, IDC_PORT_LIST).size();
    const std::string nobody = "socket://127.0.0.1:1";
    {
        MessageBoxAnswer answer(IDOK);
        Type(main_, IDC_PORT_LIST, nobody);
        SetFocus(entry);
        SendMessageA(main_, WM_COMMAND, IDOK, 0);  // what Enter in the entry sends
        const std::string text = answer.Text();
        EXPECT_EQ(text.substr(0, text.find('\n')), "Cannot Open " + nobody);
        EXPECT_GT(text.size(), text.find('\n') + 1) << "no reason on the second line";
    }
    EXPECT_TRUE(IsWindow(main_)) << "Enter in the entry closed the window";
    EXPECT_EQ(Entries(main_, IDC_PORT_LIST).size(), before);
    EXPECT_EQ(SendDlgItemMessageA(main_, IDC_PORT_LIST, CB_GETCURSEL, 0, 0), 0);
    EXPECT_EQ(window_->WindowLink(), nullptr);

    // The board's port by its number alone, as no entry shows it: opened and kept.
    Type(main_, IDC_PORT_LIST, com);
    SetFocus(entry);
    SendMessageA(main_, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(IsWindow(main_));
    EXPECT_NE(window_->WindowLink(), nullptr);
    EXPECT_EQ(SendDlgItemMessageA(main_, IDC_PORT_LIST, CB_GETCURSEL, 0, 0), FindEntry(main_, IDC_PORT_LIST, com));
    EXPECT_EQ(Entries(main_, IDC_PORT_LIST).size(), before + 1);
}

TEST_F(WindowTest, TheBoardsPageFlashesATickedBoardWithABarInItsRow) {
    const std::string com = Env("SEALBENCH_TEST_COM");
    const std::string image = Env("SEALBENCH_TEST_IMAGE");
    ASSERT_FALSE(com.empty() || image.empty()) << "run by tests/windows/run.sh, which starts the board";
    // The window holds the port: the Boards run borrows it and gives it back.
    ASSERT_NO_FATAL_FAILURE(PrepareFlashing("COM" + com, image));
    SendMessageA(main_, WM_COMMAND, IDM_BOARDS, 0);
    win32::CBoardsPage* boards = window_->BoardsPage();
    ASSERT_NE(boards, nullptr);
    const HWND page = boards->hwnd();
    const HWND candidates = GetDlgItem(page, IDC_BOARD_CANDIDATES);
    bool ticked = false;
    for (int row = 0; row < ListView_GetItemCount(candidates); ++row) {
        char label[256] = {};
        ListView_GetItemText(candidates, row, 0, label, sizeof label);
        if (std::string(label).rfind("COM" + com + " ", 0) == 0) {
            ListView_SetCheckState(candidates, row, TRUE);
            ticked = true;
        }
    }
    ASSERT_TRUE(ticked) << "COM" << com << " is not among the boards";
    Click(page, IDC_BOARD_FLASH_ALL);
    ASSERT_TRUE(boards->Running());
    EXPECT_FALSE(Enabled(main_, IDC_PORT_LIST));
    EXPECT_FALSE(Enabled(main_, IDC_TYPE_LIST));
    const HWND bar = boards->RowBar(0);
    ASSERT_NE(bar, nullptr);
    char kind[32] = {};
    GetClassNameA(bar, kind, sizeof kind);
    EXPECT_STREQ(kind, PROGRESS_CLASSA);
    ASSERT_TRUE(PumpUntil([&] { return !boards->Running(); }, 120s));
    const HWND table = GetDlgItem(page, IDC_BOARD_TABLE);
    char result[256] = {};
    ListView_GetItemText(table, 0, 5, result, sizeof result);
    EXPECT_STREQ(result, "OK");
    EXPECT_EQ(SendMessageA(bar, PBM_GETPOS, 0, 0), BoardRow::kBarRange);
    EXPECT_TRUE(Enabled(main_, IDC_PORT_LIST));
    EXPECT_NE(window_->WindowLink(), nullptr) << "the window's port was not taken back";
}

TEST_F(WindowTest, TheBoardsPageRunsAStationThatFlashesTheBoardInItsSlot) {
    const std::string com = Env("SEALBENCH_TEST_RANGES_COM");
    const std::string image = Env("SEALBENCH_TEST_IMAGE");
    ASSERT_FALSE(com.empty() || image.empty()) << "run by tests/windows/run.sh, which starts the board";
    Choose(main_, IDC_TYPE_LIST, 2);  // VireoC_TO2
    Click(page_, IDC_FLASHING);
    Type(page_, IDC_IMAGE, image);
    SendMessageA(main_, WM_COMMAND, IDM_BOARDS, 0);
    win32::CBoardsPage* boards = window_->BoardsPage();
    ASSERT_NE(boards, nullptr);
    const HWND page = boards->hwnd();
    const HWND candidates = GetDlgItem(page, IDC_BOARD_CANDIDATES);
    for (int row = 0; row < ListView_GetItemCount(candidates); ++row) {
        char label[256] = {};
        ListView_GetItemText(candidates, row, 0, label, sizeof label);
        if (std::string(label).rfind("COM" + com + " ", 0) == 0) ListView_SetCheckState(candidates, row, TRUE);
    }
    Type(page, IDC_BOARD_IDENTITY, "zz");
    Click(page, IDC_BOARD_STATION);
    EXPECT_FALSE(boards->Running()) << "an identity that does not parse starts no station";
    EXPECT_FALSE(Text(page, IDC_BOARD_MESSAGE).empty());
    Type(page, IDC_BOARD_IDENTITY, "");
    Click(page, IDC_BOARD_STATION);
    ASSERT_TRUE(boards->Running()) << Text(page, IDC_BOARD_MESSAGE);
    EXPECT_FALSE(Enabled(page, IDC_BOARD_FLASH_ALL));
    // The board is in its slot already: it is flashed at once, then waits to be taken out.
    const HWND table = GetDlgItem(page, IDC_BOARD_TABLE);
    auto cell = [&](int column) {
        char text[256] = {};
        ListView_GetItemText(table, 0, column, text, sizeof text);
        return std::string(text);
    };
    ASSERT_TRUE(PumpUntil([&] { return cell(5) == "OK (1 of 1 passed)"; }, 120s))
        << cell(2) << " / " << cell(5) << " / " << Text(page, IDC_BOARD_MESSAGE);
    EXPECT_EQ(cell(0), "COM" + com);
    EXPECT_EQ(SendMessageA(boards->RowBar(0), PBM_GETPOS, 0, 0), BoardRow::kBarRange);
    EXPECT_EQ(Text(page, IDC_BOARD_MESSAGE).rfind("boards: 1, passed: 1, failed: 0, units per hour: ", 0), 0u)
        << Text(page, IDC_BOARD_MESSAGE);
    Click(page, IDC_BOARD_STOP);
    ASSERT_TRUE(PumpUntil([&] { return !boards->Running(); }, 30s));
    EXPECT_TRUE(Enabled(page, IDC_BOARD_STATION));
    EXPECT_TRUE(Enabled(main_, IDC_PORT_LIST));
}

TEST_F(WindowTest, EnterClosesTheIdleWindowAtOnce) {
    SendMessageA(main_, WM_COMMAND, IDOK, 0);
    EXPECT_FALSE(IsWindow(main_));
}

}  // namespace
}  // namespace sealbench::test

namespace sealbench::test {
namespace {

// --all-pages: every page in a tab; the tab control hands the focus it gets to the
// control the shown page had.
TEST(TabHostTest, AllPagesGetTabsAndTheTabControlPassesItsFocusToThePage) {
    win32::CSealbenchDlg window(win32::FilePages(), true);
    const HWND main = window.Create(nullptr);
    ASSERT_NE(main, nullptr);
    ShowWindow(main, SW_SHOW);
    win32::CTabPageCtrl& tabs = window.TabHost();
    std::vector<std::string> labels;
    for (int i = 0; i < tabs.GetPageCount(); ++i) {
        std::string label;
        tabs.GetPageLabel(i, &label);
        labels.push_back(label);
    }
    EXPECT_EQ(labels, (std::vector<std::string>{"Download", "Build", "CSF", "HWC", "Convert"}));
    EXPECT_TRUE(window.UnshownPages().empty());

    ASSERT_EQ(tabs.ActivatePage(1), 1);
    const HWND build = tabs.GetPage(1);
    const HWND first = GetNextDlgTabItem(build, nullptr, FALSE);
    const HWND second = GetNextDlgTabItem(build, first, FALSE);
    ASSERT_NE(second, nullptr);
    SetFocus(second);
    tabs.ActivatePage(0);
    SetFocus(tabs.hwnd());
    EXPECT_TRUE(IsChild(tabs.GetPage(0), GetFocus())) << "the focus stayed on the tab control";
    tabs.ActivatePage(1);
    SetFocus(tabs.hwnd());
    EXPECT_EQ(GetFocus(), second);
    DestroyWindow(main);
}

// The grid's in-place editing, on the HWC page's record grid.
TEST(GridTest, EditsACellInPlaceAndOffersADropDownCell) {
    win32::CSealbenchDlg window;
    const HWND main = window.Create(nullptr);
    ASSERT_NE(main, nullptr);
    win32::CPage_HWC hwc;
    const HWND page = hwc.Create(main);
    ASSERT_NE(page, nullptr);
    Type(page, IDC_HWC_ADDRESS, "1");
    Type(page, IDC_HWC_DATA, "ABC");
    Click(page, IDC_HWC_ADD);
    win32::CGridCtrl& grid = hwc.Grid();
    ASSERT_EQ(grid.GetRowCount(), 2);
    EXPECT_EQ(grid.GetItemText(1, 0), "00000001");
    EXPECT_EQ(grid.GetItemText(1, 1), "00000ABC");

    const HWND list = grid.ListView();
    auto select = [&](int row) {
        ListView_SetItemState(list, row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    };
    select(0);
    SendMessageA(list, WM_CHAR, 'x', 0);
    EXPECT_EQ(grid.Editor(), nullptr) << "the header row is read-only";

    select(1);
    SendMessageA(list, WM_CHAR, '7', 0);  // typing starts the edit with that character
    ASSERT_NE(grid.Editor(), nullptr);
    SendMessageA(grid.Editor(), WM_KEYDOWN, VK_ESCAPE, 0);
    EXPECT_EQ(grid.Editor(), nullptr);
    EXPECT_EQ(grid.GetItemText(1, 0), "00000001") << "Escape restores the old text";
    SendMessageA(list, WM_CHAR, '7', 0);
    ASSERT_NE(grid.Editor(), nullptr);
    SendMessageA(grid.Editor(), WM_CHAR, '2', 0);
    SendMessageA(grid.Editor(), WM_KEYDOWN, VK_RETURN, 0);
    EXPECT_EQ(grid.GetItemText(1, 0), "72") << "Enter stores the text";

    grid.SetComboCell(1, 1, {"img.crt", "csf.crt"}, false);
    ASSERT_TRUE(grid.BeginEdit(1, 1));
    char name[32] = {};
    GetClassNameA(grid.Editor(), name, sizeof name);
    EXPECT_STREQ(name, "ComboBox");
    EXPECT_EQ(SendMessageA(grid.Editor(), CB_GETCOUNT, 0, 0), 2);
    SendMessageA(grid.Editor(), CB_SETCURSEL, 1, 0);
    grid.EndEdit(true);
    EXPECT_EQ(grid.GetItemText(1, 1), "csf.crt");
    DestroyWindow(main);
}

}  // namespace
}  // namespace sealbench::test
