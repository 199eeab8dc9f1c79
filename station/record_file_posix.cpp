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

void RecordFile::CloseHandle::operator()(Handle* handle) const { delete handle; }

RecordFile::HandlePtr RecordFile::OpenForAppend(const std::string& path, bool* unfinished, std::string* why) {
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
    struct stat st {};
    if (!fd.Valid() || ::fstat(fd.Get(), &st) != 0) {
        *why = std::strerror(errno);
        return nullptr;
    }
    if (!S_ISREG(st.st_mode)) {
        *why = "not a regular file";
        return nullptr;
    }
    char last = '\n';
    *unfinished = st.st_size > 0 && ::pread(fd.Get(), &last, 1, st.st_size - 1) == 1 && last != '\n';
    return HandlePtr(new Handle{std::move(fd)});
}

bool RecordFile::WriteSynced(Handle& handle, std::string_view line, std::string* why) {
    size_t done = 0;
    while (done < line.size()) {
        const ssize_t n = ::write(handle.fd.Get(), line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            *why = std::string("the write failed: ") + std::strerror(errno);
            return false;
        }
        done += static_cast<size_t>(n);
    }
    if (::fsync(handle.fd.Get()) != 0) {
        *why = std::string("the sync to the disk failed: ") + std::strerror(errno);
        return false;
    }
    return true;
}

}  // namespace sealbench
