// The Win32 build and CSF pages and the "Add blocks" dialog through their own
// controls, on the window they are made for. The open-file dialogs are answered in
// place of the user; the message boxes are the real ones.
#include <windows.h>
// After windows.h, which they build on.
#include <commctrl.h>
#include <gtest/gtest.h>

#include <deque>
#include <memory>

#include "app/win32/sealbench_dlg.h"
#include "csf/win32/page_csf.h"
#include "csf/win32/page_csf_add_block.h"
#include "csf/win32/page_csf_ids.h"
#include "imagebuild/win32/page_build.h"
#include "imagebuild/win32/page_build_ids.h"
#include "tests/files/file_test_support.h"
#include "tests/win32/window_driver.h"

namespace sealbench::test {
namespace {

// Answers the pages' file choosers from queues (an empty text, or list, is Cancel).
struct FakeChoosers {
    std::deque<std::string> files;
    std::deque<std::vector<std::string>> lists;
    std::vector<std::string> titles;
    std::vector<std::string> proposed;

    win32::FileChoosers Choosers() {
        win32::FileChoosers choosers;
        choosers.one = [this](HWND, const std::string& title, const std::string&, const std::string& name, bool) {
            titles.push_back(title);
            proposed.push_back(name);
            std::string answer = files.empty() ? std::string() : files.front();
            if (!files.empty()) files.pop_front();
            return answer;
        };
        choosers.several = [this](HWND, const std::string& title, const std::string&, size_t) {
            titles.push_back(title);
            std::vector<std::string> answer = lists.empty() ? std::vector<std::string>() : lists.front();
            if (!lists.empty()) lists.pop_front();
            return answer;
        };
        return choosers;
    }
};

// What a click shows in its message box, and the box's caption.
struct Shown {
    std::string text;
    std::string caption;
};
Shown ClickAndRead(HWND page, int id) {
    MessageBoxAnswer answer(IDOK);
    Click(page, id);
    Shown shown{answer.Text(), {}};
    shown.caption = answer.Caption();
    return shown;
}

std::vector<std::string> Column(win32::CGridCtrl& grid, int column) {
    std::vector<std::string> texts;
    for (int row = 1; row < grid.GetRowCount(); ++row) texts.push_back(grid.GetItemText(row, column));
    return texts;
}

void SelectRow(win32::CGridCtrl& grid, int row) {
    ListView_SetItemState(grid.ListView(), row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
}

class PageTest : public ::testing::Test {
protected:
    void SetUp() override {
        main_ = window_.Create(nullptr);
        ASSERT_NE(main_, nullptr);
    }
    void TearDown() override { DestroyWindow(main_); }

    win32::CSealbenchDlg window_;
    HWND main_ = nullptr;
    FakeChoosers user_;
    TempDir dir_;
};

class BuildPageTest : public PageTest {
protected:
    void SetUp() override {
        PageTest::SetUp();
        page_.SetFileChoosers(user_.Choosers());
        hwnd_ = page_.Create(main_);
        ASSERT_NE(hwnd_, nullptr);
    }
    win32::CPage_Build page_;
    HWND hwnd_ = nullptr;
};

TEST_F(BuildPageTest, PresetsProfileAndSigningWithTheSelectedEntry) {
    EXPECT_EQ(Text(hwnd_, IDC_BUILD_OS_ADDRESS), "A0004000");
    EXPECT_EQ(Text(hwnd_, IDC_BUILD_CSF_ADDRESS), "A0001200");
    EXPECT_EQ(Text(hwnd_, IDC_BUILD_HWC_ADDRESS), "A0001010");
    for (int id : {IDC_BUILD_OS_ADDRESS, IDC_BUILD_CSF_ADDRESS, IDC_BUILD_HWC_ADDRESS, IDC_BUILD_PROFILE})
        EXPECT_FALSE(Enabled(hwnd_, id)) << id;
    Click(hwnd_, IDC_BUILD_VIREOA);
    EXPECT_EQ(Text(hwnd_, IDC_BUILD_OS_ADDRESS), "C8004000");
    EXPECT_EQ(Text(hwnd_, IDC_BUILD_HWC_ADDRESS), "C8001010");
    Click(hwnd_, IDC_BUILD_VIREOA);
    EXPECT_EQ(Text(hwnd_, IDC_BUILD_CSF_ADDRESS), "A0001200");

    Type(hwnd_, IDC_BUILD_IDENTIFIER, "zeta");
    EXPECT_EQ(ClickAndRead(hwnd_, IDC_BUILD_ADD_PROFILE).text, "Please enable the Profile setting first");
    EXPECT_TRUE(Entries(hwnd_, IDC_BUILD_PROFILE).empty());
    Click(hwnd_, IDC_BUILD_ENABLE_PROFILE);
    EXPECT_TRUE(Enabled(hwnd_, IDC_BUILD_PROFILE));
    for (const char* id : {"beta", "Alpha", "", "beta"}) {
        Type(hwnd_, IDC_BUILD_IDENTIFIER, id);
        Click(hwnd_, IDC_BUILD_ADD_PROFILE);
    }
    EXPECT_EQ(Entries(hwnd_, IDC_BUILD_PROFILE), (std::vector<std::string>{"", "Alpha", "beta", "beta"}));
    EXPECT_EQ(Text(hwnd_, IDC_BUILD_IDENTIFIER), "beta");

    // The stand-in signing tool records its arguments; it sits beside these tests.
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, sizeof self);
    std::string tools(self);
    tools = tools.substr(0, tools.rfind('\\')) + "\\stand-in";
    char path[32767] = {};
    GetEnvironmentVariableA("PATH", path, sizeof path);
    SetEnvironmentVariableA("PATH", (tools + ";" + path).c_str());
    const std::string args = dir_ / "args.bin";
    SetEnvironmentVariableA("SEKUREL_STAND_IN_ARGS", args.c_str());
    SetEnvironmentVariableA("SEKUREL_STAND_IN_OUTPUT", "1");
    const std::string out = dir_ / "out.bin";

    // Text typed into the list's field is no selection: nothing runs.
    SetWindowTextA(GetDlgItem(hwnd_, IDC_BUILD_PROFILE), "typed");
    const Shown refused = ClickAndRead(hwnd_, IDC_BUILD_SIGN);
    EXPECT_EQ(refused.text, "Please select an identifier from the Profile first");
    EXPECT_FALSE(Exists(args));

    SendDlgItemMessageA(hwnd_, IDC_BUILD_PROFILE, CB_SETCURSEL, 1, 0);
    Type(hwnd_, IDC_BUILD_IDENTIFIER, "typed");
    Type(hwnd_, IDC_BUILD_CSF, "d:\\work\\app.csf");
    Type(hwnd_, IDC_BUILD_OUTPUT, out.c_str());
    const Shown signed_ = ClickAndRead(hwnd_, IDC_BUILD_SIGN);
    EXPECT_EQ(signed_.text, "sekurel_build --identifier=Alpha --fmt=BIN --output=CSF_APPL d:\\work\\app.csf " + out);
    EXPECT_EQ(signed_.caption, "Sealbench");
    std::string expected;
    for (const char* arg : {"--identifier=Alpha", "--fmt=BIN", "--output=CSF_APPL", "d:\\work\\app.csf", out.c_str()})
        expected += std::string(arg) + '\0';
    EXPECT_EQ(ReadText(args), expected);
    EXPECT_EQ(ReadText(out), "signed");
    SetEnvironmentVariableA("PATH", path);
    SetEnvironmentVariableA("SEKUREL_STAND_IN_ARGS", nullptr);
    SetEnvironmentVariableA("SEKUREL_STAND_IN_OUTPUT", nullptr);

    Click(hwnd_, IDC_BUILD_ENABLE_PROFILE);
    EXPECT_FALSE(Enabled(hwnd_, IDC_BUILD_PROFILE));
    EXPECT_EQ(Entries(hwnd_, IDC_BUILD_PROFILE).size(), 4u);
}

TEST_F(BuildPageTest, CombineReportsItsChecksAndWritesTheImage) {
    const Shown empty = ClickAndRead(hwnd_, IDC_BUILD_COMBINE);
    EXPECT_EQ(empty.text, "Please Enter target location");
    EXPECT_EQ(empty.caption, "Sealbench");

    WriteBytes(dir_ / "os.bin", std::vector<uint8_t>(0x100, 1));
    WriteBytes(dir_ / "csf.bin", std::vector<uint8_t>(0x10, 2));
    WriteBytes(dir_ / "hwc.bin", std::vector<uint8_t>(0x0C, 3));
    user_.files = {dir_ / "out.bin", dir_ / "os.bin", dir_ / "csf.bin"};
    Click(hwnd_, IDC_BUILD_TARGET_BROWSE);
    Click(hwnd_, IDC_BUILD_OS_BROWSE);
    Click(hwnd_, IDC_BUILD_SIGNED_BROWSE);
    EXPECT_EQ(user_.titles.front(), "Please select the Target output file:");
    EXPECT_EQ(Text(hwnd_, IDC_BUILD_OS), dir_ / "os.bin");
    const Shown failed = ClickAndRead(hwnd_, IDC_BUILD_COMBINE);
    EXPECT_EQ(failed.text.rfind("File Construction Error", 0), 0u) << failed.text;
    EXPECT_EQ(failed.caption, "error");
    EXPECT_FALSE(Exists(dir_ / "out.bin"));

    Type(hwnd_, IDC_BUILD_HWC, dir_ / "hwc.bin");
    EXPECT_EQ(ClickAndRead(hwnd_, IDC_BUILD_COMBINE).text, "Complete!");
    EXPECT_EQ(ReadBytes(dir_ / "out.bin").size(), 0x4100u);
}

class CsfPageTest : public PageTest {
protected:
    void SetUp() override {
        PageTest::SetUp();
        page_.SetFileChoosers(user_.Choosers());
        page_.SetAddBlockDialog([this](HWND) -> std::optional<win32::CPage_CSF::BlockChoice> {
            if (blocks_.empty()) return std::nullopt;
            auto choice = blocks_.front();
            blocks_.pop_front();
            return choice;
        });
        hwnd_ = page_.Create(main_);
        ASSERT_NE(hwnd_, nullptr);
    }
    void AddKeys(const std::vector<std::string>& paths) {
        user_.lists.push_back(paths);
        Click(hwnd_, IDC_CSF_ADD_KEYS);
    }
    void AddBlocks(const std::string& path, const std::string& count) {
        blocks_.push_back({path, count});
        Click(hwnd_, IDC_CSF_ADD_BLOCK);
    }
    // The options a block's Key cell offers, and whether its text can be typed too.
    std::vector<std::string> KeyChoices(int row, bool* typed) {
        win32::CGridCtrl& grid = page_.BlockGrid();
        if (!grid.BeginEdit(row, 4)) return {};
        std::vector<std::string> options;
        for (int i = 0; i < SendMessageA(grid.Editor(), CB_GETCOUNT, 0, 0); ++i) {
            char text[256] = {};
            SendMessageA(grid.Editor(), CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
            options.emplace_back(text);
        }
        *typed = (GetWindowLongA(grid.Editor(), GWL_STYLE) & 3) == CBS_DROPDOWN;
        grid.EndEdit(false);
        return options;
    }

    win32::CPage_CSF page_;
    HWND hwnd_ = nullptr;
    std::deque<win32::CPage_CSF::BlockChoice> blocks_;
};

TEST_F(CsfPageTest, SerialsOnlyGrowAndBlocksOfferTheKeysByName) {
    AddKeys({"E:\\k\\a.crt", "E:\\k\\b.crt"});
    EXPECT_EQ(Column(page_.KeyGrid(), 0), (std::vector<std::string>{"1", "2"}));
    EXPECT_EQ(Column(page_.KeyGrid(), 1), (std::vector<std::string>{"a.crt", "b.crt"}));
    EXPECT_EQ(Column(page_.KeyGrid(), 2), (std::vector<std::string>{"E:\\k\\a.crt", "E:\\k\\b.crt"}));
    EXPECT_EQ(user_.titles.back(), "Please select the CSF Key file (Allow Multiselection):");

    AddBlocks("E:\\img\\app.s19", "3");
    EXPECT_EQ(Column(page_.BlockGrid(), 0), (std::vector<std::string>{"1", "2", "3"}));
    EXPECT_EQ(Column(page_.BlockGrid(), 1), (std::vector<std::string>(3, "app.s19")));
    EXPECT_EQ(Column(page_.BlockGrid(), 2), (std::vector<std::string>(3, "0x")));
    EXPECT_TRUE(page_.BlockGrid().GetItemState(1, 1) & win32::kGridCellReadOnly);
    EXPECT_FALSE(page_.BlockGrid().GetItemState(1, 3) & win32::kGridCellReadOnly);
    bool typed = false;
    EXPECT_EQ(KeyChoices(2, &typed), (std::vector<std::string>{"a.crt", "b.crt"}));
    EXPECT_TRUE(typed);

    // A removed key: the serials stay, the block keeps the name it was given.
    page_.BlockGrid().SetItemText(1, 4, "a.crt");
    SelectRow(page_.KeyGrid(), 1);
    Click(hwnd_, IDC_CSF_REMOVE_KEY);
    EXPECT_EQ(page_.KeyCount(), 1);
    EXPECT_EQ(Column(page_.KeyGrid(), 0), std::vector<std::string>{"2"});
    EXPECT_EQ(page_.BlockGrid().GetItemText(1, 4), "a.crt");
    EXPECT_EQ(KeyChoices(1, &typed), std::vector<std::string>{"b.crt"});
    Click(hwnd_, IDC_CSF_REMOVE_ALL_KEYS);
    AddKeys({"c.crt"});
    EXPECT_EQ(Column(page_.KeyGrid(), 0), std::vector<std::string>{"3"});

    SelectRow(page_.BlockGrid(), 2);
    Click(hwnd_, IDC_CSF_REMOVE_BLOCK);
    EXPECT_EQ(Column(page_.BlockGrid(), 0), (std::vector<std::string>{"1", "3"}));
    Click(hwnd_, IDC_CSF_REMOVE_ALL_BLOCKS);
    AddBlocks("E:\\img\\b.bin", "1");
    EXPECT_EQ(Column(page_.BlockGrid(), 0), std::vector<std::string>{"4"});
    Click(hwnd_, IDC_CSF_ADD_BLOCK);  // the dialog cancelled
    EXPECT_EQ(page_.BlockCount(), 1);
}

TEST_F(CsfPageTest, ExecuteChecksInOrderThenWritesTheWorkedExample) {
    EXPECT_EQ(Text(hwnd_, IDC_CSF_UID), "SEKUREL_GENERIC_UID");
    EXPECT_FALSE(Enabled(hwnd_, IDC_CSF_UID));
    EXPECT_EQ(Entries(hwnd_, IDC_CSF_TYPE), (std::vector<std::string>{"SEKUREL_ENGINEERING", "SEKUREL_PRODUCT"}));
    EXPECT_EQ(Text(hwnd_, IDC_CSF_TYPE), "SEKUREL_ENGINEERING");
    Click(hwnd_, IDC_CSF_USER_DEFINE);
    EXPECT_EQ(Text(hwnd_, IDC_CSF_UID), "0x");
    EXPECT_TRUE(Enabled(hwnd_, IDC_CSF_UID));
    Click(hwnd_, IDC_CSF_USER_DEFINE);
    EXPECT_EQ(Text(hwnd_, IDC_CSF_UID), "SEKUREL_GENERIC_UID");

    EXPECT_EQ(ClickAndRead(hwnd_, IDC_CSF_EXECUTE).text, "Please Enter Code in Definition");
    Type(hwnd_, IDC_CSF_CODE, "0x1");
    EXPECT_EQ(ClickAndRead(hwnd_, IDC_CSF_EXECUTE).text, "Please Super Root in Declaration");
    user_.files = {"E:\\certs\\srk.der", "E:\\certs\\csf.crt"};
    Click(hwnd_, IDC_CSF_SUPER_ROOT_BROWSE);
    Click(hwnd_, IDC_CSF_CSF_KEY_BROWSE);
    EXPECT_EQ(ClickAndRead(hwnd_, IDC_CSF_EXECUTE).text, "No Key Found");
    AddKeys({"E:\\certs\\img.crt"});
    EXPECT_EQ(ClickAndRead(hwnd_, IDC_CSF_EXECUTE).text, "No Block Found");
    AddBlocks("image.bin", "2");
    win32::CGridCtrl& blocks = page_.BlockGrid();
    blocks.SetItemText(1, 2, "0x0");
    blocks.SetItemText(1, 3, "0x400");
    blocks.SetItemText(1, 4, "img.crt");
    blocks.SetItemText(2, 2, "0x1000");
    blocks.SetItemText(2, 3, "0x800");
    blocks.SetItemText(2, 4, "img.crt");

    user_.files = {""};
    Click(hwnd_, IDC_CSF_EXECUTE);
    EXPECT_TRUE(dir_.Entries().empty());
    EXPECT_EQ(user_.titles.back(), "Please select the Working Directory:");
    EXPECT_EQ(user_.proposed.back(), "sample.csf");
    user_.files = {dir_ / "sample.csf"};
    EXPECT_EQ(ClickAndRead(hwnd_, IDC_CSF_EXECUTE).text, "CSF Saved Successfully!");
    const std::vector<std::string> lines = CrLfLines(ReadText(dir_ / "sample.csf"));
    ASSERT_EQ(lines.size(), 32u);
    EXPECT_EQ(lines[11], "TYPE SEKUREL_ENGINEERING");
    EXPECT_EQ(lines[19], "SUPER_ROOT SEKUREL_WTLS_CERTIFICATE srk.der");
    EXPECT_EQ(lines[21], "KEY2 SEKUREL_WTLS_CERTIFICATE img.crt");
    EXPECT_EQ(lines[24], "BLOCK2 image.bin 0x1000 0x800");
    EXPECT_EQ(lines[30], "PUBLICKEY_SIG_VERIFY KEY2 CSF_KEY 2");
    EXPECT_EQ(lines[31], "CODE_SIG_VERIFY BLOCK1 BLOCK2 SEKUREL_RSA_SHA1 KEY2");
}

TEST_F(PageTest, AddBlocksRefusesAnEmptyPathAndHandsOverPathAndCount) {
    win32::Page_CSF_AddBlock dialog(user_.Choosers());
    // Modeless here, so that the test can click it; Add ends it as it ends the modal one.
    const HWND box = dialog.Create(main_);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(win32::WindowText(box), "Add blocks");
    EXPECT_EQ(Entries(box, IDC_ADD_BLOCK_COUNT),
              (std::vector<std::string>{"1", "2", "3", "4", "5", "6", "7", "8", "9"}));
    EXPECT_EQ(Text(box, IDC_ADD_BLOCK_COUNT), "1");
    EXPECT_EQ(ClickAndRead(box, IDOK).text, "Please select the file first");
    EXPECT_TRUE(IsWindow(box));
    user_.files = {"E:\\img\\app.s19"};
    Click(box, IDC_ADD_BLOCK_BROWSE);
    EXPECT_EQ(user_.titles.back(), "Please select the file:");
    SendDlgItemMessageA(box, IDC_ADD_BLOCK_COUNT, CB_SETCURSEL, 2, 0);
    Click(box, IDOK);
    EXPECT_FALSE(IsWindow(box));
    EXPECT_EQ(dialog.Path(), "E:\\img\\app.s19");
    EXPECT_EQ(dialog.Count(), "3");
}

}  // namespace
}  // namespace sealbench::test
