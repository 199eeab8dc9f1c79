// The --record file: one line per board, appended, flushed and synced to the disk
// before the caller says anything about the board, so that a station that is killed
// or loses power keeps every board it reported. Opened before any board is touched,
// so that a record that cannot be kept stops the station at once. Shared by the
// slots' threads. One file per platform (record_file_posix.cpp, record_file_win32.cpp).
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "common/outcome.h"
#include "station/board_record.h"

namespace sealbench {

class RecordFile {
public:
    // Opens (creating) `path` for appending; FailureKind::File with the reason when
    // it cannot. A last line that an earlier run left unfinished is closed with a
    // line feed, so that the next record starts a line of its own.
    static Result<std::unique_ptr<RecordFile>> Open(const std::string& path);
    ~RecordFile();
    RecordFile(const RecordFile&) = delete;
    RecordFile& operator=(const RecordFile&) = delete;

    // Appends RecordLine(record) and a line feed, and returns once it is on the disk.
    Outcome Append(const BoardRecord& record);
    const std::string& Path() const { return path_; }

private:
    // The platform's open file and its part of the work (record_file_posix.cpp,
    // record_file_win32.cpp): opening for appending, telling whether the last line
    // lacks its line feed, and one write of a whole line (so that appends of lines
    // never interleave) followed by a sync.
    struct Handle;
    struct CloseHandle {
        void operator()(Handle* handle) const;
    };
    using HandlePtr = std::unique_ptr<Handle, CloseHandle>;
    static HandlePtr OpenForAppend(const std::string& path, bool* unfinished, std::string* why);
    static bool WriteSynced(Handle& handle, std::string_view line, std::string* why);

    RecordFile(std::string path, HandlePtr handle);
    Outcome WriteLine(std::string_view line);

    std::string path_;
    std::mutex mutex_;
    HandlePtr handle_;  // under mutex_
};

}  // namespace sealbench
