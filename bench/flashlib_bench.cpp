// The built-in flash libraries' own figures: their sizes (the load at 115200
// baud is in every fast flashing run), what their block digests cost on the
// emulated core, and, through the libraries' ranges driven by a test host on the
// paced board (VireoC_TO2 NOR, 1 MiB of ARM code), a verify of an unchanged image
// and a reflash with one 4 KiB block changed, library load included.
#include <algorithm>
#include <chrono>
#include <cstdio>

#include "bench_result.h"
#include "flashlib/images.h"
#include "programs/programs.h"
#include "range_session.h"
#include "sim/board_harness.h"
#include "sim_process.h"
#include "test_images.h"

namespace {

namespace fastwire = bootwire::stream;
using Clock = std::chrono::steady_clock;
using flashlib::BuiltinLibrary;
using rangetest::RangeSession;

constexpr uint32_t kMiB = 1u << 20;
constexpr uint32_t kBlock = 4096;
constexpr double kLineSecondsPerByte = 10.0 / 115200;
constexpr int kRepeats = 3;

double Since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// An answer of the kind asked for (not an Error, not none).
bool Is(const std::optional<rangetest::Message>& m, fastwire::Reply kind) { return m && m->kind == kind; }

void Sizes() {
    struct Library {
        const char* name;
        BuiltinLibrary which;
        size_t before;  // -O2, ARM code, version 1 only
    };
    for (const Library& l : {Library{"NorVireoC", BuiltinLibrary::NorVireoC, 13562},
                             Library{"NorVireoB", BuiltinLibrary::NorVireoB, 13562},
                             Library{"NandVireoC", BuiltinLibrary::NandVireoC, 12810}}) {
        const size_t code = flashlib::BuiltinFlashLibrary(l.which).size() - flashlib::kCodeOffset;
        std::printf("%s: %zu bytes of code (was %zu), %.2f s to load at 115200 baud\n", l.name, code, l.before,
                    static_cast<double>(code) * kLineSecondsPerByte);
        bench::Result(std::string("flash library ") + l.name + " size", static_cast<double>(code), "B", "< version 1's",
                      code < l.before);
    }
}

// Seconds for the digests of 1 MiB (CRC-64 of 256 blocks) and for the range's
// CRC-32, on the emulated core over the flash model's bus; the best of a few.
void DigestCost(BuiltinLibrary library, const char* device) {
    using namespace vsim;
    test::Board board(Cpu::VireoC_TO2);
    const bool nand = library == BuiltinLibrary::NandVireoC;
    const uint32_t address = nand ? 0x200000 : board.Map().norBase + 0x100000;
    const auto image = test::RandomImage(kMiB, 5);
    if (!nand) board.Flash().Nor().Preload(0x100000, image.data(), image.size());
    board.LoadLibrary(flashlib::BuiltinFlashLibrary(library));
    board.LoadJob(0, {}, Channel::Serial);
    board.PutWord(0xFFE8, fastwire::kStreamRequest);
    board.Start(MakeEmulatedProgramFactory());
    size_t seen = 0;
    RangeSession session(rangetest::ByteLine{[&](const std::vector<uint8_t>& frame) {
                                                 board.Running().HostBytes(Channel::Serial, frame.data(), frame.size());
                                             },
                                             [&](size_t, std::chrono::milliseconds timeout) {
                                                 auto bytes = board.ReceivedFrom(Channel::Serial, seen, timeout);
                                                 seen += bytes.size();
                                                 return bytes;
                                             }});
    bool ok = session.Start(fastwire::kRomBaud) && Is(session.Range(address, kMiB, 0, kBlock), fastwire::Reply::Range);
    if (ok && nand) ok = session.Stream(image) && Is(session.Finish(), fastwire::Reply::Done);
    double digests = 1e9, crc = 1e9;
    for (int i = 0; ok && i < kRepeats; ++i) {
        auto start = Clock::now();
        const auto list = session.Digests(0, kMiB / kBlock);
        digests = std::min(digests, Since(start));
        ok = list.size() == kMiB / kBlock && list[7] == fastwire::Crc64(std::span(image).subspan(7 * kBlock, kBlock));
        // The range's CRC-32 is computed afresh after a range is named again.
        ok = ok && Is(session.Range(address, kMiB, 0, kBlock), fastwire::Reply::Range);
        start = Clock::now();
        const auto done = session.Finish();
        crc = std::min(crc, Since(start));
        ok = ok && Is(done, fastwire::Reply::Done) && done->value == fastwire::Crc32(image);
    }
    session.Quit();
    std::printf("%s, emulated: digests of 1 MiB in %.3f s, CRC-32 of 1 MiB in %.3f s%s\n", device, digests, crc,
                ok ? "" : " (WRONG ANSWERS)");
    bench::Result(std::string("block digests (CRC-64) of 1 MiB of ") + device + ", emulated core", digests * 1e3, "ms",
                  "< 200 ms", ok && digests < 0.2);
    bench::Result(std::string("range CRC-32 of 1 MiB of ") + device + ", emulated core", crc * 1e3, "ms", "report", ok);
}

// The library loaded through the paced boot ROM; a session at 921600 baud.
class PacedBoard {
public:
    PacedBoard() : sim_("VireoC_TO2", {"--pace"}) {
        bootwire::Error error = bootwire::Error::Ok;
        std::string detail;
        if (sim_.ok()) {
            auto transport = bootwire::OpenSerial(sim_.serial(), static_cast<int>(bootwire::LineMode::NoParityOneStop),
                                                  &error, &detail);
            transport_ = transport.get();  // the bench speaks the library's own protocol on it
            link_.Attach(std::move(transport));
        }
    }
    bool ok() const { return sim_.ok() && link_.IsOpen(); }

