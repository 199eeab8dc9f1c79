// AtomicFile on Windows: the temporary file is created beside the target (never
// over an existing one), flushed to the disk with FlushFileBuffers, and moved over
// the target with MoveFileExW (replace, write through). Paths are UTF-8 and go to
// the wide calls, so any name Windows allows works. The descriptor kept in the
// object is the C runtime's view of the file handle.
#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <utility>

#include "common/atomic_file.h"
#include "common/win32_support.h"

namespace sealbench {
namespace {

using win32::SystemMessage;
using win32::Widen;

constexpr int kNameAttempts = 100;

std::string Describe(std::string_view what, const std::string& path, DWORD code) {
    std::string text(what);
    text += " ";
    text += path;
    text += ": ";
    text += SystemMessage(code);
    return text;
}

size_t LastSeparator(const std::string& path) { return path.find_last_of("/\\"); }

std::string FolderOf(const std::string& path) {
    size_t slash = LastSeparator(path);
    if (slash != std::string::npos) {
        return path.substr(0, slash + 1);
    }
    // "C:name" lives in drive C's current folder.
    return path.size() >= 2 && path[1] == ':' ? path.substr(0, 2) : std::string();
}

std::string BaseOf(const std::string& path) {
    size_t slash = LastSeparator(path);
    if (slash == std::string::npos) {
        return path.size() >= 2 && path[1] == ':' ? path.substr(2) : path;
    }
    return path.substr(slash + 1);
}

// A name no other writer picks: the process, a counter and the clock.
std::string UniqueSuffix() {
    static std::atomic<unsigned> counter{0};
    LARGE_INTEGER now{};
    ::QueryPerformanceCounter(&now);
    char text[48];
    std::snprintf(text, sizeof text, ".%lx%x%llx", ::GetCurrentProcessId(), counter.fetch_add(1),
                  static_cast<unsigned long long>(now.QuadPart) & 0xFFFFFF);
    return text;
}

HANDLE HandleOf(int fd) { return reinterpret_cast<HANDLE>(::_get_osfhandle(fd)); }

}  // namespace

std::unique_ptr<AtomicFile> AtomicFile::Create(const std::string& path, std::string& error) {
    if (path.empty()) {
        error = "No output file given";
        return nullptr;
    }
    DWORD attributes = ::GetFileAttributesW(Widen(path).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        error = "Cannot write " + path + ": it is a folder";
        return nullptr;
    }
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        std::string temp = FolderOf(path) + "." + BaseOf(path) + UniqueSuffix();
        // Attributes other than normal would stay with the file after the move.
        HANDLE handle =
            ::CreateFileW(Widen(temp).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            DWORD code = ::GetLastError();
            if (code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS) {
                continue;
            }
            error = Describe("Cannot create a file beside", path, code);
            return nullptr;
        }
        int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
        if (fd < 0) {
            ::CloseHandle(handle);
            ::DeleteFileW(Widen(temp).c_str());
            error = "Cannot create a file beside " + path + ": out of file descriptors";
            return nullptr;
        }
        return std::unique_ptr<AtomicFile>(new AtomicFile(path, temp, fd));
    }
    error = "Cannot create a file beside " + path + ": no free temporary name";
    return nullptr;
}

bool AtomicFile::WriteAll(const char* bytes, size_t size) {
    while (size > 0) {
        DWORD part = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
        DWORD written = 0;
        if (!::WriteFile(HandleOf(fd_), bytes, part, &written, nullptr) || written == 0) {
            return Fail("Cannot write");
        }
        bytes += written;
        size -= written;
    }
    return true;
}

bool AtomicFile::Fail(std::string_view what) {
    DWORD code = ::GetLastError();
    if (error_.empty()) {
        error_ = Describe(what, path_, code);
    }
    return false;
}

bool AtomicFile::Commit() {
    if (fd_ < 0 || !error_.empty()) {
        Discard();
        return false;
    }
    // Unlike a rename on Linux, a replacing move on NTFS does not order the data
    // before the new name: without the flush a crash could leave an empty target.
    bool ok = Flush();
    if (ok && !::FlushFileBuffers(HandleOf(fd_))) {
        ok = Fail("Cannot write");
    }
    ::_close(std::exchange(fd_, -1));
    if (ok && !::MoveFileExW(Widen(tempPath_).c_str(), Widen(path_).c_str(),
                             MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        ok = Fail("Cannot replace");
    }
    if (!ok) {
        Discard();
        return false;
    }
    tempPath_.clear();
    return true;
}

void AtomicFile::Discard() {
    if (fd_ >= 0) {
        ::_close(std::exchange(fd_, -1));
    }
    if (!tempPath_.empty()) {
        ::DeleteFileW(Widen(tempPath_).c_str());
        tempPath_.clear();
    }
}

}  // namespace sealbench
