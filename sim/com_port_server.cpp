#include "com_port_server.h"

namespace vsim {

namespace {

constexpr uint8_t kIac = 255;
constexpr uint8_t kDont = 254;
constexpr uint8_t kDo = 253;
constexpr uint8_t kWont = 252;
constexpr uint8_t kWill = 251;
constexpr uint8_t kSb = 250;
constexpr uint8_t kSe = 240;

constexpr uint8_t kBinary = 0;
constexpr uint8_t kSuppressGoAhead = 3;
constexpr uint8_t kComPort = 44;

// COM-PORT-OPTION commands from the host; the server answers with the same plus 100.
enum Command : uint8_t {
    kSignature = 0,
    kSetBaudRate = 1,
    kSetDataSize = 2,
    kSetParity = 3,
    kSetStopSize = 4,
    kSetControl = 5,
    kFlowSuspend = 8,
    kFlowResume = 9,
    kSetLineStateMask = 10,
    kSetModemStateMask = 11,
    kPurgeData = 12,
};
constexpr uint8_t kServerOffset = 100;
constexpr uint32_t kHighestBaud = 4'000'000;
constexpr char kSignatureText[] = "vireo-sim";

bool Agreeable(uint8_t option) { return option == kBinary || option == kSuppressGoAhead || option == kComPort; }

void Put(Bytes& out, std::initializer_list<uint8_t> bytes) { out.insert(out.end(), bytes); }

}  // namespace

std::string DescribeFraming(const HostLine& line) {
    static const char* const kParity[] = {"parity ?",    "no parity",   "odd parity",
                                          "even parity", "mark parity", "space parity"};
    static const char* const kStop[] = {"stop size ?", "1 stop bit", "2 stop bits", "1.5 stop bits"};
    return std::to_string(line.baud) + " baud, " + std::to_string(line.dataSize) + " data bits, " +
           kParity[line.parity <= 5 ? line.parity : 0] + ", " + kStop[line.stopSize <= 3 ? line.stopSize : 0];
}

void ComPortServer::AppendEscaped(const uint8_t* data, size_t n, Bytes& out) {
    for (size_t i = 0; i < n; ++i) {
        out.push_back(data[i]);
        if (data[i] == kIac) out.push_back(kIac);
    }
}

size_t ComPortServer::Feed(const uint8_t* bytes, size_t n, Bytes& data, Bytes& reply) {
    controlChanged_ = false;
    for (size_t i = 0; i < n; ++i) {
        if (controlChanged_) return i;
        const uint8_t byte = bytes[i];
        switch (state_) {
            case State::Data:
                if (byte == kIac)
                    state_ = State::Iac;
                else
                    data.push_back(byte);
                break;
            case State::Iac:
                AfterIac(byte, data);
                break;
            case State::Verb:
                Negotiate(verb_, byte, reply);
                state_ = State::Data;
                break;
            case State::SubOption:
                subOption_ = byte;
                payload_.clear();
                state_ = State::SubData;
                break;
            case State::SubData:
                if (byte == kIac)
                    state_ = State::SubIac;
                else if (payload_.size() < kMaxPayload)
                    payload_.push_back(byte);
                break;
            case State::SubIac:
                if (byte == kIac) {
                    if (payload_.size() < kMaxPayload) payload_.push_back(kIac);
                    state_ = State::SubData;
                    break;
                }
                Subnegotiation(reply);
                // IAC SE ends it; a host that forgets the SE ends it with its next command.
                if (byte == kSe)
                    state_ = State::Data;
                else
                    AfterIac(byte, data);
                break;
        }
    }
    return n;
}

void ComPortServer::AfterIac(uint8_t byte, Bytes& data) {
    switch (byte) {
        case kIac:
            data.push_back(kIac);
            state_ = State::Data;
            break;
        case kWill:
        case kWont:
        case kDo:
        case kDont:
            verb_ = byte;
            state_ = State::Verb;
            break;
        case kSb:
            state_ = State::SubOption;
            break;
        default:  // NOP, go-ahead, break...: nothing a serial line carries
            state_ = State::Data;
            break;
    }
}

// RFC 1143 without queueing: answer only changes, so the two sides never loop.
void ComPortServer::Negotiate(uint8_t verb, uint8_t option, Bytes& reply) {
    switch (verb) {
        case kWill:
            if (!Agreeable(option)) {
                Put(reply, {kIac, kDont, option});
            } else if (!theirs_[option]) {
                theirs_[option] = true;
                Put(reply, {kIac, kDo, option});
            }
            break;
        case kWont:
            if (theirs_[option]) {
                theirs_[option] = false;
                Put(reply, {kIac, kDont, option});
            }
            break;
        case kDo:
            // COM-PORT-OPTION is the host's to do, not the server's.
            if (!Agreeable(option) || option == kComPort) {
                Put(reply, {kIac, kWont, option});
            } else if (!ours_[option]) {
                ours_[option] = true;
                Put(reply, {kIac, kWill, option});
            }
            break;
        case kDont:
            if (ours_[option]) {
                ours_[option] = false;
                Put(reply, {kIac, kWont, option});
            }
            break;
    }
}

void ComPortServer::Answer(uint8_t command, const Bytes& value, Bytes& reply) {
    Put(reply, {kIac, kSb, kComPort});
    const uint8_t code = static_cast<uint8_t>(command + kServerOffset);
    AppendEscaped(&code, 1, reply);
    AppendEscaped(value.data(), value.size(), reply);
    Put(reply, {kIac, kSe});
}

// SET-CONTROL: sets what it names and answers with what is now in effect.
uint8_t ComPortServer::Control(uint8_t value) {
    switch (value) {
        case 4:  // ask for the break state
            return breakOn_ ? 5 : 6;
        case 5:
        case 6:
            breakOn_ = value == 5;
            return value;
        case 7:  // ask for DTR
            return line_.dtr ? 8 : 9;
        case 8:
        case 9:
            line_.dtr = value == 8;
            return value;
        case 10:  // ask for RTS
            return line_.rts ? 11 : 12;
        case 11:
        case 12:
            line_.rts = value == 11;
            return value;
        case 13:  // ask for the inbound flow control: none
        case 14:
        case 15:
        case 16:
            return 14;
        default:  // outbound flow control (ask, none, XON/XOFF, hardware...): the board has none
            return 1;
    }
}

void ComPortServer::Subnegotiation(Bytes& reply) {
    if (subOption_ != kComPort || payload_.empty()) return;
    const uint8_t command = payload_[0];
    const Bytes value(payload_.begin() + 1, payload_.end());
    const uint8_t one = value.size() == 1 ? value[0] : 0;
    switch (command) {
        case kSignature:
            if (value.empty())
                Answer(command, Bytes(kSignatureText, kSignatureText + sizeof kSignatureText - 1), reply);
            return;
        case kSetBaudRate: {
            if (value.size() == 4) {
                const uint32_t baud =
                    (uint32_t{value[0]} << 24) | (uint32_t{value[1]} << 16) | (uint32_t{value[2]} << 8) | value[3];
                if (baud > 0 && baud <= kHighestBaud) line_.baud = baud;
            }
            const uint32_t b = line_.baud;
            Answer(command,
                   {static_cast<uint8_t>(b >> 24), static_cast<uint8_t>(b >> 16), static_cast<uint8_t>(b >> 8),
                    static_cast<uint8_t>(b)},
                   reply);
            return;
        }
        case kSetDataSize:
            if (one >= 5 && one <= 8) line_.dataSize = one;
            Answer(command, {line_.dataSize}, reply);
            return;
        case kSetParity:
            if (one >= 1 && one <= 5) line_.parity = one;
            Answer(command, {line_.parity}, reply);
            return;
        case kSetStopSize:
            if (one >= 1 && one <= 3) line_.stopSize = one;
            Answer(command, {line_.stopSize}, reply);
            return;
        case kSetControl:
            if (value.size() == 1) {
                const HostLine before = line_;
                Answer(command, {Control(one)}, reply);
                controlChanged_ = before.dtr != line_.dtr || before.rts != line_.rts;
            }
            return;
        case kFlowSuspend:
            suspended_ = true;
            return;
        case kFlowResume:
            suspended_ = false;
            return;
        case kSetLineStateMask:
            lineStateMask_ = one;
            Answer(command, {lineStateMask_}, reply);
            return;
        case kSetModemStateMask:
            modemStateMask_ = one;
            Answer(command, {modemStateMask_}, reply);
            return;
        case kPurgeData:
            // 1: what the server received (handed to the board at once, so nothing
            // waits), 2: what waits for the host, 3: both.
            if (one == 2 || one == 3) purge_ = true;
            if (one >= 1 && one <= 3) Answer(command, {one}, reply);
            return;
        default:  // notifications are the server's to send, and unknown commands have no answer
            return;
    }
}

}  // namespace vsim
