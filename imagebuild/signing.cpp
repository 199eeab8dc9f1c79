// The signing tool's command, the same on every platform, and the checks of its
// files before and after the run; starting it is each platform's own
// (signing_posix.cpp, signing_win32.cpp).
#include "imagebuild/signing.h"

#include <filesystem>
#include <system_error>

#include "common/file_checks.h"
#include "imagebuild/signing_process.h"

namespace sealbench {
namespace {

namespace fs = std::filesystem;

// What the output path held before the run, so that a file the tool left alone is
// not taken for one it wrote.
struct OutputStamp {
    bool exists = false;
    uintmax_t size = 0;
    fs::file_time_type written{};
};

OutputStamp StampOf(const std::string& text) {
    OutputStamp stamp;
    std::error_code error;
    // The fields are UTF-8 on every platform, whatever the Windows code page.
    const fs::path path(std::u8string(text.begin(), text.end()));
    if (text.empty() || !fs::is_regular_file(path, error)) {
        return stamp;
    }
    stamp.size = fs::file_size(path, error);
    stamp.written = fs::last_write_time(path, error);
    stamp.exists = !error;
    return stamp;
}

// Why the output after a run that exited 0 is no signed CSF, or nullopt when it is one.
std::optional<std::string> MissingOutput(const std::string& path, const OutputStamp& before) {
    const std::string tool = kSigningTool;
    OutputStamp after = StampOf(path);
    if (!after.exists) {
        return tool + " exited with status 0 but wrote no output file " + path + "; see its messages above";
    }
    if (after.size == 0) {
        return tool + " exited with status 0 but left the output file " + path + " empty; see its messages above";
    }
    if (before.exists && after.size == before.size && after.written == before.written) {
        return tool + " exited with status 0 but did not write the output file " + path +
               ", which still holds what it held before; see its messages above";
    }
    return std::nullopt;
}

}  // namespace

SignResult RunSigningTool(const SignRequest& request) {
    SignResult result;
    if (auto refusal = RefuseSignFiles(request)) {
        result.outcome = Outcome::Failure(FailureKind::Input, *refusal);
        return result;
    }
    const OutputStamp before = StampOf(request.outputPath);
    result = RunSigningProcess(request);
    if (result.status == SignStatus::Ok) {
        if (auto missing = MissingOutput(request.outputPath, before)) {
            result.status = SignStatus::NoOutput;
            result.outcome = Outcome::Failure(FailureKind::Tool, *missing);
        }
    }
    return result;
}

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
