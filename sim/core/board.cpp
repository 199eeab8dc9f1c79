#include "core/board.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <limits>

#include "core/cpu.h"
#include "core/firmware.h"
#include "flash/board_flash.h"
#include "flash/board_map.h"

namespace vsim {

namespace {

// A plain application: it owns the board once started and ignores the host, as a
// real board does until someone presses reset.
class BusyApplication final : public Program {
public:
    void Start() override {}
    void HostBytes(Channel, const uint8_t*, size_t) override {}
    void Stop() override {}
};

std::string Hex8(uint8_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value);
    return text;
}

std::string Hex32(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08" PRIx32, value);
    return text;
}

const char* ChannelName(Channel channel) { return channel == Channel::Usb ? "USB" : "serial"; }

std::string FrameText(const uint8_t* frame) {
    std::string text;
    char byte[4];
    for (size_t i = 0; i < kFrameSize; ++i) {
        std::snprintf(byte, sizeof byte, i ? " %02X" : "%02X", frame[i]);
        text += byte;
    }
    return text;
}

}  // namespace

Board::Board(BoardConfig config, BoardLinks links)
    : cpu_(config.cpu),
      sekurelStatus_(config.sekurelStatus),
      faults_(config.faults),
      flash_(std::move(config.flash)),
      programs_(std::move(config.programs)),
      links_(std::move(links)),
      memory_(TraitsOf(config.cpu).ramBase, kRamSize, flash_.get()),
      uartBaud_(kLineBaud) {
    memory_.SetUniqueId(TraitsOf(cpu_).uniqueIdBase, config.uniqueId);
    if (faults_.silentAfter && *faults_.silentAfter == 0) silent_ = true;
}

Board::~Board() { Shutdown(); }

size_t Board::ReadBudget() const {
    if (!faults_.silentAfter) return std::numeric_limits<size_t>::max();
    uint64_t limit = *faults_.silentAfter;
    return bytesTaken_ >= limit ? 0 : static_cast<size_t>(std::min<uint64_t>(limit - bytesTaken_, SIZE_MAX));
}

size_t Board::Feed(Channel channel, const uint8_t* data, size_t n) {
    if (inReset_) return n;  // the line still delivers them; nobody reads them
    n = std::min(n, ReadBudget());
    if (n == 0) return 0;
    bytesTaken_ += n;
    std::vector<uint8_t> corrupted;
    if (channel == Channel::Serial) {
        const uint64_t first = serialTaken_ + 1;
        serialTaken_ += n;
        for (auto it = faults_.corruptHostBytes.lower_bound(first);
             it != faults_.corruptHostBytes.end() && *it <= serialTaken_; ++it) {
            if (corrupted.empty()) corrupted.assign(data, data + n);
            uint8_t& byte = corrupted[*it - first];
            Log("fault: host byte " + std::to_string(*it) + " corrupted on the line (" + Hex8(byte) + " arrived as " +
                Hex8(static_cast<uint8_t>(~byte)) + ")");
            byte = static_cast<uint8_t>(~byte);
        }
        if (!corrupted.empty()) data = corrupted.data();
    }
    Poll();
    if (program_)
        ProgramBytes(channel, data, n);
    else if (!halted_)
        RomBytes(channel, data, n);
    if (ReadBudget() == 0 && !silent_) {
        silent_ = true;
        Log("fault: silent after " + std::to_string(bytesTaken_) + " host bytes");
    }
    return n;
}

void Board::Poll() {
    if (program_ && programEnded_.exchange(false)) EndProgram(programBackToRom_);
}

bool Board::StopRunning() {
    bool usb = program_ && (programChannel_ == Channel::Usb || programUsedUsb_);
    if (program_) {
        program_->Stop();
        program_.reset();
    }
    programEnded_ = false;
    halted_ = false;
    hasPendingEntry_ = false;
    channels_ = {};
    uartBaud_ = kLineBaud;
    return usb;
}

void Board::Reset() {
    inReset_ = false;
    bool usb = StopRunning();
    Log("board reset: boot ROM waiting for commands");
    if (usb && links_.usbDisconnect) links_.usbDisconnect();
}

void Board::HoldInReset() {
    if (inReset_) return;
    StopRunning();
    inReset_ = true;
    Log("board held in reset");
    // In reset the USB device is not there; a host connected to it loses it.
    if (links_.usbDisconnect) links_.usbDisconnect();
}