    std::optional<RangeSession> Load() {
        std::string error;
        if (!rangetest::LoadStreaming(link_, flashlib::BuiltinFlashLibrary(BuiltinLibrary::NorVireoC), 0x80000000,
                                      0xA0000000, &error)) {
            std::fprintf(stderr, "flashlib_bench: %s\n", error.c_str());
            return std::nullopt;
        }
        bootwire::Transport* t = transport_;
        RangeSession session(rangetest::SerialLine(t));
        if (!session.Start(921600, [t] { t->SetLineSpeed(921600); })) return std::nullopt;
        return session;
    }
    bool Unload(RangeSession& session) {
        bootwire::Transport* t = transport_;
        return session.Quit([t] { t->SetLineSpeed(fastwire::kRomBaud); });
    }

private:
    sealtest::SimProcess sim_;
    bootwire::Link link_;
    bootwire::Transport* transport_ = nullptr;
};

// The blocks that differ from `image` in the 1 MiB at 0xA0100000.
std::vector<uint32_t> Differing(RangeSession& session, const std::vector<uint8_t>& image) {
    std::vector<uint32_t> differing;
    if (!Is(session.Range(0xA0100000, kMiB, 0, kBlock), fastwire::Reply::Range)) return {0xFFFFFFFF};
    const auto digests = session.Digests(0, kMiB / kBlock);
    if (digests.size() != kMiB / kBlock) return {0xFFFFFFFF};
    for (uint32_t i = 0; i < digests.size(); ++i) {
        if (digests[i] != fastwire::Crc64(std::span(image).subspan(i * kBlock, kBlock))) differing.push_back(i);
    }
    return differing;
}

void PacedRuns() {
    const std::vector<uint8_t> image = sealtest::ArmCodeImage(kMiB);
    PacedBoard board;
    if (image.size() != kMiB || !board.ok()) {
        std::fprintf(stderr, "flashlib_bench: no paced board or no ARM code image\n");
        return;
    }
    bool ok = false;
    if (auto s = board.Load()) {
        ok = Differing(*s, image).size() == kMiB / kBlock && s->Stream(image) && Is(s->Finish(), fastwire::Reply::Done);
        ok = board.Unload(*s) && ok;
    }

    auto start = Clock::now();
    if (auto s = board.Load()) {
        ok = Differing(*s, image).empty() && ok;
        ok = board.Unload(*s) && ok;
    }
    const double verify = Since(start);

    std::vector<uint8_t> changed = image;
    for (uint32_t i = 0; i < kBlock; i += 64) changed[150 * kBlock + i] ^= 0x5A;
    start = Clock::now();
    if (auto s = board.Load()) {
        const auto differing = Differing(*s, changed);
        ok = ok && differing == std::vector<uint32_t>{150} &&
             Is(s->Write(150, std::span(changed).subspan(150 * kBlock, kBlock)), fastwire::Reply::Accepted) &&
             Is(s->Finish(), fastwire::Reply::Done);
        ok = board.Unload(*s) && ok;
    }
    const double reflash = Since(start);
    std::printf("paced board, NOR, 1 MiB of ARM code: verify %.2f s, reflash of one 4 KiB block %.2f s%s\n", verify,
                reflash, ok ? "" : " (FAILED)");
    bench::Result("verify of an unchanged 1 MiB by block digests (paced, library load included)", verify, "s",
                  "<= 2.0 s", ok && verify <= 2.0);
    bench::Result("reflash of 1 MiB with one 4 KiB block changed (paced, library load included)", reflash, "s",
                  "<= 2.5 s", ok && reflash <= 2.5);
}

}  // namespace

int main() {
    Sizes();
    DigestCost(BuiltinLibrary::NorVireoC, "NOR");
    DigestCost(BuiltinLibrary::NandVireoC, "NAND");
    PacedRuns();
    return 0;
}
