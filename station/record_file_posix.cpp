#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/unique_fd.h"
#include "station/record_file.h"

namespace sealbench {

struct RecordFile::Handle {
    UniqueFd fd;
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
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
    if (!fd.Valid()) return fail(std::strerror(errno));
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0) return fail(std::strerror(errno));
    if (!S_ISREG(st.st_mode)) return fail("not a regular file");
    auto handle = std::make_unique<Handle>();
    handle->fd = std::move(fd);
    std::unique_ptr<RecordFile> file(new RecordFile(path, std::move(handle)));
    char last = '\n';
    if (st.st_size > 0 && ::pread(file->handle_->fd.Get(), &last, 1, st.st_size - 1) == 1 && last != '\n') {
        if (Outcome o = file->WriteLine("\n"); !o.Ok()) {
            result.outcome = o;
            return result;
        }
    }
    result.value = std::move(file);
    return result;
}

Outcome RecordFile::WriteLine(std::string_view line) {
    size_t done = 0;
    while (done < line.size()) {
        const ssize_t n = ::write(handle_->fd.Get(), line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            return Outcome::Failure(FailureKind::File,
                                    "cannot write the record to " + path_ + ": " + std::strerror(errno));
        }
        done += static_cast<size_t>(n);
    }
    if (::fsync(handle_->fd.Get()) != 0) {
        return Outcome::Failure(FailureKind::File,
                                "cannot sync the record to the disk (" + path_ + "): " + std::strerror(errno));
    }
    return Outcome::Success();
}

}  // namespace sealbench