void Board::Release(bool bootMode) {
    if (!inReset_) return;
    inReset_ = false;
    if (bootMode) {
        Log("board out of reset with the boot-mode pin set: boot ROM waiting for commands");
        return;
    }
    const uint32_t entry = MapOf(cpu_).norBase;
    program_ = MakeConsoleFirmware(ContextFor(entry));
    programChannel_ = Channel::Serial;
    programUsedUsb_ = false;
    Log("board out of reset without the boot-mode pin: the firmware in flash runs, the boot ROM does not answer");
    program_->Start();
}

void Board::Shutdown() {
    if (program_) {
        program_->Stop();
        program_.reset();
    }
}

bool Board::ProgramRunning() const { return program_ != nullptr; }

std::vector<ProgramStreamStats> Board::StreamStats() const {
    std::vector<ProgramStreamStats> stats;
    for (const auto& [entry, witness] : witnesses_) stats.push_back({entry, witness.Blocks(), witness.PayloadBytes()});
    return stats;
}

void Board::RomBytes(Channel channel, const uint8_t* data, size_t n) {
    ChannelState& state = channels_[static_cast<int>(channel)];
    while (n > 0) {
        if (program_) {
            // The frame just handled started a program; what follows is for it.
            ProgramBytes(channel, data, n);
            return;
        }
        if (state.loadLeft > 0) {
            size_t chunk = static_cast<size_t>(std::min<uint64_t>(n, state.loadLeft));
            state.loadRefused += memory_.Load(state.loadNext, data, chunk);
            state.loadNext += static_cast<uint32_t>(chunk);
            state.loadLeft -= chunk;
            data += chunk;
            n -= chunk;
            if (state.loadLeft == 0) LoadFinished(state);
            continue;
        }
        size_t chunk = std::min(n, kFrameSize - state.have);
        std::copy(data, data + chunk, state.frame.begin() + static_cast<ptrdiff_t>(state.have));
        state.have += chunk;
        data += chunk;
        n -= chunk;
        if (state.have == kFrameSize) {
            state.have = 0;
            Frame(channel, state.frame.data());
        }
    }
}

void Board::Frame(Channel channel, const uint8_t* frame) {
    uint8_t code = frame[kFrameCode];
    uint32_t addr = BigEndian32(frame + kFrameAddress);
    uint8_t format = frame[kFrameFormat];
    uint32_t count = BigEndian32(frame + kFrameCount);
    uint32_t data = BigEndian32(frame + kFrameData);
    uint8_t fileType = frame[kFrameFileType];

    if (frame[kFrameCode + 1] != code) {
        UnknownFrame(channel, frame);
        return;
    }
    switch (static_cast<Command>(code)) {
        case Command::WriteRegister:
            WriteRegister(channel, addr, format, data);
            return;
        case Command::ReadMemory:
            ReadMemory(channel, addr, format, count);
            return;
        case Command::WriteFile:
            WriteFile(channel, addr, count, fileType);
            return;
        case Command::GetStatus:
            GetStatus(channel);
            return;
    }
    UnknownFrame(channel, frame);
}

void Board::UnknownFrame(Channel channel, const uint8_t* frame) {
    // A host out of step sends nothing but unknown frames; a few lines tell the story,
    // thousands would only fill the log (and a pipe nobody drains).
    constexpr uint64_t kLogged = 16, kThenEvery = 4096;
    ++unknownFrames_;
    if (unknownFrames_ <= kLogged) {
        Log(std::string("unknown frame on ") + ChannelName(channel) + ": " + FrameText(frame) + ", no answer" +
            (unknownFrames_ == kLogged ? " (further ones are only counted)" : ""));
    } else if (unknownFrames_ % kThenEvery == 0) {
        Log(std::to_string(unknownFrames_) + " unknown frames so far");
    }
}

void Board::WriteRegister(Channel channel, uint32_t addr, uint8_t format, uint32_t value) {
    ++registerWrites_;
    if (format != 8 && format != 16 && format != 32) {
        Log("write register " + Hex32(addr) + ": format " + std::to_string(format) +
            " is not 8, 16 or 32; not written, no answer");
        return;
    }
    if (auto fault = faults_.regWords.find(registerWrites_); fault != faults_.regWords.end()) {
        Log("fault: register write " + std::to_string(registerWrites_) + " (" + Hex32(addr) + ") answered " +
            Hex32(fault->second) + ", not written");
        SendWord(channel, fault->second);
        SendWord(channel, fault->second);
        return;
    }
    memory_.WriteRegister(addr, value, format / 8u);
    SendWord(channel, kWordAck);
    SendWord(channel, kWordRegisterDone);
}

