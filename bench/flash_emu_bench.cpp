// How fast the virtual board runs a flash library: the built-in NOR library for
// VireoC, emulated instruction by instruction, writes a 1 MiB image into NOR while
// the host polls its status without pause. Prints the flashing time (program start
// to the final status word) and the emulated instructions per second, measured in
// a second run with instruction counting on (counting itself costs time).
//
// Usage: flash_emu_bench [image size in KiB, default 1024]
#include <sys/mman.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <random>
#include <vector>

#include "bench_result.h"
#include "flash/board_map.h"
#include "flash/vireo_board_flash.h"
#include "flashlib/images.h"
#include "programs/programs.h"

namespace {

constexpr uint8_t kQuery[16] = {0x94, 0x93, 0x00, 0x00, 0x78, 0x56, 0x34, 0x12,
                                0xEF, 0xCD, 0xAB, 0x90, 0x55, 0xAA, 0x55, 0xAA};

struct Run {
    double seconds = 0;
    uint32_t finalState = 0;
    bool imageInFlash = false;
};

Run FlashOnce(size_t size, std::shared_ptr<vsim::EmulationStats> stats) {
    const vsim::Cpu cpu = vsim::Cpu::VireoC_TO2;
    const vsim::BoardMap map = vsim::MapOf(cpu);
    vsim::VireoBoardFlash flash(cpu);
    void* memory = mmap(nullptr, map.ramSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) {
        std::perror("mmap");
        std::exit(1);
    }
    auto* ram = static_cast<uint8_t*>(memory);
    const auto library = flashlib::BuiltinFlashLibrary(flashlib::BuiltinLibrary::NorVireoC);
    std::memcpy(ram, library.data(), library.size());
    std::vector<uint8_t> image(size);
    std::mt19937 random(7);
    for (auto& byte : image) byte = static_cast<uint8_t>(random());
    std::memcpy(ram + 0x10000, image.data(), size);
    const uint32_t params[8] = {
        map.norBase, 0, 0, 0, map.ramBase + 0x10000, map.norBase, static_cast<uint32_t>(size), 0};
    std::memcpy(ram + 0xFFE0, params, sizeof params);

    std::mutex mutex;
    std::condition_variable answered;
    std::vector<uint8_t> received;
    vsim::ProgramContext context;
    context.cpu = cpu;
    context.ramBase = map.ramBase;
    context.ram = ram;
    context.ramSize = map.ramSize;
    context.flash = &flash;
    context.entry = map.ramBase + 0x4000;
    context.toHost = [&](vsim::Channel, const uint8_t* data, size_t n) {
        std::lock_guard lock(mutex);
        received.insert(received.end(), data, data + n);
        answered.notify_all();
    };
    context.ended = [](bool) {};

    Run run;
    const auto start = std::chrono::steady_clock::now();
    auto program = vsim::MakeEmulatedProgramFactory(stats)(context);
    program->Start();
    while (run.finalState < 0xB1) {
        std::unique_lock lock(mutex);
        const size_t before = received.size();
        lock.unlock();
        program->HostBytes(vsim::Channel::Serial, kQuery, sizeof kQuery);
        lock.lock();
        if (!answered.wait_for(lock, std::chrono::seconds(60), [&] { return received.size() >= before + 4; })) {
            std::fprintf(stderr, "flash_emu_bench: the board stopped answering\n");
            std::exit(1);
        }
        run.finalState = received[before + 2] | (received[before + 3] << 8);
    }
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    program->Stop();
    const auto dump = flash.Dump();
    run.imageInFlash = std::equal(image.begin(), image.end(), dump.begin());
    munmap(memory, map.ramSize);
    return run;
}

}  // namespace

int main(int argc, char** argv) {
    const size_t kib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1024;
    if (kib == 0 || kib > 32 * 1024) {
        std::fprintf(stderr, "usage: flash_emu_bench [image size in KiB, 1 to 32768]\n");
        return 2;
    }
    const Run timed = FlashOnce(kib * 1024, nullptr);
    auto stats = std::make_shared<vsim::EmulationStats>();
    const Run counted = FlashOnce(kib * 1024, stats);
    const double instructions = static_cast<double>(stats->instructions.load());
    std::printf("NOR flashing of %zu KiB (VireoC, emulated, serial status polling)\n", kib);
    std::printf("  flashing time:            %.2f s (final state 0x%02X, image %s)\n", timed.seconds, timed.finalState,
                timed.imageInFlash ? "in flash" : "NOT in flash");
    std::printf("  emulated instructions:    %.1f M\n", instructions / 1e6);
    std::printf("  instructions per second:  %.1f M/s (counted run: %.2f s)\n", instructions / counted.seconds / 1e6,
                counted.seconds);
    const bool ok = timed.finalState == 0xB4 && timed.imageInFlash;
    char name[96];
    std::snprintf(name, sizeof name, "%zu KiB NOR flashing on the emulated board (VireoC)", kib);
    bench::Result(name, timed.seconds, "s", kib == 1024 ? "< 10 s" : "-", ok && (kib != 1024 || timed.seconds < 10));
    bench::Result("emulated instructions per second while programming NOR", instructions / counted.seconds / 1e6, "M/s",
                  "report", true);
    return ok ? 0 : 1;
}
