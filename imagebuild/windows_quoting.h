// The command line of a Windows process is one string, which the started program
// splits into its arguments by the C runtime's documented rules (also those of
// CommandLineToArgvW). Quoting by those rules is what lets an argument hold blanks,
// quotes and trailing backslashes and still arrive as exactly one argument. Pure
// text, so it is tested on every platform.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace sealbench {

// One argument (not the program name) as it must appear in a command line.
std::string QuoteWindowsArgument(std::string_view argument);

// The program path, always quoted (it is split by simpler rules, and cannot hold a
// quote), followed by each argument quoted as above.
std::string WindowsCommandLine(const std::vector<std::string>& arguments);

}  // namespace sealbench