void Board::ReadMemory(Channel channel, uint32_t addr, uint8_t format, uint32_t count) {
    // A read never needs more than the RAM holds; a larger count is a broken host,
    // and streaming gigabytes back would only bury it.
    if (count > kRamSize) {
        Log("read memory " + Hex32(addr) + ": " + std::to_string(count) + " bytes is more than the " +
            std::to_string(kRamSize) + " the board answers; no answer");
        return;
    }
    std::vector<uint8_t> answer(4 + count);
    auto ack = WireWord(kWordAck);
    std::copy(ack.begin(), ack.end(), answer.begin());
    memory_.Read(addr, answer.data() + 4, count, format / 8u);
    Send(channel, answer.data(), answer.size());
}

void Board::WriteFile(Channel channel, uint32_t addr, uint32_t count, uint8_t fileType) {
    ChannelState& state = channels_[static_cast<int>(channel)];
    switch (static_cast<FileType>(fileType)) {
        case FileType::Image:
        case FileType::Application:
        case FileType::Csf:
        case FileType::Hwc:
            break;
        default:
            Log("write file " + Hex32(addr) + ": unknown file type " + std::to_string(fileType) + ", loaded as data");
    }
    SendWord(channel, kWordAck);
    state.loadStart = addr;
    state.loadNext = addr;
    state.loadLeft = count;
    state.loadType = static_cast<FileType>(fileType);
    state.loadRefused = 0;
    if (count == 0) LoadFinished(state);
}

void Board::LoadFinished(ChannelState& state) {
    if (state.loadRefused > 0) {
        Log("write file " + Hex32(state.loadStart) + ": " + std::to_string(state.loadRefused) +
            " bytes aimed at flash were dropped (flash is written by its programs)");
    }
    if (state.loadType == FileType::Application) {
        hasPendingEntry_ = true;
        pendingEntry_ = state.loadStart;
    }
}

void Board::GetStatus(Channel channel) {
    if (!hasPendingEntry_) {
        SendWord(channel, sekurelStatus_);
        return;
    }
    SendWord(channel, kWordComplete);
    hasPendingEntry_ = false;
    StartProgram(channel, pendingEntry_);
}

ProgramContext Board::ContextFor(uint32_t entry) {
    Ram& ram = memory_.RamArea();
    ProgramContext context;
    context.cpu = cpu_;
    context.ramBase = ram.Base();
    context.ram = ram.Data();
    context.ramSize = ram.Size();
    context.flash = flash_.get();
    context.entry = entry;
    context.toHost = [this](Channel c, const uint8_t* data, size_t n) {
        if (c == Channel::Usb) programUsedUsb_ = true;
        Send(c, data, n);
    };
    context.serialRate = [this](unsigned baud) {
        if (uartBaud_.exchange(baud) != baud) Log("UART now runs at " + std::to_string(baud) + " baud");
    };
    context.serialSent = links_.serialSent;
    context.ended = [this](bool backToRom) {
        programBackToRom_ = backToRom;
        programEnded_ = true;
        if (links_.programEnded) links_.programEnded();
    };
    return context;
}

void Board::StartProgram(Channel channel, uint32_t entry) {
    ProgramContext context = ContextFor(entry);
    programChannel_ = channel;
    programUsedUsb_ = channel == Channel::Usb;
    witnesses_.emplace_back(entry, StreamWitness{});
    programEnded_ = false;
    if (programs_) program_ = programs_(context);
    if (!program_) {
        program_ = std::make_unique<BusyApplication>();
        Log("application started at " + Hex32(entry) + "; the board is busy until reset (SIGUSR1)");
    } else {
        Log("program started at " + Hex32(entry));
    }
    program_->Start();
}

