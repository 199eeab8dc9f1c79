// The sealbench program as a process: --help and --version where no display is
// available, and the virtual board of --simulate ending with the window however
// the window ends.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// The environment of this test without the variables named.
std::vector<std::string> EnvironmentWithout(std::initializer_list<const char*> names) {
    std::vector<std::string> kept;
    for (char** e = environ; *e != nullptr; ++e) {
        std::string entry = *e;
        bool drop = false;
        for (const char* name : names) drop = drop || entry.rfind(std::string(name) + "=", 0) == 0;
        if (!drop) kept.push_back(entry);
    }
    return kept;
}

struct Child {
    pid_t pid = -1;
    int out = -1;  // standard output and error together
};

Child Spawn(const std::vector<std::string>& args, std::vector<std::string> env) {
    Child child;
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) return child;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDERR_FILENO);
    std::vector<std::string> all{SEALBENCH_GUI_PATH};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    if (posix_spawn(&child.pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) child.pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    child.out = pipeFds[0];
    return child;
}

// Reads until the child closes its output or `limit` passes.
std::string ReadAll(int fd, std::chrono::seconds limit) {
    std::string text;
    auto deadline = Clock::now() + limit;
    while (Clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 200) <= 0) continue;
        char buffer[4096];
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0) break;
        text.append(buffer, static_cast<size_t>(n));
    }
    return text;
}

// The exit status, or -1 when the child did not end within `limit` (it is then killed).
int Wait(pid_t pid, std::chrono::seconds limit) {
    auto deadline = Clock::now() + limit;
    int status = 0;
    while (Clock::now() < deadline) {
        if (waitpid(pid, &status, WNOHANG) == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
}

// A process that has ended: gone, or a zombie nobody has reaped yet.
bool Ended(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) return true;
    size_t close = line.rfind(')');
    return close != std::string::npos && close + 2 < line.size() && line[close + 2] == 'Z';
}

// The pid of the first child of `parent` whose command name is `name`; -1 when none.
pid_t ChildNamed(pid_t parent, const std::string& name) {
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::string base = entry.path().filename();
        if (base.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        if (!std::getline(stat, line)) continue;
        size_t open = line.find('(');
        size_t close = line.rfind(')');
        if (open == std::string::npos || close == std::string::npos) continue;
        int ppid = 0;
        char state = 0;
        if (std::sscanf(line.c_str() + close + 2, "%c %d", &state, &ppid) != 2) continue;
        if (ppid == parent && line.substr(open + 1, close - open - 1) == name) return std::stoi(base);
    }
    return -1;
}

bool WaitUntil(const std::function<bool()>& done, std::chrono::seconds limit) {
    auto deadline = Clock::now() + limit;
    while (Clock::now() < deadline) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return done();
}

TEST(SealbenchProcess, HelpAndVersionNeedNoDisplay) {
    std::vector<std::string> env = EnvironmentWithout({"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"});
    for (const char* flag : {"--version", "-V"}) {
        Child version = Spawn({flag}, env);
        ASSERT_GT(version.pid, 0);
        std::string text = ReadAll(version.out, std::chrono::seconds(30));
        close(version.out);
        EXPECT_EQ(Wait(version.pid, std::chrono::seconds(30)), 0) << text;
        EXPECT_EQ(text, std::string("sealbench ") + SEALBENCH_VERSION + "\n");
    }
    Child help = Spawn({"--help"}, env);
    ASSERT_GT(help.pid, 0);
    std::string text = ReadAll(help.out, std::chrono::seconds(30));
    close(help.out);
    EXPECT_EQ(Wait(help.pid, std::chrono::seconds(30)), 0) << text;
    EXPECT_NE(text.find("--simulate"), std::string::npos) << text;
    EXPECT_NE(text.find("--version"), std::string::npos) << text;
}

class VirtualBoardLifetime : public ::testing::TestWithParam<int> {};

TEST_P(VirtualBoardLifetime, TheBoardEndsWithTheWindow) {
    const int signal = GetParam();
    std::vector<std::string> env = EnvironmentWithout({"QT_QPA_PLATFORM"});
    env.push_back("QT_QPA_PLATFORM=offscreen");
    Child window = Spawn({"--simulate", "VireoB"}, env);
    ASSERT_GT(window.pid, 0);
    pid_t board = -1;
    ASSERT_TRUE(WaitUntil([&] { return (board = ChildNamed(window.pid, "vireo-sim")) > 0; }, std::chrono::seconds(60)))
        << "the window started no virtual board";
    // The window watches for the signal from before it starts the board.
    ASSERT_EQ(kill(window.pid, signal), 0);
    int status = Wait(window.pid, std::chrono::seconds(60));
    if (signal == SIGKILL) {
        EXPECT_EQ(status, 128 + SIGKILL);
    } else {
        EXPECT_EQ(status, 0) << "the window did not close on " << strsignal(signal);
    }
    EXPECT_TRUE(WaitUntil([&] { return Ended(board); }, std::chrono::seconds(30)))
        << "the virtual board outlived the window (" << strsignal(signal) << ")";
    close(window.out);
    if (!Ended(board)) kill(board, SIGKILL);
}

INSTANTIATE_TEST_SUITE_P(Signals, VirtualBoardLifetime, ::testing::Values(SIGTERM, SIGINT, SIGKILL),
                         [](const ::testing::TestParamInfo<int>& signal) {
                             return std::string(sigabbrev_np(signal.param));
                         });

}  // namespace
