#include "file_test_support.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace sealbench::test {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "sealbench-files-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ignored);
    std::filesystem::remove_all(path_, ignored);
}

std::vector<std::string> TempDir::Entries() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path_)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        ADD_FAILURE() << "cannot read " << path;
        return {};
    }
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
}

bool Exists(const std::string& path) { return std::filesystem::exists(path); }

namespace {

// Drains a pipe on its own thread so that a chatty child never blocks.
class PipeReader {
public:
    PipeReader() {
        if (::pipe(fds_) != 0) {
            throw std::runtime_error("pipe failed");
        }
    }
    ~PipeReader() {
        CloseWriteEnd();
        if (thread_.joinable()) {
            thread_.join();
        }
        ::close(fds_[0]);
    }
    int WriteEnd() const { return fds_[1]; }
    int ReadEnd() const { return fds_[0]; }
    void Start() {
        CloseWriteEnd();
        thread_ = std::thread([this] {
            char buffer[4096];
            ssize_t n;
            while ((n = ::read(fds_[0], buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR)) {
                if (n > 0) {
                    text_.append(buffer, static_cast<size_t>(n));
                }
            }
        });
    }
    std::string Finish() {
        thread_.join();
        return text_;
    }

private:
    void CloseWriteEnd() {
        if (fds_[1] >= 0) {
            ::close(fds_[1]);
            fds_[1] = -1;
        }
    }
    int fds_[2] = {-1, -1};
    std::thread thread_;
    std::string text_;
};

}  // namespace

ProcessResult RunProcess(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv) {
    return RunProcess(argv, ProcessOptions{extraEnv, {}, 120});
}

ProcessResult RunProcess(const std::vector<std::string>& argv, const ProcessOptions& options) {
    const std::vector<std::string>& extraEnv = options.env;
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        std::string entry = *e;
        std::string name = entry.substr(0, entry.find('='));
        bool replaced = std::any_of(extraEnv.begin(), extraEnv.end(),
                                    [&](const std::string& x) { return x.substr(0, x.find('=')) == name; });
        if (!replaced) {
            env.push_back(entry);
        }
    }
    env.insert(env.end(), extraEnv.begin(), extraEnv.end());

    std::vector<std::string> args = argv;
    std::vector<char*> argp, envp;
    for (auto& a : args) {
        argp.push_back(a.data());
    }
    argp.push_back(nullptr);
    for (auto& e : env) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);

    PipeReader out, err;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (options.stdoutPath.empty()) {
        posix_spawn_file_actions_adddup2(&actions, out.WriteEnd(), 1);
    } else {
        posix_spawn_file_actions_addopen(&actions, 1, options.stdoutPath.c_str(), O_WRONLY, 0);
    }
    posix_spawn_file_actions_adddup2(&actions, err.WriteEnd(), 2);
    posix_spawn_file_actions_addclose(&actions, out.ReadEnd());
    posix_spawn_file_actions_addclose(&actions, err.ReadEnd());
    pid_t pid = 0;
    int error = ::posix_spawnp(&pid, argp[0], &actions, nullptr, argp.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        throw std::runtime_error(std::string("cannot start ") + argv[0] + ": " + std::strerror(error));
    }
    out.Start();
    err.Start();
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(options.limitSeconds);
    bool killed = false;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            killed = true;
            while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ProcessResult result;
    result.out = out.Finish();
    result.err = err.Finish();
    result.exitCode = !killed && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

}  // namespace sealbench::test
