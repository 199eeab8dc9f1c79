#include "station/record_file.h"

namespace sealbench {

RecordFile::RecordFile(std::string path, HandlePtr handle) : path_(std::move(path)), handle_(std::move(handle)) {}

RecordFile::~RecordFile() = default;

Result<std::unique_ptr<RecordFile>> RecordFile::Open(const std::string& path) {
    Result<std::unique_ptr<RecordFile>> result;
    bool unfinished = false;
    std::string why;
    HandlePtr handle = OpenForAppend(path, &unfinished, &why);
    if (!handle) {
        result.outcome = Outcome::Failure(FailureKind::File, "cannot keep the record in " + path + ": " + why);
        return result;
    }
    std::unique_ptr<RecordFile> file(new RecordFile(path, std::move(handle)));
    if (unfinished) {
        if (Outcome closed = file->WriteLine("\n"); !closed.Ok()) {
            result.outcome = closed;
            return result;
        }
    }
    result.value = std::move(file);
    return result;
}

Outcome RecordFile::Append(const BoardRecord& record) {
    std::lock_guard lock(mutex_);
    return WriteLine(RecordLine(record) + "\n");
}

Outcome RecordFile::WriteLine(std::string_view line) {
    std::string why;
    if (!WriteSynced(*handle_, line, &why)) {
        return Outcome::Failure(FailureKind::File, "cannot keep the record in " + path_ + ": " + why);
    }
    return Outcome::Success();
}

}  // namespace sealbench
