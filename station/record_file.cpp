#include "station/record_file.h"

namespace sealbench {

Outcome RecordFile::Append(const BoardRecord& record) {
    std::lock_guard lock(mutex_);
    return WriteLine(RecordLine(record) + "\n");
}

}  // namespace sealbench
