// sealbench-cli's file commands, run as a real process.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>

#include "file_test_support.h"

namespace {

using sealbench::test::ProcessResult;
using sealbench::test::ReadBytes;
using sealbench::test::ReadText;
using sealbench::test::TempDir;

ProcessResult Cli(std::vector<std::string> args, const std::vector<std::string>& env = {}) {
    args.insert(args.begin(), SEALBENCH_CLI);
    return sealbench::test::RunProcess(args, env);
}

TEST(CliHwc, ExportsPaddedRecords) {
    TempDir dir;
    auto r = Cli({"hwc", dir / "a.hwc", "1:ABC", "0x53FC0000:1"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "HW Config Exported successfully\n");
    EXPECT_EQ(ReadBytes(dir / "a.hwc"), (std::vector<uint8_t>{0x14, 0, 0,    0,    0x01, 0,    0, 0, 0xBC, 0x0A,
                                                              0,    0, 0x00, 0x00, 0xFC, 0x53, 1, 0, 0,    0}));
}

TEST(CliHwc, RefusedRecordsFailTheCommandButOthersAreWritten) {
    TempDir dir;
    auto r = Cli({"hwc", dir / "a.hwc", "1:2", "G:1"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("addr is not in Hex format"), std::string::npos) << r.err;
    EXPECT_EQ(ReadBytes(dir / "a.hwc").size(), 12u);

    auto none = Cli({"hwc", dir / "b.hwc", "G:1", "1:x"});
    EXPECT_EQ(none.exitCode, 1);
    EXPECT_NE(none.err.find("data is not in Hex format"), std::string::npos);
    EXPECT_EQ(none.out.find("successfully"), std::string::npos);
    EXPECT_FALSE(sealbench::test::Exists(dir / "b.hwc"));
}

TEST(CliHwc, MalformedRecordsAreUsageErrorsAndWriteNothing) {
    TempDir dir;
    for (std::string record : {"12", "123456789:1", ":1"}) {
        auto r = Cli({"hwc", dir / "a.hwc", "1:1", record});
        EXPECT_EQ(r.exitCode, 2) << record;
        EXPECT_FALSE(r.err.empty());
    }
    EXPECT_EQ(Cli({"hwc", dir / "a.hwc"}).exitCode, 2);
    EXPECT_TRUE(dir.Entries().empty());
}

TEST(CliCsf, WritesTheWorkedExample) {
    TempDir dir;
    auto r = Cli({"csf", dir / "out.csf", "--code", "0x1", "--super-root", "E:\\certs\\srk.der", "--csf-key",
                  "E:\\certs\\csf.crt", "--key", "E:\\certs\\img.crt", "--key", "E:\\certs\\img2.crt", "--block",
                  "image.bin,0x0,0x400,img.crt", "--block", "C:\\x\\image.bin,0x1000,0x800,img.crt"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "CSF Saved Successfully!\n");
    auto lines = sealbench::test::CrLfLines(ReadText(dir / "out.csf"));
    ASSERT_EQ(lines.size(), 34u);
    EXPECT_EQ(lines[11], "TYPE SEKUREL_ENGINEERING");
    EXPECT_EQ(lines[12], "UID SEKUREL_GENERIC_UID");
    EXPECT_EQ(lines[21], "KEY2 SEKUREL_WTLS_CERTIFICATE img.crt");
    EXPECT_EQ(lines[22], "KEY3 SEKUREL_WTLS_CERTIFICATE img2.crt");
    EXPECT_EQ(lines[25], "BLOCK2 image.bin 0x1000 0x800");
    EXPECT_EQ(lines[31], "PUBLICKEY_SIG_VERIFY KEY2 KEY3 CSF_KEY 3");
    EXPECT_EQ(lines[32], "CODE_SIG_VERIFY BLOCK1 BLOCK2 SEKUREL_RSA_SHA1 KEY2");
    EXPECT_EQ(lines[33], "CODE_SIG_VERIFY SEKUREL_RSA_SHA1 KEY3");
}

TEST(CliCsf, OptionsAfterTheOutputAndProductTypeAndUid) {
    TempDir dir;
    auto r = Cli({"csf", "--key", "k.crt", dir / "out.csf", "--code", "7", "--super-root", "s", "--csf-key", "c",
                  "--block", "a,0x10,1f0,", "--type", "product", "--uid", "0x99"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    auto lines = sealbench::test::CrLfLines(ReadText(dir / "out.csf"));
    EXPECT_EQ(lines[11], "TYPE SEKUREL_PRODUCT");
    EXPECT_EQ(lines[12], "UID 0x99");
    EXPECT_EQ(lines[23], "BLOCK1 a 0x10 0x1f0");  // plain hexadecimal, like every address here
    EXPECT_EQ(lines.back(), "CODE_SIG_VERIFY SEKUREL_RSA_SHA1 KEY2");
}

TEST(CliCsf, ValidationFailsWithTheMessageAndNoFile) {
    TempDir dir;
    auto r = Cli({"csf", dir / "out.csf", "--code", "0x", "--super-root", "s", "--csf-key", "c"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "Please Enter Code in Definition\n");
    r = Cli({"csf", dir / "out.csf", "--code", "1", "--super-root", "s", "--csf-key", "c", "--key", "k"});
    EXPECT_EQ(r.err, "No Block Found\n");
    EXPECT_EQ(
        Cli({"csf", dir / "out.csf", "--code", "1", "--super-root", "s", "--csf-key", "c", "--block", "a,b"}).exitCode,
        2);
    EXPECT_EQ(
        Cli({"csf", dir / "out.csf", "--code", "1", "--super-root", "s", "--csf-key", "c", "--type", "x"}).exitCode, 2);
    EXPECT_TRUE(dir.Entries().empty());
}

TEST(CliCombine, CombinesAndReportsFailures) {
    TempDir dir;
    sealbench::test::WriteBytes(dir / "os.bin", std::vector<uint8_t>(0x10000, 0x33));
    sealbench::test::WriteBytes(dir / "csf.bin", std::vector<uint8_t>(0x800, 0x22));
    sealbench::test::WriteBytes(dir / "hwc.bin", std::vector<uint8_t>(0x100, 0x11));
    auto r =
        Cli({"combine", dir / "out.bin", "--os", dir / "os.bin", "--csf", dir / "csf.bin", "--hwc", dir / "hwc.bin"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "Complete!\n");
    auto out = ReadBytes(dir / "out.bin");
    ASSERT_EQ(out.size(), 0x14000u);
    EXPECT_EQ(out[3], 0xA0);

    r = Cli({"combine", dir / "c8.bin", "--vireoa", "--os", dir / "os.bin", "--csf", dir / "csf.bin", "--hwc",
             dir / "hwc.bin"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(ReadBytes(dir / "c8.bin")[0x1007], 0xC8);

    sealbench::test::WriteBytes(dir / "hwc.bin", std::vector<uint8_t>(0x1F1, 0x11));
    r = Cli({"combine", dir / "bad.bin", "--os", dir / "os.bin", "--csf", dir / "csf.bin", "--hwc", dir / "hwc.bin"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err.rfind("File Construction Error", 0), 0u) << r.err;
    EXPECT_TRUE(r.out.empty());
    EXPECT_FALSE(sealbench::test::Exists(dir / "bad.bin"));
    EXPECT_EQ(Cli({"combine", dir / "x.bin", "--os", dir / "os.bin"}).exitCode, 2);
}

TEST(CliSign, RunsTheToolFromPathWithoutAShell) {
    TempDir dir;
    // The stand-in writes its output ($5) only when asked to.
    sealbench::test::WriteText(dir / "sekurel_build",
                               "#!/bin/sh\nprintf '%s\\0' \"$@\" > \"$ARGS_FILE\"\n"
                               "[ -n \"$TOOL_WRITES\" ] && printf signed > \"$5\"\n"
                               "exit \"$TOOL_EXIT\"\n");
    ASSERT_EQ(::chmod((dir / "sekurel_build").c_str(), 0755), 0);
    std::vector<std::string> env = {"PATH=" + dir.Path() + ":" + std::getenv("PATH"), "ARGS_FILE=" + (dir / "args"),
                                    "TOOL_EXIT=0", "TOOL_WRITES=1"};
    const std::string out = dir / "out;rm -rf x.bin";
    auto r = Cli({"sign", "my app.csf", out, "--identifier", "A B"}, env);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "sekurel_build --identifier=A B --fmt=BIN --output=CSF_APPL my app.csf " + out + "\n");
    EXPECT_EQ(ReadText(dir / "args"),
              std::string("--identifier=A B\0--fmt=BIN\0--output=CSF_APPL\0my app.csf\0", 56) + out + '\0');

    env[3] = "TOOL_WRITES=";
    r = Cli({"sign", "a.csf", dir / "never.bin"}, env);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("exited with status 0 but wrote no output file"), std::string::npos) << r.err;

    env[2] = "TOOL_EXIT=4";
    r = Cli({"sign", "a.csf", "b.bin"}, env);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("4"), std::string::npos);

    r = Cli({"sign", "a.csf", "b.bin"}, {"PATH=" + (dir / "empty")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "sekurel_build --identifier= --fmt=BIN --output=CSF_APPL a.csf b.bin\n");
    EXPECT_NE(r.err.find("sekurel_build"), std::string::npos);
    EXPECT_EQ(Cli({"sign", "a.csf"}).exitCode, 2);
}

TEST(CliSrec, ConvertsWithDefaultsAndOptions) {
    TempDir dir;
    std::vector<uint8_t> bytes(40);
    for (size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<uint8_t>(i);
    }
    sealbench::test::WriteBytes(dir / "in.bin", bytes);
    auto r = Cli({"srec", dir / "in.bin", dir / "out.s19"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "Convertion finished!\n");
    EXPECT_EQ(ReadText(dir / "out.s19"),
              "S00600004844521B\r\n"
              "S1230000000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1FEC\r\n"
              "S10B00202021222324252627B8\r\n"
              "S5030002FA\r\n"
              "S9030000FC\r\n");

    r = Cli({"srec", dir / "in.bin", dir / "s3.s19", "--offset", "0x80000000", "--no-header", "--line-length", "8",
             "--begin", "20", "--end", "27", "--address-size", "3"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ReadText(dir / "s3.s19"), "S30D80000000202122232425262756\r\n");
}

TEST(CliSrec, FailuresAndWarnings) {
    TempDir dir;
    sealbench::test::WriteBytes(dir / "in.bin", {1, 2, 3});
    auto r = Cli({"srec", dir / "none.bin", dir / "out.s19"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "Input file " + (dir / "none.bin") + " not found\n");
    EXPECT_FALSE(sealbench::test::Exists(dir / "out.s19"));

    r = Cli({"srec", dir / "in.bin", dir / "out.s19", "--begin", "10"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("Begin address 10h is greater than file size 2h"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("(the input holds 3 bytes, at 0h to 2h)"), std::string::npos) << r.err;

    // The page clamps line length and address size; the command line refuses what it would change.
    for (std::vector<std::string> bad : {std::vector<std::string>{"--offset", "0x"},
                                         {"--begin", "123456789"},
                                         {"--end", "zz"},
                                         {"--line-length", "x"},
                                         {"--line-length", "40"},
                                         {"--line-length", "4"},
                                         {"--address-size", "7"},
                                         {"--address-size", "1"}}) {
        std::vector<std::string> args = {"srec", dir / "in.bin", dir / "bad.s19"};
        args.insert(args.end(), bad.begin(), bad.end());
        auto refused = Cli(args);
        EXPECT_EQ(refused.exitCode, 2) << bad[0] << " " << bad[1];
        EXPECT_NE(refused.err.find(bad[0]), std::string::npos) << refused.err;
    }
    EXPECT_FALSE(sealbench::test::Exists(dir / "bad.s19"));
}

}  // namespace
