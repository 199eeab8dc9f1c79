// The flash library's core compiled for the host, on the same bus as the
// emulated core. The core reaches the bus through the fl_* functions below, which
// find their program through a thread-local pointer: each program has its thread.
#include <algorithm>
#include <cstdio>
#include <thread>

#include "fl_core.h"
#include "fl_hal.h"
#include "flashlib/images.h"
#include "programs/board_bus.h"
#include "programs/emulated_program.h"
#include "programs/programs.h"

namespace vsim {

namespace {

// Thrown from a bus access once Stop() was called; unwinds through the core
// (built with -fexceptions) back to the thread's entry.
struct StopRequested {};

thread_local BoardBus* tBus = nullptr;

BoardBus& Bus() {
    if (tBus->StopRequested()) throw StopRequested{};
    return *tBus;
}

bool CodeMatches(const ProgramContext& context, flashlib::BuiltinLibrary which) {
    const auto image = flashlib::BuiltinFlashLibrary(which);
    const size_t end = std::min<size_t>(image.size(), flashlib::kParameterBlockOffset);
    if (end > context.ramSize) return false;
    return std::equal(image.begin() + flashlib::kCodeOffset, image.begin() + end, context.ram + flashlib::kCodeOffset);
}

// The built-in library whose code was loaded; for other code the flash address
// in the parameter block tells which device the job is for.
fl_job JobOf(const ProgramContext& context, const BoardMap& map) {
    if (CodeMatches(context, flashlib::BuiltinLibrary::NandVireoC)) return fl_nand_run;
    if (CodeMatches(context, flashlib::BuiltinLibrary::NorVireoC) ||
        CodeMatches(context, flashlib::BuiltinLibrary::NorVireoB))
        return fl_nor_run;
    const uint8_t* p = context.ram + FL_PARAM_BLOCK + FL_PARAM_FLASH_ADDRESS;
    const uint32_t flashAddress = p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t{p[3]} << 24);
    if (map.nandController != 0 && flashAddress - map.norBase >= map.norSize) return fl_nand_run;
    return fl_nor_run;
}

class NativeProgram : public Program {
public:
    explicit NativeProgram(const ProgramContext& context) : bus_(context) {
        const BoardMap& map = bus_.Map();
        board_ = {context.ramBase,    static_cast<uint32_t>(context.ramSize),
                  map.norBase,        map.norSize,
                  map.nandController, map.uart,
                  map.usbFifo,        map.systemControl};
        job_ = JobOf(context, map);
    }

    ~NativeProgram() override { Stop(); }

    void Start() override {
        if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
    }

    void HostBytes(Channel channel, const uint8_t* data, size_t n) override { bus_.HostBytes(channel, data, n); }
    std::vector<uint8_t> TakeUnread(Channel channel) override { return bus_.TakeReceived(channel); }

    void Stop() override {
        bus_.RequestStop();
        if (thread_.joinable()) {
            if (thread_.get_id() == std::this_thread::get_id())
                thread_.detach();
            else
                thread_.join();
        }
    }

private:
    void Run() {
        tBus = &bus_;
        try {
            fl_main(&board_, job_);
        } catch (const StopRequested&) {
            return;
        }
        // The board may drop this program from inside the callback: keep a copy.
        const auto ended = bus_.Context().ended;
        if (ended) ended(bus_.HandedBack());
    }

    BoardBus bus_;
    fl_board board_{};
    fl_job job_ = fl_nor_run;
    std::thread thread_;
};

}  // namespace

ProgramFactory MakeNativeProgramFactory() {
    return [](const ProgramContext& context) -> std::unique_ptr<Program> {
        if (context.entry != context.ramBase + flashlib::kCodeOffset || context.ramSize < 0x10000)
            return MakeEmulatedProgram(context, nullptr);
        return std::make_unique<NativeProgram>(context);
    };
}

}  // namespace vsim

extern "C" {

uint8_t fl_read8(uint32_t addr) { return static_cast<uint8_t>(vsim::Bus().Read(addr, 1)); }

uint16_t fl_read16(uint32_t addr) { return static_cast<uint16_t>(vsim::Bus().Read(addr, 2)); }

uint32_t fl_read32(uint32_t addr) { return vsim::Bus().Read(addr, 4); }

void fl_write16(uint32_t addr, uint16_t value) { vsim::Bus().Write(addr, value, 2); }

void fl_write32(uint32_t addr, uint32_t value) { vsim::Bus().Write(addr, value, 4); }

uint8_t* fl_ram(uint32_t addr) {
    const vsim::ProgramContext& context = vsim::tBus->Context();
    return context.ram + (addr - context.ramBase);
}

}  // extern "C"