void Board::ProgramBytes(Channel channel, const uint8_t* data, size_t n) {
    // Queries are recognised here, on the board's side of the link, so that the
    // status faults work whatever program runs. Bytes that might start a query are
    // held back until it is clear whether they are one.
    ChannelState& state = channels_[static_cast<int>(channel)];
    if (channel == Channel::Serial && !witnesses_.empty()) witnesses_.back().second.Bytes(data, n);
    if (faults_.statusSilent.empty() && faults_.statusWords.empty()) {
        // Nothing to intercept: count the queries, but hold nothing back, so that a
        // program waiting for a lone byte that happens to start a query still gets it.
        for (size_t i = 0; i < n; ++i) {
            state.heldCount = data[i] == kStatusQuery[state.heldCount] ? state.heldCount + 1
                              : data[i] == kStatusQuery[0]             ? 1
                                                                       : 0;
            if (state.heldCount == kFrameSize) {
                state.heldCount = 0;
                ++statusQueries_;
            }
        }
        program_->HostBytes(channel, data, n);
        return;
    }
    std::vector<uint8_t> pass;
    pass.reserve(n + state.heldCount);
    for (size_t i = 0; i < n; ++i) {
        uint8_t b = data[i];
        if (b == kStatusQuery[state.heldCount]) {
            state.held[state.heldCount++] = b;
            if (state.heldCount == kFrameSize) {
                state.heldCount = 0;
                StatusQuery(channel, &pass);
            }
            continue;
        }
        pass.insert(pass.end(), state.held.begin(), state.held.begin() + static_cast<ptrdiff_t>(state.heldCount));
        state.heldCount = 0;
        // The query's first byte occurs nowhere else in it, so only b can start a new one.
        if (b == kStatusQuery[0])
            state.held[state.heldCount++] = b;
        else
            pass.push_back(b);
    }
    if (!pass.empty() && program_) program_->HostBytes(channel, pass.data(), pass.size());
}

void Board::StatusQuery(Channel channel, std::vector<uint8_t>* pass) {
    ++statusQueries_;
    bool silent = faults_.statusSilent.count(statusQueries_) > 0;
    auto word = faults_.statusWords.find(statusQueries_);
    if (!silent && word == faults_.statusWords.end()) {
        pass->insert(pass->end(), kStatusQuery.begin(), kStatusQuery.end());
        return;
    }
    // What the program got before the query must reach it before the board answers.
    if (!pass->empty() && program_) program_->HostBytes(channel, pass->data(), pass->size());
    pass->clear();
    if (silent) {
        Log("fault: status query " + std::to_string(statusQueries_) + " left unanswered");
        return;
    }
    Log("fault: status query " + std::to_string(statusQueries_) + " answered " + Hex32(word->second));
    SendWord(channel, word->second);
}

void Board::EndProgram(bool toRom) {
    bool usb = programChannel_ == Channel::Usb || programUsedUsb_;
    program_->Stop();
    std::vector<uint8_t> unread;
    if (toRom) unread = program_->TakeUnread(Channel::Serial);
    program_.reset();
    channels_ = {};
    // The boot ROM sets its own speed again, whatever the program left.
    if (uartBaud_.exchange(kLineBaud) != kLineBaud) Log("UART back at " + std::to_string(kLineBaud) + " baud");
    if (!toRom) {
        halted_ = true;
        Log("program stopped; the board is silent until reset (SIGUSR1)");
        return;
    }
    Log("program ended; boot ROM waiting for commands");
    if (!unread.empty()) {
        Log("the boot ROM reads " + std::to_string(unread.size()) + " host bytes the program left in the UART");
        RomBytes(Channel::Serial, unread.data(), unread.size());
    }
    if (usb) {
        Log("USB device re-enumerates: the host must enumerate again");
        if (links_.usbDisconnect) links_.usbDisconnect();
    }
}

void Board::SendWord(Channel channel, uint32_t word) {
    auto bytes = WireWord(word);
    Send(channel, bytes.data(), bytes.size());
}

void Board::Send(Channel channel, const uint8_t* data, size_t n) {
    if (silent_ || inReset_ || !links_.toHost) return;
    if (channel == Channel::Serial && !faults_.corruptAnswerBytes.empty()) {
        const uint64_t first = serialSentCount_.fetch_add(n) + 1;
        auto it = faults_.corruptAnswerBytes.lower_bound(first);
        if (it != faults_.corruptAnswerBytes.end() && *it < first + n) {
            std::vector<uint8_t> corrupted(data, data + n);
            for (; it != faults_.corruptAnswerBytes.end() && *it < first + n; ++it) {
                uint8_t& byte = corrupted[*it - first];
                Log("fault: board byte " + std::to_string(*it) + " corrupted on the line");
                byte = static_cast<uint8_t>(~byte);
            }
            links_.toHost(channel, corrupted.data(), n);
            return;
        }
    }
    links_.toHost(channel, data, n);
}

void Board::Log(const std::string& line) const {
    if (links_.log) links_.log(line);
}

}  // namespace vsim
