// The signing run on Windows against a stand-in sekurel_build.exe that records
// the arguments its C runtime split from the command line.
#include <gtest/gtest.h>

#include <filesystem>

#include "common/win32_support.h"
#include "file_test_support.h"
#include "imagebuild/signing.h"

namespace sealbench {
namespace {

using win32::Widen;

std::string Variable(const char* name) {
    wchar_t value[32768];
    DWORD n = ::GetEnvironmentVariableW(Widen(name).c_str(), value, 32768);
    return n > 0 ? win32::Narrow(std::wstring_view(value, n)) : std::string();
}

// The stand-in is built into stand-in\ beside the test program.
std::wstring StandInPath() {
    wchar_t self[MAX_PATH];
    DWORD n = ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    return std::filesystem::path(std::wstring(self, n)).parent_path() / L"stand-in" / L"sekurel_build.exe";
}

void SetVariable(const char* name, const std::string& value) {
    ::SetEnvironmentVariableW(Widen(name).c_str(), value.empty() ? nullptr : Widen(value).c_str());
}

class StandInToolWin32 : public ::testing::Test {
protected:
    void SetUp() override {
        oldPath_ = Variable("PATH");
        std::filesystem::copy_file(StandInPath(), Widen(dir_ / "sekurel_build.exe"));
        SetVariable("PATH", dir_.Path() + ";" + oldPath_);
        SetVariable("SEKUREL_STAND_IN_ARGS", dir_ / "args.bin");
    }
    void TearDown() override {
        SetVariable("PATH", oldPath_);
        SetVariable("SEKUREL_STAND_IN_ARGS", "");
        SetVariable("SEKUREL_STAND_IN_EXIT", "");
        SetVariable("SEKUREL_STAND_IN_OUTPUT", "");
    }

    std::vector<std::string> RecordedArguments() { return test::NulSeparated(dir_ / "args.bin"); }

    static std::vector<std::string> Expected(const SignRequest& request) {
        auto args = SignArguments(request);
        return {args.begin() + 1, args.end()};
    }

    test::TempDir dir_;
    std::string oldPath_;
};

// The stand-in writes no output file here, so each run ends as NoOutput: only the
// arguments are looked at.
TEST_F(StandInToolWin32, EachFieldArrivesAsOneArgumentWhateverItHolds) {
    SignRequest request{"id \"quoted\" & echo | more ^ %PATH% !x!", "C:\\my dir\\app 1.csf", "out dir\\"};
    SignResult result = RunSigningTool(request);
    EXPECT_EQ(result.status, SignStatus::NoOutput) << result.outcome.message;
    EXPECT_EQ(RecordedArguments(), Expected(request));

    request = {"a\\\\\"b\\", "\\\\server\\share\\x.csf", "trailing\\\\"};
    ASSERT_EQ(RunSigningTool(request).status, SignStatus::NoOutput);
    EXPECT_EQ(RecordedArguments(), Expected(request));

    request = {"\xc3\x9c", "C:\\tmp\\\xc3\xa4 \xe2\x82\xac.csf", "tab\there"};
    ASSERT_EQ(RunSigningTool(request).status, SignStatus::NoOutput);
    EXPECT_EQ(RecordedArguments(), Expected(request));
}

TEST_F(StandInToolWin32, ExitZeroCountsOnlyWithTheOutputFile) {
    const std::string out = dir_ / "\xc3\xa4 signed.bin";
    EXPECT_EQ(RunSigningTool({"ID", "a.csf", out}).status, SignStatus::NoOutput);
    SetVariable("SEKUREL_STAND_IN_OUTPUT", "1");
    SignResult result = RunSigningTool({"ID", "a.csf", out});
    EXPECT_EQ(result.status, SignStatus::Ok) << result.outcome.message;
}

TEST_F(StandInToolWin32, EmptyFieldsStayEmptyArguments) {
    EXPECT_EQ(RunSigningTool({}).status, SignStatus::NoOutput);
    EXPECT_EQ(RecordedArguments(),
              (std::vector<std::string>{"--identifier=", "--fmt=BIN", "--output=CSF_APPL", "", ""}));
}

TEST_F(StandInToolWin32, NonZeroExitAndExceptionsAreFailures) {
    SetVariable("SEKUREL_STAND_IN_EXIT", "3");
    SignResult failed = RunSigningTool({"ID", "a.csf", "b.bin"});
    EXPECT_EQ(failed.status, SignStatus::Failed);
    EXPECT_EQ(failed.code, 3);
    EXPECT_EQ(failed.outcome.message, "sekurel_build failed with exit status 3");

    SetVariable("SEKUREL_STAND_IN_EXIT", "0xC0000005");
    SignResult crashed = RunSigningTool({"ID", "a.csf", "b.bin"});
    EXPECT_EQ(crashed.status, SignStatus::Killed);
    EXPECT_EQ(crashed.outcome.message, "sekurel_build ended with exception 0xC0000005");
}

TEST_F(StandInToolWin32, MissingToolOrABatchFileCannotStart) {
    SetVariable("PATH", dir_ / "empty");
    SignResult missing = RunSigningTool({"ID", "a.csf", "b.bin"});
    EXPECT_EQ(missing.status, SignStatus::NotStarted);
    EXPECT_EQ(missing.outcome.message, "Cannot start sekurel_build: no sekurel_build.exe on PATH");

    // cmd.exe would act on & | ^ % in the arguments: a batch file is not run.
    std::filesystem::create_directory(Widen(dir_ / "scripts"));
    test::WriteText(dir_ / "scripts/sekurel_build.cmd", "@exit 0\r\n");
    SetVariable("PATH", dir_ / "scripts");
    SignResult script = RunSigningTool({"ID", "a.csf", "b.bin"});
    EXPECT_EQ(script.status, SignStatus::NotStarted);
    EXPECT_NE(script.outcome.message.find("is a batch file"), std::string::npos) << script.outcome.message;
}

}  // namespace
}  // namespace sealbench
