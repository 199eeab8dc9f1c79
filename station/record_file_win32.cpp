#include <windows.h>

#include "common/win32_support.h"
#include "station/record_file.h"

namespace sealbench {

using win32::SystemMessage;
using win32::UniqueHandle;
using win32::Widen;

struct RecordFile::Handle {
    UniqueHandle file;
};

void RecordFile::CloseHandle::operator()(Handle* handle) const { delete handle; }

RecordFile::HandlePtr RecordFile::OpenForAppend(const std::string& path, bool* unfinished, std::string* why) {
    // FILE_APPEND_DATA without FILE_WRITE_DATA: every write goes to the end, whoever else appends.
    UniqueHandle file(::CreateFileW(Widen(path).c_str(), FILE_APPEND_DATA | GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                    nullptr));
    if (!file.Valid()) {
        *why = SystemMessage(::GetLastError());
        return nullptr;
    }
    if (::GetFileType(file.Get()) != FILE_TYPE_DISK) {
        *why = "not a regular file";
        return nullptr;
    }
    LARGE_INTEGER size{};
    *unfinished = false;
    if (::GetFileSizeEx(file.Get(), &size) && size.QuadPart > 0) {
        OVERLAPPED at{};
        const ULONGLONG lastByte = static_cast<ULONGLONG>(size.QuadPart - 1);
        at.Offset = static_cast<DWORD>(lastByte);
        at.OffsetHigh = static_cast<DWORD>(lastByte >> 32);
        char last = '\n';
        DWORD got = 0;
        *unfinished = ::ReadFile(file.Get(), &last, 1, &got, &at) && got == 1 && last != '\n';
    }
    return HandlePtr(new Handle{std::move(file)});
}

bool RecordFile::WriteSynced(Handle& handle, std::string_view line, std::string* why) {
    DWORD written = 0;
    if (!::WriteFile(handle.file.Get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr) ||
        written != line.size()) {
        *why = "the write failed: " + SystemMessage(::GetLastError());
        return false;
    }
    if (!::FlushFileBuffers(handle.file.Get())) {
        *why = "the sync to the disk failed: " + SystemMessage(::GetLastError());
        return false;
    }
    return true;
}

}  // namespace sealbench
