#include "download/run/session.h"

#include "download/run/run_view.h"

namespace sealbench {

void AppendLog(RunView& view, Session& session, std::string_view line) {
    int count = session.logLines.fetch_add(1, std::memory_order_relaxed) + 1;
    view.AppendLog(line, count);
}

}  // namespace sealbench
