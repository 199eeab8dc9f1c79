// Windows command-line quoting, checked against a splitter written from the C
// runtime's documented rules (2n backslashes + quote: n backslashes and a quote
// toggle; 2n+1: n backslashes and a literal quote; backslashes elsewhere literal).
#include "imagebuild/windows_quoting.h"

#include <gtest/gtest.h>

namespace sealbench {
namespace {

std::vector<std::string> SplitArguments(const std::string& line) {
    std::vector<std::string> args;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        if (i == line.size()) break;
        std::string arg;
        bool quoted = false;
        while (i < line.size() && (quoted || (line[i] != ' ' && line[i] != '\t'))) {
            size_t slashes = 0;
            while (i < line.size() && line[i] == '\\') {
                ++slashes;
                ++i;
            }
            if (i < line.size() && line[i] == '"') {
                arg.append(slashes / 2, '\\');
                if (slashes % 2 == 1) {
                    arg += '"';
                } else {
                    quoted = !quoted;
                }
                ++i;
            } else {
                arg.append(slashes, '\\');
                if (i < line.size() && (quoted || (line[i] != ' ' && line[i] != '\t'))) arg += line[i++];
            }
        }
        args.push_back(arg);
    }
    return args;
}

TEST(WindowsQuoting, PlainArgumentsStayAsTheyAre) {
    EXPECT_EQ(QuoteWindowsArgument("--fmt=BIN"), "--fmt=BIN");
    EXPECT_EQ(QuoteWindowsArgument("C:\\work\\app.csf"), "C:\\work\\app.csf");
    EXPECT_EQ(QuoteWindowsArgument("a\\\\b"), "a\\\\b");
}

TEST(WindowsQuoting, BlanksQuotesAndBackslashesBeforeThem) {
    EXPECT_EQ(QuoteWindowsArgument(""), "\"\"");
    EXPECT_EQ(QuoteWindowsArgument("my dir\\app 1.csf"), "\"my dir\\app 1.csf\"");
    EXPECT_EQ(QuoteWindowsArgument("say \"hi\""), "\"say \\\"hi\\\"\"");
    EXPECT_EQ(QuoteWindowsArgument("out dir\\"), "\"out dir\\\\\"");
    EXPECT_EQ(QuoteWindowsArgument("a\\\"b"), "\"a\\\\\\\"b\"");
    EXPECT_EQ(QuoteWindowsArgument("x&y|z^%"), "\"x&y|z^%\"");
}

TEST(WindowsQuoting, EveryArgumentSplitsBackWhole) {
    std::vector<std::string> arguments = {"C:\\Program Files\\tool.exe",
                                          "--identifier=a b",
                                          "",
                                          "\"",
                                          "\\",
                                          "\\\\",
                                          "trailing\\",
                                          "trailing space\\\\",
                                          "in\"side",
                                          "\\\"\\\\\"",
                                          "tab\there",
                                          "&|^%<>()!",
                                          "\xc3\xa4 \xe2\x82\xac"};
    std::string line = WindowsCommandLine(arguments);
    EXPECT_EQ(line.rfind("\"C:\\Program Files\\tool.exe\" ", 0), 0u) << line;
    std::vector<std::string> back = SplitArguments(line.substr(line.find("\" ") + 2));
    EXPECT_EQ(back, std::vector<std::string>(arguments.begin() + 1, arguments.end())) << line;
}

}  // namespace
}  // namespace sealbench
