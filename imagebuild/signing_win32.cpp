// Running sekurel_build on Windows: the program is looked up on PATH as an .exe
// (or .com) and started with CreateProcessW, no command interpreter in between,
// on a command line quoted so that each argument arrives whole. A batch file is
// refused: cmd.exe would read &, |, ^ and % in the arguments as its own syntax,
// and no quoting makes every argument safe from it.
#include <cstdio>

#include "common/win32_support.h"
#include "imagebuild/signing_process.h"
#include "imagebuild/windows_quoting.h"

namespace sealbench {
namespace {

using win32::Narrow;
using win32::SystemMessage;
using win32::UniqueHandle;
using win32::Widen;

bool IsFile(const std::wstring& path) {
    DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::wstring EnvironmentVariable(const wchar_t* name) {
    DWORD size = ::GetEnvironmentVariableW(name, nullptr, 0);
    if (size == 0) {
        return {};
    }
    std::wstring value(size, L'\0');
    value.resize(::GetEnvironmentVariableW(name, value.data(), size));
    return value;
}

struct Found {
    std::wstring program;  // an .exe or .com to start
    std::wstring script;   // a batch file met first, when no program was found
};

// The first PATH folder that holds the tool as a program; a batch file in an
// earlier folder is remembered to explain why nothing ran.
Found FindOnPath(const std::wstring& name) {
    Found found;
    std::wstring path = EnvironmentVariable(L"PATH");
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find(L';', start);
        if (end == std::wstring::npos) {
            end = path.size();
        }
        std::wstring folder = path.substr(start, end - start);
        start = end + 1;
        if (folder.size() >= 2 && folder.front() == L'"' && folder.back() == L'"') {
            folder = folder.substr(1, folder.size() - 2);
        }
        if (folder.empty()) {
            continue;
        }
        if (folder.back() != L'\\' && folder.back() != L'/') {
            folder += L'\\';
        }
        for (const wchar_t* extension : {L".exe", L".com"}) {
            if (IsFile(folder + name + extension)) {
                found.program = folder + name + extension;
                return found;
            }
        }
        for (const wchar_t* extension : {L".bat", L".cmd"}) {
            if (found.script.empty() && IsFile(folder + name + extension)) {
                found.script = folder + name + extension;
            }
        }
    }
    return found;
}

SignResult NotStarted(int code, std::string message) {
    SignResult result;
    result.status = SignStatus::NotStarted;
    result.code = code;
    result.outcome = Outcome::Failure(FailureKind::Tool, std::move(message));
    return result;
}

SignResult Ended(SignStatus status, int code, std::string message) {
    SignResult result;
    result.status = status;
    result.code = code;
    if (status != SignStatus::Ok) {
        result.outcome = Outcome::Failure(FailureKind::Tool, std::move(message));
    }
    return result;
}

}  // namespace

SignResult RunSigningProcess(const SignRequest& request) {
    const std::string tool = kSigningTool;
    Found found = FindOnPath(Widen(tool));
    if (found.program.empty() && !found.script.empty()) {
        return NotStarted(ERROR_BAD_EXE_FORMAT,
                          "Cannot start " + tool + ": " + Narrow(found.script) +
                              " is a batch file, which cannot be given these arguments safely; put " + tool +
                              ".exe on PATH");
    }
    if (found.program.empty()) {
        return NotStarted(ERROR_FILE_NOT_FOUND, "Cannot start " + tool + ": no " + tool + ".exe on PATH");
    }

    std::vector<std::string> arguments = SignArguments(request);
    arguments[0] = Narrow(found.program);
    std::wstring commandLine = Widen(WindowsCommandLine(arguments));

    // The tool writes to the same console or pipes as this program.
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = ::GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
    std::fflush(stdout);
    std::fflush(stderr);
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(found.program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                          &startup, &process)) {
        DWORD code = ::GetLastError();
        return NotStarted(static_cast<int>(code), "Cannot start " + Narrow(found.program) + ": " + SystemMessage(code));
    }
    UniqueHandle processHandle(process.hProcess);
    UniqueHandle threadHandle(process.hThread);

    DWORD exitCode = 0;
    if (::WaitForSingleObject(processHandle.Get(), INFINITE) != WAIT_OBJECT_0 ||
        !::GetExitCodeProcess(processHandle.Get(), &exitCode)) {
        DWORD code = ::GetLastError();
        return Ended(SignStatus::Failed, static_cast<int>(code), "Lost track of " + tool + ": " + SystemMessage(code));
    }
    if (exitCode == 0) {
        return Ended(SignStatus::Ok, 0, {});
    }
    if (exitCode >= 0xC0000000u) {
        // An exception status (access violation, abort...) rather than a code the tool chose.
        char text[16];
        std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(exitCode));
        return Ended(SignStatus::Killed, static_cast<int>(exitCode), tool + " ended with exception " + text);
    }
    return Ended(SignStatus::Failed, static_cast<int>(exitCode),
                 tool + " failed with exit status " + std::to_string(exitCode));
}

}  // namespace sealbench
