#include "diagnostics.h"

#include <bootwire/bootwire.h>

#include <cstdio>
#include <mutex>

namespace bootwire {
namespace {

std::mutex& HandlerMutex() {
    static std::mutex mutex;
    return mutex;
}

DiagnosticHandler& ProcessHandler() {
    static DiagnosticHandler handler;
    return handler;
}

thread_local DiagnosticHandler* threadHandler = nullptr;

}  // namespace

void SetDiagnosticHandler(DiagnosticHandler handler) {
    std::lock_guard lock(HandlerMutex());
    ProcessHandler() = std::move(handler);
}

DiagnosticScope::DiagnosticScope(DiagnosticHandler handler)
    : previous_(threadHandler), handler_(std::make_unique<DiagnosticHandler>(std::move(handler))) {
    threadHandler = handler_.get();
}

DiagnosticScope::~DiagnosticScope() { threadHandler = previous_; }

void Diagnose(std::string_view line) {
    if (threadHandler && *threadHandler) {
        (*threadHandler)(line);
        return;
    }
    DiagnosticHandler handler;
    {
        std::lock_guard lock(HandlerMutex());
        handler = ProcessHandler();
    }
    if (handler) {
        handler(line);
        return;
    }
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);  // a line as it happens, also when stdout is a pipe
}

}  // namespace bootwire
