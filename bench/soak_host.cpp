#include "soak_host.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

extern char** environ;

namespace soak {
namespace {

int CountEntries(const std::string& dir) {
    std::error_code error;
    int count = 0;
    for (auto it = std::filesystem::directory_iterator(dir, error); !error && it != std::filesystem::end(it);
         it.increment(error)) {
        ++count;
    }
    return error ? -1 : count;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

Footprint FootprintOf(const std::string& pid) {
    Footprint f;
    f.fds = CountEntries("/proc/" + pid + "/fd");
    f.threads = CountEntries("/proc/" + pid + "/task");
    return f;
}

Footprint SettleWithin(const std::string& pid, const Footprint& baseline, std::chrono::milliseconds limit) {
    auto deadline = Clock::now() + limit;
    Footprint now = FootprintOf(pid);
    while (!(now <= baseline) && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        now = FootprintOf(pid);
    }
    return now;
}

CliProcess::CliProcess(const std::string& cli, const std::vector<std::string>& args, const std::string& dir, int id)
    : start_(Clock::now()),
      outPath_(dir + "/cli" + std::to_string(id) + ".out"),
      errPath_(dir + "/cli" + std::to_string(id) + ".err") {
    std::vector<std::string> all = {cli};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int error = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        // Say so in its output, or the report shows a run that failed without a word
        // (a binary being relinked while the soak runs is one way to get here).
        pid_ = -1;
        done_ = true;
        finished_.end = Clock::now();
        finished_.err = "could not start " + cli + ": " + std::strerror(error) + "\n";
    }
}

void CliProcess::Collect(int status) {
    done_ = true;
    finished_.end = Clock::now();
    finished_.seconds = std::chrono::duration<double>(finished_.end - start_).count();
    finished_.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    finished_.out = ReadAll(outPath_);
    finished_.err = ReadAll(errPath_);
    if (WIFSIGNALED(status)) finished_.err += "ended by signal " + std::to_string(WTERMSIG(status)) + "\n";
    std::filesystem::remove(outPath_);
    std::filesystem::remove(errPath_);
}

bool CliProcess::Poll() {
    if (done_ || pid_ <= 0) return true;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) != pid_) return false;
    Collect(status);
    return true;
}

Finished CliProcess::Wait(std::chrono::seconds limit, const std::function<void(double)>& during) {
    while (!Poll()) {
        double elapsed = std::chrono::duration<double>(Clock::now() - start_).count();
        if (Clock::now() - start_ > limit) {
            kill(pid_, SIGKILL);
            int status = 0;
            waitpid(pid_, &status, 0);
            Collect(status);
            finished_.status = -1;
            finished_.timedOut = true;
            break;
        }
        if (during) during(elapsed);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return finished_;
}

std::vector<uint8_t> RandomImage(size_t size, std::mt19937_64& random) {
    std::vector<uint8_t> bytes(size);
    for (auto& b : bytes) b = static_cast<uint8_t>(random());
    return bytes;
}

std::vector<uint8_t> ReturningImage(uint32_t ramBase, size_t size, std::mt19937_64& random) {
    // ldr r0, [pc, #8]; ldr r1, [pc, #8]; str r1, [r0]; b . ; then the two words:
    // the boot-control register (system control at RAM base + 0x3800B000 on both
    // processors) and the key that returns to the boot ROM.
    const uint32_t words[] = {0xE59F0008, 0xE59F1008, 0xE5801000, 0xEAFFFFFE, ramBase + 0x3800B008, 0x524F4D21};
    std::vector<uint8_t> image = RandomImage(std::max<size_t>(size, sizeof words), random);
    for (size_t i = 0; i < std::size(words); ++i) {
        for (int b = 0; b < 4; ++b) image[4 * i + b] = static_cast<uint8_t>(words[i] >> (8 * b));
    }
    return image;
}

void WriteImage(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::string Tail(const std::string& text, int lines) {
    size_t at = text.size();
    if (at > 0 && text.back() == '\n') --at;
    for (int i = 0; i < lines && at > 0; ++i) {
        size_t lineFeed = text.rfind('\n', at - 1);
        if (lineFeed == std::string::npos) return text;
        at = lineFeed;
    }
    return at == 0 ? text : text.substr(at + 1);
}

}  // namespace soak
