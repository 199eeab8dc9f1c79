// Runs the real ser2net for tests and benchmarks: exports one device (the
// virtual board's pty) on an ephemeral loopback port, as RFC 2217 or raw TCP,
// with a configuration file of its own in a temporary folder.
#pragma once

#include <sys/types.h>

#include <string>

namespace sealtest {

class Ser2netProcess {
public:
    enum class Kind { Rfc2217, Raw };

    // `line` is ser2net's line setting for the device when a client connects
    // ("115200n81"); RFC 2217 clients change it. `bufferSize` sets ser2net's
    // buffers both ways and turns off its wait for more characters before it
    // forwards an answer (0: its defaults, 64 bytes and the wait). With
    // `kickOldUser` a new client takes the port from the one connected before;
    // without it the newcomer is refused.
    Ser2netProcess(const std::string& device, Kind kind, const std::string& line = "115200n81", int bufferSize = 0,
                   bool kickOldUser = true);
    ~Ser2netProcess();
    Ser2netProcess(const Ser2netProcess&) = delete;
    Ser2netProcess& operator=(const Ser2netProcess&) = delete;

    bool ok() const { return pid_ > 0 && port_ > 0; }
    const std::string& error() const { return error_; }
    int port() const { return port_; }
    // rfc2217://127.0.0.1:PORT or socket://127.0.0.1:PORT
    std::string Url() const;
    pid_t pid() const { return pid_; }

    // Sends a signal and reaps the process (bounded); SIGKILL is a crash.
    void Kill(int signal);

    // The ser2net executable, or empty when it is not installed.
    static std::string Executable();

private:
    Kind kind_;
    pid_t pid_ = -1;
    int port_ = 0;
    std::string dir_;
    std::string error_;
};

// A loopback TCP port that is held bound but never listens, so connecting to it
// is refused and no other program can take it meanwhile.
class RefusingPort {
public:
    RefusingPort();
    ~RefusingPort();
    RefusingPort(const RefusingPort&) = delete;
    RefusingPort& operator=(const RefusingPort&) = delete;
    int port() const { return port_; }

private:
    int fd_ = -1;
    int port_ = 0;
};

}  // namespace sealtest
