// The file tools' test helpers on Windows: scratch folders under the user's
// temporary folder and programs started with CreateProcessW, their output read
// through pipes on threads of their own.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <stdexcept>
#include <thread>

#include "common/win32_support.h"
#include "file_test_support.h"
#include "imagebuild/windows_quoting.h"

namespace sealbench::test {

using win32::Narrow;
using win32::UniqueHandle;
using win32::Widen;

TempDir::TempDir() {
    static std::atomic<unsigned> counter{0};
    std::filesystem::path base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = "sealbench-files-" + std::to_string(::GetCurrentProcessId()) + "-" +
                           std::to_string(counter.fetch_add(1)) + "-" + std::to_string(::GetTickCount());
        std::filesystem::path candidate = base / name;
        if (::CreateDirectoryW(candidate.wstring().c_str(), nullptr)) {
            path_ = Narrow(candidate.wstring());
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(Widen(path_), ignored);
}

std::vector<std::string> TempDir::Entries() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(Widen(path_))) {
        names.push_back(Narrow(entry.path().filename().wstring()));
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(std::filesystem::path(Widen(path)), std::ios::binary);
    if (!in) {
        ADD_FAILURE() << "cannot read " << path;
        return {};
    }
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(std::filesystem::path(Widen(path)), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
}

bool Exists(const std::string& path) { return std::filesystem::exists(std::filesystem::path(Widen(path))); }

namespace {

// The read end of a pipe drained on its own thread so that a chatty child never blocks.
class PipeReader {
public:
    PipeReader() {
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        HANDLE read = nullptr;
        HANDLE write = nullptr;
        if (!::CreatePipe(&read, &write, &inherit, 0)) {
            throw std::runtime_error("CreatePipe failed");
        }
        read_.Reset(read);
        write_.Reset(write);
        ::SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
    }
    HANDLE WriteEnd() const { return write_.Get(); }
    void Start() {
        write_.Reset();  // the child holds its copy
        thread_ = std::thread([this] {
            char buffer[4096];
            DWORD n = 0;
            while (::ReadFile(read_.Get(), buffer, sizeof buffer, &n, nullptr) && n > 0) {
                text_.append(buffer, n);
            }
        });
    }
    std::string Finish() {
        if (thread_.joinable()) {
            thread_.join();
        }
        return text_;
    }
    ~PipeReader() { Finish(); }

private:
    UniqueHandle read_;
    UniqueHandle write_;
    std::thread thread_;
    std::string text_;
};

std::wstring Environment(const std::vector<std::string>& extra) {
    std::map<std::wstring, std::wstring> entries;
    auto upper = [](std::wstring s) {
        std::transform(s.begin(), s.end(), s.begin(), ::towupper);
        return s;
    };
    wchar_t* block = ::GetEnvironmentStringsW();
    for (const wchar_t* p = block; *p; p += wcslen(p) + 1) {
        std::wstring entry = p;
        entries[upper(entry.substr(0, entry.find(L'=', 1)))] = entry;
    }
    ::FreeEnvironmentStringsW(block);
    for (const std::string& e : extra) {
        std::wstring entry = Widen(e);
        entries[upper(entry.substr(0, entry.find(L'=')))] = entry;
    }
    std::wstring result;
    for (const auto& [name, entry] : entries) {
        result += entry;
        result += L'\0';
    }
    result += L'\0';
    return result;
}

}  // namespace

ProcessResult RunProcess(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv) {
    std::wstring program = Widen(argv.at(0));
    wchar_t found[MAX_PATH];
    if (::SearchPathW(nullptr, program.c_str(), L".exe", MAX_PATH, found, nullptr) > 0) {
        program = found;
    }
    std::vector<std::string> arguments = argv;
    arguments[0] = Narrow(program);
    std::wstring commandLine = Widen(WindowsCommandLine(arguments));
    std::wstring environment = Environment(extraEnv);

    PipeReader out, err;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullptr;
    startup.hStdOutput = out.WriteEnd();
    startup.hStdError = err.WriteEnd();
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, CREATE_UNICODE_ENVIRONMENT,
                          environment.data(), nullptr, &startup, &process)) {
        throw std::runtime_error("cannot start " + argv[0] + ": " + win32::SystemMessage(::GetLastError()));
    }
    UniqueHandle processHandle(process.hProcess);
    UniqueHandle threadHandle(process.hThread);
    out.Start();
    err.Start();
    ::WaitForSingleObject(processHandle.Get(), INFINITE);
    DWORD code = 0;
    ProcessResult result;
    result.exitCode = ::GetExitCodeProcess(processHandle.Get(), &code) ? static_cast<int>(code) : -1;
    result.out = out.Finish();
    result.err = err.Finish();
    return result;
}

}  // namespace sealbench::test
