// The board's UART on a loopback TCP port with Telnet COM-port control (vireo-sim
// --rfc2217 PORT), as a serial server in front of a real board's UART would serve
// it: one host at a time, whose line settings and DTR/RTS the serving loop applies
// to the board. While a host is connected the UART is its, not the pty's.
#pragma once

#include <string>

#include "com_port_server.h"
#include "common/unique_fd.h"

namespace vsim {

using sealbench::UniqueFd;

class Rfc2217Port {
public:
    // Listens on 127.0.0.1:port; 0 lets the system choose. Throws std::runtime_error.
    explicit Rfc2217Port(int port);

    int ListenFd() const { return listen_.Get(); }
    // What a host opens: rfc2217://127.0.0.1:PORT.
    const std::string& Address() const { return address_; }

    bool Connected() const { return conn_.Valid(); }
    int ConnFd() const { return conn_.Get(); }
    // Takes a waiting host. A second host while one is connected is turned away, as
    // a serial server does for a port in use. True when a host connected.
    bool Accept();
    void Close();

    ComPortServer& Server() { return server_; }
    // Bytes for the socket: answers as they are, UART data escaped.
    void QueueReply(const Bytes& reply) { out_.insert(out_.end(), reply.begin(), reply.end()); }
    void QueueData(const uint8_t* data, size_t n) { ComPortServer::AppendEscaped(data, n, out_); }
    size_t Waiting() const { return out_.size() - sent_; }
    // Sends what the socket takes now; false when the host has gone.
    bool Flush();

private:
    UniqueFd listen_;
    UniqueFd conn_;
    std::string address_;
    ComPortServer server_;
    Bytes out_;
    size_t sent_ = 0;
};

}  // namespace vsim
