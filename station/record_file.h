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
    struct Handle;
    RecordFile(std::string path, std::unique_ptr<Handle> handle);
    // One write of the whole line (appends of one line never interleave), then sync.
    Outcome WriteLine(std::string_view line);

    std::string path_;
    std::mutex mutex_;
    std::unique_ptr<Handle> handle_;  // under mutex_
};

}  // namespace sealbench
