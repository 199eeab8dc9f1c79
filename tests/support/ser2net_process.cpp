#include "ser2net_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include "hostile_peers.h"

extern char** environ;

namespace sealtest {
namespace {

namespace fs = std::filesystem;

// Socket inodes that the process holds open.
std::set<std::string> SocketInodes(pid_t pid) {
    std::set<std::string> inodes;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
        std::string target = fs::read_symlink(entry.path(), ec).string();
        if (!ec && target.rfind("socket:[", 0) == 0) {
            inodes.insert(target.substr(8, target.size() - 9));
        }
    }
    return inodes;
}

// The TCP port on which the process listens, 0 while it does not. ser2net is told
// to bind port 0, so the kernel picks a free one and no test can collide with another.
int ListeningPort(pid_t pid) {
    const auto inodes = SocketInodes(pid);
    for (const char* table : {"tcp", "tcp6"}) {
        std::ifstream in("/proc/" + std::to_string(pid) + "/net/" + table);
        std::string line;
        std::getline(in, line);
        while (std::getline(in, line)) {
            std::istringstream fields(line);
            std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
            fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >> timeout >> inode;
            if (state == "0A" && inodes.count(inode)) {  // 0A: LISTEN
                return static_cast<int>(std::stoul(local.substr(local.rfind(':') + 1), nullptr, 16));
            }
        }
    }
    return 0;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

std::string Ser2netProcess::Executable() {
    for (const char* dir : {"/usr/sbin", "/usr/bin", "/usr/local/sbin", "/usr/local/bin"}) {
        std::string path = std::string(dir) + "/ser2net";
        if (::access(path.c_str(), X_OK) == 0) {
            return path;
        }
    }
    return {};
}

Ser2netProcess::Ser2netProcess(const std::string& device, Kind kind, const std::string& line, int bufferSize,
                               bool kickOldUser)
    : kind_(kind) {
    const std::string exe = Executable();
    if (exe.empty()) {
        error_ = "ser2net is not installed (scripts/install-deps.sh installs it)";
        return;
    }
    char pattern[] = "/tmp/sealbench-ser2net-XXXXXX";
    dir_ = ::mkdtemp(pattern);
    const std::string config = dir_ + "/ser2net.yaml";
    {
        std::ofstream out(config);
        out << "connection: &board\n"
            << "  accepter: " << (kind == Kind::Rfc2217 ? "telnet(rfc2217),tcp" : "tcp") << ",127.0.0.1,0\n"
            << "  connector: serialdev," << device << "," << line << ",local\n"
            << "  options:\n"
            << "    kickolduser: " << (kickOldUser ? "true" : "false") << "\n";
        if (bufferSize > 0) {
            out << "    chardelay: false\n"
                << "    net-to-dev-bufsize: " << bufferSize << "\n"
                << "    dev-to-net-bufsize: " << bufferSize << "\n";
        }
    }
    const std::string log = dir_ + "/ser2net.log";
    // -n: stay in the foreground; -u: no UUCP lock files, which a test may not write.
    std::vector<std::string> args = {exe, "-n", "-u", "-c", config, "-P", dir_ + "/ser2net.pid"};
    std::vector<char*> argv;
    for (auto& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    int r = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (r != 0) {
        pid_ = -1;
        error_ = "cannot start " + exe;
        return;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            error_ = "ser2net ended at once: " + ReadAll(log);
            return;
        }
        port_ = ListeningPort(pid_);
        if (port_ > 0) {
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    error_ = "ser2net did not listen within 20 s: " + ReadAll(log);
}

Ser2netProcess::~Ser2netProcess() {
    Kill(SIGTERM);
    if (!dir_.empty()) {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
}

std::string Ser2netProcess::Url() const {
    return std::string(kind_ == Kind::Rfc2217 ? "rfc2217" : "socket") + "://127.0.0.1:" + std::to_string(port_);
}

void Ser2netProcess::Kill(int signal) {
    if (pid_ <= 0) {
        return;
    }
    ::kill(pid_, signal);
    int status = 0;
    for (int i = 0; i < 200; ++i) {  // up to 10 s
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
}

RefusingPort::RefusingPort() { fd_ = BindLoopback(&port_); }

RefusingPort::~RefusingPort() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

}  // namespace sealtest
