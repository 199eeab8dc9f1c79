#include "telnet_codec.h"

namespace bootwire::telnet {

void AppendEscaped(const uint8_t* data, size_t n, Bytes& out) {
    for (size_t i = 0; i < n; ++i) {
        out.push_back(data[i]);
        if (data[i] == kIac) {
            out.push_back(kIac);
        }
    }
}

Bytes Negotiation(uint8_t verb, uint8_t option) { return {kIac, verb, option}; }

Bytes ComPortRequest(ComPort command, const Bytes& value) {
    Bytes out{kIac, kSb, kOptionComPort};
    const uint8_t code = static_cast<uint8_t>(command);
    AppendEscaped(&code, 1, out);
    AppendEscaped(value.data(), value.size(), out);
    out.push_back(kIac);
    out.push_back(kSe);
    return out;
}

Bytes SetBaudRate(uint32_t baud) {
    return ComPortRequest(ComPort::SetBaudRate, {static_cast<uint8_t>(baud >> 24), static_cast<uint8_t>(baud >> 16),
                                                 static_cast<uint8_t>(baud >> 8), static_cast<uint8_t>(baud)});
}

Bytes SetByte(ComPort command, uint8_t value) { return ComPortRequest(command, {value}); }

std::optional<ComPortAnswer> AnswerOf(const Command& command) {
    if (!command.subnegotiation || command.option != kOptionComPort || command.payload.empty()) {
        return std::nullopt;
    }
    const uint8_t code = command.payload[0];
    if (code < kServerOffset || code > kServerOffset + static_cast<uint8_t>(ComPort::PurgeData)) {
        return std::nullopt;
    }
    return ComPortAnswer{static_cast<ComPort>(code - kServerOffset),
                         Bytes(command.payload.begin() + 1, command.payload.end())};
}

std::optional<uint32_t> BaudOf(const Bytes& value) {
    if (value.size() != 4) {
        return std::nullopt;
    }
    return (uint32_t{value[0]} << 24) | (uint32_t{value[1]} << 16) | (uint32_t{value[2]} << 8) | value[3];
}

void Decoder::AfterIac(uint8_t byte, Bytes& data) {
    switch (byte) {
        case kIac:
            data.push_back(kIac);
            state_ = State::Data;
            break;
        case kWill:
        case kWont:
        case kDo:
        case kDont:
            current_ = Command{};
            current_.verb = byte;
            state_ = State::Verb;
            break;
        case kSb:
            current_ = Command{};
            current_.subnegotiation = true;
            state_ = State::SubOption;
            break;
        default:
            // NOP, go-ahead, data mark, a stray SE...: nothing a byte pipe needs.
            state_ = State::Data;
            break;
    }
}

void Decoder::Feed(const uint8_t* bytes, size_t n, Bytes& data, std::vector<Command>& commands) {
    for (size_t i = 0; i < n; ++i) {
        const uint8_t byte = bytes[i];
        switch (state_) {
            case State::Data:
                if (byte == kIac) {
                    state_ = State::Iac;
                } else {
                    data.push_back(byte);
                }
                break;
            case State::Iac:
                AfterIac(byte, data);
                break;
            case State::Verb:
                current_.option = byte;
                commands.push_back(std::move(current_));
                current_ = Command{};
                state_ = State::Data;
                break;
            case State::SubOption:
                current_.option = byte;
                state_ = State::SubData;
                break;
            case State::SubData:
                if (byte == kIac) {
                    state_ = State::SubIac;
                } else if (current_.payload.size() < kMaxPayload) {
                    current_.payload.push_back(byte);
                }
                break;
            case State::SubIac:
                if (byte == kIac) {
                    if (current_.payload.size() < kMaxPayload) {
                        current_.payload.push_back(kIac);
                    }
                    state_ = State::SubData;
                    break;
                }
                // IAC SE ends it; a server that forgets the SE ends it with its next command.
                commands.push_back(std::move(current_));
                current_ = Command{};
                if (byte == kSe) {
                    state_ = State::Data;
                } else {
                    AfterIac(byte, data);
                }
                break;
        }
    }
}

bool Options::WantOurs(uint8_t option) {
    return option == kOptionBinary || option == kOptionSuppressGoAhead || option == kOptionComPort;
}

bool Options::WantTheirs(uint8_t option) { return option == kOptionBinary || option == kOptionSuppressGoAhead; }

Bytes Options::Opening() {
    Bytes out;
    for (uint8_t option : {kOptionBinary, kOptionSuppressGoAhead, kOptionComPort}) {
        ours_[option] = State::Asked;
        Bytes will = Negotiation(kWill, option);
        out.insert(out.end(), will.begin(), will.end());
    }
    for (uint8_t option : {kOptionBinary, kOptionSuppressGoAhead}) {
        theirs_[option] = State::Asked;
        Bytes doIt = Negotiation(kDo, option);
        out.insert(out.end(), doIt.begin(), doIt.end());
    }
    return out;
}

bool Options::Settled() const {
    for (uint8_t option : {kOptionBinary, kOptionSuppressGoAhead, kOptionComPort}) {
        if (ours_[option] == State::Asked) {
            return false;
        }
    }
    return theirs_[kOptionBinary] != State::Asked && theirs_[kOptionSuppressGoAhead] != State::Asked;
}

Bytes Options::Answer(uint8_t verb, uint8_t option) {
    // Binary both ways and the COM port are what make this a serial line.
    const bool needOurs = option == kOptionBinary || option == kOptionComPort;
    const bool needTheirs = option == kOptionBinary;
    switch (verb) {
        case kDo: {
            State& s = ours_[option];
            if (!WantOurs(option)) {
                return s == State::No ? Negotiation(kWont, option) : Bytes{};
            }
            const bool answerNeeded = s == State::No;
            s = State::Yes;
            return answerNeeded ? Negotiation(kWill, option) : Bytes{};
        }
        case kDont: {
            State& s = ours_[option];
            const State was = s;
            s = State::No;
            if (needOurs && was != State::No) {
                refused_ = true;
            }
            return was == State::Yes ? Negotiation(kWont, option) : Bytes{};
        }
        case kWill: {
            State& s = theirs_[option];
            if (!WantTheirs(option)) {
                return s == State::No ? Negotiation(kDont, option) : Bytes{};
            }
            const bool answerNeeded = s == State::No;
            s = State::Yes;
            return answerNeeded ? Negotiation(kDo, option) : Bytes{};
        }
        case kWont: {
            State& s = theirs_[option];
            const State was = s;
            s = State::No;
            if (needTheirs && was != State::No) {
                refused_ = true;
            }
            return was == State::Yes ? Negotiation(kDont, option) : Bytes{};
        }
        default:
            return {};
    }
}

}  // namespace bootwire::telnet
