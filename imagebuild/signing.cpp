// The signing tool's command, the same on every platform; starting it is each
// platform's own (signing_posix.cpp, signing_win32.cpp).
#include "imagebuild/signing.h"

namespace sealbench {

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

}  // namespace sealbench
