#include "imagebuild/windows_quoting.h"

namespace sealbench {

std::string QuoteWindowsArgument(std::string_view argument) {
    // Characters a command interpreter would act on are quoted too: harmless to
    // the program, and the line shown to the user can be pasted into a console.
    if (!argument.empty() && argument.find_first_of(" \t\n\v\"&|^<>()%!") == std::string_view::npos) {
        return std::string(argument);
    }
    std::string quoted = "\"";
    size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        // Backslashes are literal unless a quote follows them; before a quote each
        // one is doubled and the quote itself escaped.
        quoted.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    // The closing quote follows: trailing backslashes are doubled.
    quoted.append(2 * backslashes, '\\');
    quoted += '"';
    return quoted;
}

std::string WindowsCommandLine(const std::vector<std::string>& arguments) {
    std::string line;
    for (size_t i = 0; i < arguments.size(); ++i) {
        if (i == 0) {
            line = "\"" + arguments[0] + "\"";
        } else {
            line += " " + QuoteWindowsArgument(arguments[i]);
        }
    }
    return line;
}

}  // namespace sealbench
