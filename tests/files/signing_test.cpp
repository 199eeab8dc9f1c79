#include "imagebuild/signing.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "file_test_support.h"

namespace sealbench {
namespace {

TEST(SignCommand, LineKeepsFieldsVerbatim) {
    EXPECT_EQ(SignCommandLine({"MYID", "d:\\work\\app.csf", "d:\\work\\out.bin"}),
              "sekurel_build --identifier=MYID --fmt=BIN --output=CSF_APPL d:\\work\\app.csf d:\\work\\out.bin");
    EXPECT_EQ(SignCommandLine({}), "sekurel_build --identifier= --fmt=BIN --output=CSF_APPL  ");
    EXPECT_EQ(
        SignArguments({"a b", "c d", "e"}),
        (std::vector<std::string>{"sekurel_build", "--identifier=a b", "--fmt=BIN", "--output=CSF_APPL", "c d", "e"}));
}

// Puts a stand-in sekurel_build first on PATH for the test's life. The stand-in
// writes its arguments, NUL-terminated, to args.bin and then runs `tail`; $5 is
// the output file.
class StandInTool : public ::testing::Test {
protected:
    void Install(const std::string& tail) {
        std::string script = "#!/bin/sh\nprintf '%s\\0' \"$@\" > '" + dir_ / "args.bin" + "'\n" + tail + "\n";
        test::WriteText(dir_ / "sekurel_build", script);
        ASSERT_EQ(::chmod((dir_ / "sekurel_build").c_str(), 0755), 0);
    }
    void SetUp() override {
        const char* path = std::getenv("PATH");
        oldPath_ = path ? path : "";
        ::setenv("PATH", (dir_.Path() + ":" + oldPath_).c_str(), 1);
    }
    void TearDown() override { ::setenv("PATH", oldPath_.c_str(), 1); }

    std::vector<std::string> RecordedArguments() { return test::NulSeparated(dir_ / "args.bin"); }

    test::TempDir dir_;
    std::string oldPath_;
};

TEST_F(StandInTool, EachFieldArrivesAsOneArgumentWhateverItHolds) {
    Install("printf signed > \"$5\"");
    std::string marker = dir_ / "injected";
    SignRequest request{"id; touch " + marker + " $(touch " + marker + ")", "my dir/app 1.csf", dir_ / "out \"q\".bin"};
    SignResult result = RunSigningTool(request);
    EXPECT_EQ(result.status, SignStatus::Ok) << result.outcome.message;
    EXPECT_EQ(RecordedArguments(),
              (std::vector<std::string>{"--identifier=" + request.identifier, "--fmt=BIN", "--output=CSF_APPL",
                                        "my dir/app 1.csf", request.outputPath}));
    EXPECT_FALSE(test::Exists(marker));
}

TEST_F(StandInTool, EmptyFieldsStayEmptyArguments) {
    Install("exit 0");
    EXPECT_EQ(RunSigningTool({}).status, SignStatus::NoOutput);
    EXPECT_EQ(RecordedArguments(),
              (std::vector<std::string>{"--identifier=", "--fmt=BIN", "--output=CSF_APPL", "", ""}));
}

// Exit status 0 alone proves nothing: the signed CSF must be there, hold bytes, and
// be new when a file of that name was there before.
TEST_F(StandInTool, ExitZeroCountsOnlyWithAFreshOutputFile) {
    struct Case {
        const char* tail;
        bool oldFile;
        SignStatus expected;
        const char* says;
    } cases[] = {
        {"exit 0", false, SignStatus::NoOutput, "wrote no output file"},
        {": > \"$5\"", false, SignStatus::NoOutput, "empty"},
        {"exit 0", true, SignStatus::NoOutput, "still holds what it held before"},
        {"printf signed > \"$5\"", true, SignStatus::Ok, ""},
        {"printf signed > \"$5\"", false, SignStatus::Ok, ""},
    };
    for (const Case& c : cases) {
        std::string out = dir_ / "signed.bin";
        std::filesystem::remove(out);
        if (c.oldFile) {
            test::WriteText(out, "older signature");
        }
        Install(c.tail);
        SignResult result = RunSigningTool({"ID", "a.csf", out});
        EXPECT_EQ(result.status, c.expected) << c.tail << " / old file: " << c.oldFile;
        EXPECT_NE(result.outcome.message.find(c.says), std::string::npos) << result.outcome.message;
        if (c.expected != SignStatus::Ok) {
            EXPECT_NE(result.outcome.message.find(out), std::string::npos) << result.outcome.message;
        }
    }
}

TEST_F(StandInTool, NonZeroExitAndSignalAreFailures) {
    Install("exit 3");
    SignResult failed = RunSigningTool({"ID", "a.csf", "b.bin"});
    EXPECT_EQ(failed.status, SignStatus::Failed);
    EXPECT_EQ(failed.code, 3);
    EXPECT_NE(failed.outcome.message.find("3"), std::string::npos);

    Install("kill -9 $$");
    SignResult killed = RunSigningTool({"ID", "a.csf", "b.bin"});
    EXPECT_EQ(killed.status, SignStatus::Killed);
    EXPECT_EQ(killed.code, 9);
}

TEST_F(StandInTool, MissingOrNotExecutableToolCannotStart) {
    ::setenv("PATH", dir_.Path().c_str(), 1);
    SignResult missing = RunSigningTool({"ID", "a.csf", "b.bin"});
    EXPECT_EQ(missing.status, SignStatus::NotStarted);
    EXPECT_NE(missing.outcome.message.find("sekurel_build"), std::string::npos);

    test::WriteText(dir_ / "sekurel_build", "#!/bin/sh\nexit 0\n");
    ASSERT_EQ(::chmod((dir_ / "sekurel_build").c_str(), 0644), 0);
    EXPECT_EQ(RunSigningTool({"ID", "a.csf", "b.bin"}).status, SignStatus::NotStarted);
}

}  // namespace
}  // namespace sealbench
