// Output files that appear whole or not at all. Every file the file tools write
// (HWC, CSF, combined image, S-records) ends up in silicon or in a programmer, so
// a half-written file must never be left where the user expects a good one: the
// bytes go to a temporary file in the target's folder, which replaces the target
// by a rename only after the last byte was written. A file that is dropped or
// fails is removed, and an existing target stays as it was.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "common/outcome.h"

namespace sealbench {

class AtomicFile {
public:
    AtomicFile(AtomicFile&& other) noexcept;
    AtomicFile& operator=(AtomicFile&& other) noexcept;
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;
    // Removes the temporary file unless Commit succeeded.
    ~AtomicFile();

    // Starts a file that will replace `path`. On failure returns an empty pointer
    // and puts the reason into `error`.
    static std::unique_ptr<AtomicFile> Create(const std::string& path, std::string& error);

    // Buffered; false after the first failure, whose reason Error() keeps.
    bool Write(const void* data, size_t size);
    bool Write(std::string_view text) { return Write(text.data(), text.size()); }
    bool Write(std::span<const uint8_t> bytes) { return Write(bytes.data(), bytes.size()); }

    // Flushes and renames over the target. False (with Error()) when any
    // write failed or the rename did; the temporary file is then removed.
    bool Commit();

    const std::string& Error() const { return error_; }
    const std::string& Path() const { return path_; }

private:
    AtomicFile(std::string path, std::string tempPath, int fd);
    bool Flush();
    bool WriteAll(const char* bytes, size_t size);
    bool Fail(std::string_view what);
    void Discard();

    std::string path_;
    std::string tempPath_;
    int fd_ = -1;
    std::unique_ptr<char[]> buffer_;
    size_t used_ = 0;
    std::string error_;
};

// Writes a whole file through AtomicFile; a failure's message is the reason.
Outcome WriteFileAtomically(const std::string& path, std::span<const uint8_t> bytes);

}  // namespace sealbench
