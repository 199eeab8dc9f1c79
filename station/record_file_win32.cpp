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

RecordFile::RecordFile(std::string path, std::unique_ptr<Handle> handle)
    : path_(std::move(path)), handle_(std::move(handle)) {}

RecordFile::~RecordFile() = default;

Result<std::unique_ptr<RecordFile>> RecordFile::Open(const std::string& path) {
    Result<std::unique_ptr<RecordFile>> result;
    const auto fail = [&](const std::string& why) {
        result.outcome = Outcome::Failure(FailureKind::File, "cannot keep the record in " + path + ": " + why);
        return std::move(result);
    };
    // FILE_APPEND_DATA without FILE_WRITE_DATA: every write goes to the end, whoever else appends.
    UniqueHandle file(::CreateFileW(Widen(path).c_str(), FILE_APPEND_DATA | GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                    nullptr));
    if (!file.Valid()) return fail(SystemMessage(::GetLastError()));
    if (::GetFileType(file.Get()) != FILE_TYPE_DISK) return fail("not a regular file");
    LARGE_INTEGER size{};
    ::GetFileSizeEx(file.Get(), &size);
    auto handle = std::make_unique<Handle>();
    handle->file = std::move(file);
    std::unique_ptr<RecordFile> record(new RecordFile(path, std::move(handle)));
    if (size.QuadPart > 0) {
        OVERLAPPED at{};
        const ULONGLONG lastByte = static_cast<ULONGLONG>(size.QuadPart - 1);
        at.Offset = static_cast<DWORD>(lastByte);
        at.OffsetHigh = static_cast<DWORD>(lastByte >> 32);
        char last = '\n';
        DWORD got = 0;
        if (::ReadFile(record->handle_->file.Get(), &last, 1, &got, &at) && got == 1 && last != '\n') {
            if (Outcome o = record->WriteLine("\n"); !o.Ok()) {
                result.outcome = o;
                return result;
            }
        }
    }
    result.value = std::move(record);
    return result;
}

Outcome RecordFile::WriteLine(std::string_view line) {
    DWORD written = 0;
    if (!::WriteFile(handle_->file.Get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr) ||
        written != line.size()) {
        return Outcome::Failure(FailureKind::File,
                                "cannot write the record to " + path_ + ": " + SystemMessage(::GetLastError()));
    }
    if (!::FlushFileBuffers(handle_->file.Get())) {
        return Outcome::Failure(FailureKind::File, "cannot sync the record to the disk (" + path_ +
                                                       "): " + SystemMessage(::GetLastError()));
    }
    return Outcome::Success();
}

}  // namespace sealbench
