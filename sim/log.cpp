#include "log.h"

#include <unistd.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace vsim {

namespace {

constexpr size_t kMaxWaiting = 1000;

class LogWriter {
public:
    LogWriter() {
        std::thread([this] { Run(); }).detach();  // lives as long as the process
    }

    void Push(const std::string& line) {
        std::lock_guard lock(mutex_);
        if (lines_.size() >= kMaxWaiting) {
            ++dropped_;
            return;
        }
        if (dropped_ > 0) {
            lines_.push_back("vireo-sim: " + std::to_string(dropped_) + " diagnostic lines dropped\n");
            dropped_ = 0;
        }
        lines_.push_back("vireo-sim: " + line + "\n");
        changed_.notify_all();
    }

    void Flush(std::chrono::milliseconds limit) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, limit, [this] { return lines_.empty() && !writing_; });
    }

private:
    void Run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            changed_.wait(lock, [this] { return !lines_.empty(); });
            std::string line = std::move(lines_.front());
            lines_.pop_front();
            writing_ = true;
            lock.unlock();
            for (size_t done = 0; done < line.size();) {
                ssize_t n = ::write(STDERR_FILENO, line.data() + done, line.size() - done);
                if (n <= 0) break;
                done += static_cast<size_t>(n);
            }
            lock.lock();
            writing_ = false;
            changed_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::string> lines_;
    size_t dropped_ = 0;
    bool writing_ = false;
};

LogWriter& Writer() {
    // Never destroyed: the writer thread may still be blocked in write() at exit.
    static LogWriter* writer = new LogWriter;
    return *writer;
}

}  // namespace

void LogLine(const std::string& line) { Writer().Push(line); }

void FlushLog(std::chrono::milliseconds limit) { Writer().Flush(limit); }

}  // namespace vsim
