// Telnet and its COM-PORT-OPTION (RFC 854, RFC 1143, RFC 2217) as pure functions
// and state machines, with no I/O: escaping data, building requests, splitting a
// received stream into data bytes and commands, and answering the server's option
// negotiation. The network transport feeds it bytes and sends what it builds.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace bootwire::telnet {

using Bytes = std::vector<uint8_t>;

inline constexpr uint8_t kIac = 255;
inline constexpr uint8_t kDont = 254;
inline constexpr uint8_t kDo = 253;
inline constexpr uint8_t kWont = 252;
inline constexpr uint8_t kWill = 251;
inline constexpr uint8_t kSb = 250;
inline constexpr uint8_t kSe = 240;

inline constexpr uint8_t kOptionBinary = 0;
inline constexpr uint8_t kOptionEcho = 1;
inline constexpr uint8_t kOptionSuppressGoAhead = 3;
inline constexpr uint8_t kOptionComPort = 44;

// COM-PORT-OPTION commands from client to server; the server answers each with
// the same number plus kServerOffset and the value it now holds.
enum class ComPort : uint8_t {
    Signature = 0,
    SetBaudRate = 1,
    SetDataSize = 2,
    SetParity = 3,
    SetStopSize = 4,
    SetControl = 5,
    NotifyLineState = 6,
    NotifyModemState = 7,
    FlowControlSuspend = 8,
    FlowControlResume = 9,
    SetLineStateMask = 10,
    SetModemStateMask = 11,
    PurgeData = 12,
};
inline constexpr uint8_t kServerOffset = 100;

// Values of SET-PARITY and SET-STOPSIZE; 0 asks for the current value.
inline constexpr uint8_t kAskCurrent = 0;
inline constexpr uint8_t kParityNone = 1;
inline constexpr uint8_t kParityOdd = 2;
inline constexpr uint8_t kParityEven = 3;
inline constexpr uint8_t kStopOne = 1;
inline constexpr uint8_t kStopTwo = 2;
inline constexpr uint8_t kStopOneAndHalf = 3;
// Values of SET-CONTROL and PURGE-DATA.
inline constexpr uint8_t kControlNoFlowControl = 1;
inline constexpr uint8_t kControlDtrOn = 8;
inline constexpr uint8_t kControlDtrOff = 9;
inline constexpr uint8_t kControlRtsOn = 11;
inline constexpr uint8_t kControlRtsOff = 12;
inline constexpr uint8_t kPurgeBoth = 3;

// Appends data with every 0xFF doubled, as Telnet requires in both directions.
void AppendEscaped(const uint8_t* data, size_t n, Bytes& out);

// IAC verb option.
Bytes Negotiation(uint8_t verb, uint8_t option);
// IAC SB COM-PORT-OPTION command value... IAC SE, the value escaped.
Bytes ComPortRequest(ComPort command, const Bytes& value);
Bytes SetBaudRate(uint32_t baud);
Bytes SetByte(ComPort command, uint8_t value);

// One command the server sent: a negotiation (verb and option) or a
// subnegotiation (option and its unescaped payload).
struct Command {
    bool subnegotiation = false;
    uint8_t verb = 0;
    uint8_t option = 0;
    Bytes payload;
};

// An answer to a COM-PORT-OPTION request: which request (without the offset) and
// the value the server reports.
struct ComPortAnswer {
    ComPort command;
    Bytes value;
};
// The answer a subnegotiation carries; nullopt when it is none.
std::optional<ComPortAnswer> AnswerOf(const Command& command);
// The baud rate of a SET-BAUDRATE answer (four bytes, most significant first).
std::optional<uint32_t> BaudOf(const Bytes& value);

// Splits a received stream into data and commands. Commands and escapes may be
// cut anywhere between two calls.
class Decoder {
public:
    // Appends the data bytes among `bytes` to `data` and the commands to `commands`.
    void Feed(const uint8_t* bytes, size_t n, Bytes& data, std::vector<Command>& commands);

private:
    enum class State { Data, Iac, Verb, SubOption, SubData, SubIac };
    // A server has no reason to send long subnegotiations; more is dropped, not stored.
    static constexpr size_t kMaxPayload = 512;

    void AfterIac(uint8_t byte, Bytes& data);

    State state_ = State::Data;
    Command current_;
};

// The client's side of option negotiation (RFC 1143, without queueing): binary
// transmission and suppress-go-ahead both ways and COM-PORT-OPTION on our side
// are asked for; everything else is refused. Answers only to changes, so two
// sides never loop.
class Options {
public:
    // The requests a client sends when it connects.
    Bytes Opening();
    // What to send back for one negotiation from the server (often nothing).
    Bytes Answer(uint8_t verb, uint8_t option);

    bool ComPortAgreed() const { return ours_[kOptionComPort] == State::Yes; }
    // The server refused something a binary serial line cannot do without.
    bool Refused() const { return refused_; }
    // Every option asked for has been answered, one way or the other.
    bool Settled() const;

private:
    enum class State : uint8_t { No, Yes, Asked };
    static bool WantOurs(uint8_t option);
    static bool WantTheirs(uint8_t option);

    std::array<State, 256> ours_{};
    std::array<State, 256> theirs_{};
    bool refused_ = false;
};

}  // namespace bootwire::telnet
