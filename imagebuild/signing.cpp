// The signing tool's command, the same on every platform, and the checks of its
// files; starting it is each platform's own (signing_posix.cpp, signing_win32.cpp).
#include "imagebuild/signing.h"

#include "common/file_checks.h"

namespace sealbench {

std::optional<std::string> RefuseSignFiles(const SignRequest& request) {
    if (auto refusal = RefuseNonRegularInput(request.csfPath)) {
        return refusal;
    }
    return RefuseOutputOverInput(request.outputPath, {request.csfPath});
}

std::string SignCommandLine(const SignRequest& request) {
    std::string line = kSigningTool;
    line += " --identifier=" + request.identifier;
    line += " --fmt=BIN --output=CSF_APPL ";
    line += request.csfPath;
    line += " ";
    line += request.outputPath;
    return line;
}

std::vector<std::string> SignArguments(const SignRequest& request) {
    return {kSigningTool,      "--identifier=" + request.identifier, "--fmt=BIN", "--output=CSF_APPL", request.csfPath,
            request.outputPath};
}

std::optional<std::string> SignIdentifier(bool profileEnabled, const std::optional<std::string>& selectedEntry,
                                          const std::string& typed) {
    if (!profileEnabled) return typed;
    return selectedEntry;
}

std::string SignReport(const SignRequest& request, const SignResult& result) {
    std::string text = SignCommandLine(request);
    if (result.status != SignStatus::Ok) text += "\n\n" + result.outcome.message;
    return text;
}

}  // namespace sealbench
