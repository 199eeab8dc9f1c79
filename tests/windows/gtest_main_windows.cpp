// GoogleTest's main for the Windows build, whose tests run under Wine: tests that
// start Linux tools (objcopy as the independent reader of S-records) cannot run
// there, so they are neither listed nor run. The same tests run in the Linux build.
#include <gtest/gtest.h>

#include <string>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    const std::string linuxOnly = "*Objcopy*";
    std::string filter = GTEST_FLAG_GET(filter);
    filter += filter.find('-') == std::string::npos ? "-" + linuxOnly : ":" + linuxOnly;
    GTEST_FLAG_SET(filter, filter);
    return RUN_ALL_TESTS();
}
