// The server's side of Telnet COM-PORT-OPTION (RFC 854, RFC 2217) as vireo-sim
// speaks it to a host on its --rfc2217 port, with no I/O: the host's stream is
// split into UART data and commands, option negotiation and the COM-port requests
// are answered, and the line the host asked for (speed, framing, DTR, RTS) is kept
// for the serving loop to apply. The board's own code, not the host library's, so
// that it stays a witness of what the host sends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vsim {

using Bytes = std::vector<uint8_t>;

// The serial line as the host set it through the server.
struct HostLine {
    uint32_t baud = 9600;  // what a port starts at until the host chooses
    uint8_t dataSize = 8;
    uint8_t parity = 1;    // 1 none, 2 odd, 3 even, 4 mark, 5 space
    uint8_t stopSize = 1;  // 1 one, 2 two, 3 one and a half
    bool dtr = false;
    bool rts = false;
    bool operator==(const HostLine&) const = default;
};

// "115200 baud, 8 data bits, no parity, 1 stop bit".
std::string DescribeFraming(const HostLine& line);

class ComPortServer {
public:
    // Takes bytes from the host: UART data is appended to `data`, what the server
    // sends back (negotiation and answers) to `reply`. Stops right after a request
    // that changed DTR or RTS, so that the data before it reaches the board before
    // the line acts; returns how many bytes it took.
    size_t Feed(const uint8_t* bytes, size_t n, Bytes& data, Bytes& reply);

    // Appends UART data for the host with every 0xFF doubled.
    static void AppendEscaped(const uint8_t* data, size_t n, Bytes& out);

    const HostLine& Line() const { return line_; }
    // The host asked the server to hold its data back (FLOWCONTROL-SUSPEND).
    bool Suspended() const { return suspended_; }
    // The host asked for the data waiting for it to be dropped (PURGE-DATA); once.
    bool TakePurgeRequest() {
        bool purge = purge_;
        purge_ = false;
        return purge;
    }

private:
    enum class State { Data, Iac, Verb, SubOption, SubData, SubIac };
    static constexpr size_t kMaxPayload = 64;

    void AfterIac(uint8_t byte, Bytes& data);
    void Negotiate(uint8_t verb, uint8_t option, Bytes& reply);
    void Subnegotiation(Bytes& reply);
    void Answer(uint8_t command, const Bytes& value, Bytes& reply);
    uint8_t Control(uint8_t value);

    State state_ = State::Data;
    uint8_t verb_ = 0;
    uint8_t subOption_ = 0;
    Bytes payload_;
    bool ours_[256] = {};    // options the server does
    bool theirs_[256] = {};  // options the host does
    HostLine line_;
    bool breakOn_ = false;
    bool controlChanged_ = false;
    bool suspended_ = false;
    bool purge_ = false;
    uint8_t lineStateMask_ = 0;
    uint8_t modemStateMask_ = 0;
};

}  // namespace vsim
