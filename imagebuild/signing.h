// Running the outside signing tool, sekurel_build, which turns a CSF text file
// into the signed CSF binary that the combine takes. The tool is started directly
// with one argument per field, never through a shell: a path with a blank stays
// one argument, and an identifier cannot smuggle in a command.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/outcome.h"

namespace sealbench {

inline constexpr const char* kSigningTool = "sekurel_build";

inline constexpr std::string_view kMsgEnableProfileFirst = "Please enable the Profile setting first";
inline constexpr std::string_view kMsgSelectProfileEntry = "Please select an identifier from the Profile first";

struct SignRequest {
    std::string identifier;
    std::string csfPath;
    std::string outputPath;
};

// The command as the user sees it: the fields inserted as they are.
std::string SignCommandLine(const SignRequest& request);

// The argument vector the tool receives, program name first.
std::vector<std::string> SignArguments(const SignRequest& request);

enum class SignStatus {
    Ok,          // the tool ran and exited with status 0
    NotStarted,  // refused files, not found on PATH, not executable, or no process could be made
    Failed,      // exited with a non-zero status
    Killed,      // ended by a signal
    NoOutput,    // exited with status 0 but left no new, non-empty output file
};

// How the tool's run ended; a failure's message is a sentence for the user.
struct SignResult {
    Outcome outcome;
    SignStatus status = SignStatus::NotStarted;
    int code = 0;  // exit status, signal number or errno, by status
};

// What the tool must not be given: a CSF that is not a regular file, or an output
// that is the CSF itself. The refusal the user is shown, or nullopt.
std::optional<std::string> RefuseSignFiles(const SignRequest& request);

// Checks the files (RefuseSignFiles), starts the tool found on PATH and waits for
// it to end. The tool inherits the standard streams and the current folder. An exit
// status of 0 is a success only when the tool wrote the output file: a tool that
// forgot it, or wrote nothing into it, must not send the user on to the combine
// with a missing or stale signed CSF.
SignResult RunSigningTool(const SignRequest& request);

// The identifier "Sekurel Build" signs with: with the profile enabled the entry
// selected in it (text typed into the list's field does not count), else the typed
// one. nullopt when the profile is enabled and no entry is selected: nothing runs.
std::optional<std::string> SignIdentifier(bool profileEnabled, const std::optional<std::string>& selectedEntry,
                                          const std::string& typed);

// What the page shows once the tool has run: the command line, and why the tool
// did not succeed where it did not.
std::string SignReport(const SignRequest& request, const SignResult& result);

}  // namespace sealbench
