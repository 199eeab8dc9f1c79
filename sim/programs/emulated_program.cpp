// Runs whatever the boot ROM loaded on an emulated ARM926 core (unicorn), with the
// board's RAM mapped directly and every peripheral window as MMIO on BoardBus.
#include "programs/emulated_program.h"

#include <unicorn/unicorn.h>

#include <array>
#include <cinttypes>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

#include "flash/board_map.h"
#include "programs/board_bus.h"
#include "programs/programs.h"

namespace vsim {

namespace {

// An ARM-state PC is never odd, so emulation never ends by reaching this address.
constexpr uint64_t kNeverReached = 0xFFFFFFFF;
// Stop() repeats its request until the thread notices, since a request that comes
// before the emulation starts is lost.
constexpr auto kStopRetry = std::chrono::milliseconds(5);
// CPSR's T bit: the core executes Thumb instructions.
constexpr uint32_t kThumbBit = 1u << 5;

const char* AccessName(uc_mem_type type) {
    switch (type) {
        case UC_MEM_READ_UNMAPPED:
        case UC_MEM_READ_PROT:
            return "read";
        case UC_MEM_WRITE_UNMAPPED:
        case UC_MEM_WRITE_PROT:
            return "write";
        case UC_MEM_FETCH_UNMAPPED:
        case UC_MEM_FETCH_PROT:
            return "instruction fetch";
        default:
            return "access";
    }
}

const char* ExceptionName(uint32_t number) {
    // The exception numbers of the emulated core.
    switch (number) {
        case 1:
            return "undefined instruction";
        case 2:
            return "software interrupt";
        case 3:
            return "prefetch abort";
        case 4:
            return "data abort";
        case 5:
            return "interrupt";
        case 6:
            return "fast interrupt";
        case 7:
            return "breakpoint";
        default:
            return "processor exception";
    }
}

class EmulatedProgram : public Program {
public:
    EmulatedProgram(const ProgramContext& context, std::shared_ptr<EmulationStats> stats)
        : bus_(context), stats_(std::move(stats)) {}

    ~EmulatedProgram() override { Stop(); }

    void Start() override {
        if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
    }

    void HostBytes(Channel channel, const uint8_t* data, size_t n) override { bus_.HostBytes(channel, data, n); }
    std::vector<uint8_t> TakeUnread(Channel channel) override { return bus_.TakeReceived(channel); }

    void Stop() override {
        bus_.RequestStop();
        if (!thread_.joinable()) return;
        if (thread_.get_id() == std::this_thread::get_id()) {
            thread_.detach();
            return;
        }
        for (;;) {
            {
                std::lock_guard lock(ucMutex_);
                if (finished_) break;
                if (uc_) uc_emu_stop(uc_);
            }
            std::unique_lock lock(ucMutex_);
            finishedChanged_.wait_for(lock, kStopRetry, [this] { return finished_; });
            if (finished_) break;
        }
        thread_.join();
    }

private:
    struct Window {
        EmulatedProgram* program;
        uint32_t base;
    };

    void Run() {
        std::string fault;
        const bool backToRom = Emulate(&fault);
        {
            std::lock_guard lock(ucMutex_);
            finished_ = true;
        }
        finishedChanged_.notify_all();
        if (bus_.StopRequested()) return;
        if (!backToRom) std::fprintf(stderr, "vireo-sim: %s\n", fault.c_str());
        // The board may drop this program from inside the callback: keep a copy.
        const auto ended = bus_.Context().ended;
        if (ended) ended(backToRom);
    }

    // Returns true when the program handed the board back to its boot ROM;
    // otherwise fault says why it ended.
    bool Emulate(std::string* fault) {
        const ProgramContext& context = bus_.Context();
        const BoardMap& map = bus_.Map();
        uc_engine* uc = nullptr;
        uc_err err = uc_open(UC_ARCH_ARM, UC_MODE_ARM, &uc);
        if (err != UC_ERR_OK) {
            *fault = std::string("cannot start the emulated core: ") + uc_strerror(err);
            return false;
        }
        uc_ctl_set_cpu_model(uc, UC_CPU_ARM_926);
        err = uc_mem_map_ptr(uc, context.ramBase, context.ramSize, UC_PROT_ALL, context.ram);

        windows_ = {{{this, map.norBase},
                     {this, map.nandController},
                     {this, map.uart},
                     {this, map.usbFifo},
                     {this, map.systemControl}}};
        const std::array<uint32_t, 5> sizes = {map.norSize, kPeripheralWindow, kPeripheralWindow, kPeripheralWindow,
                                               kPeripheralWindow};
        for (size_t i = 0; i < windows_.size() && err == UC_ERR_OK; ++i) {
            if (windows_[i].base != 0)
                err = uc_mmio_map(uc, windows_[i].base, sizes[i], MmioRead, &windows_[i], MmioWrite, &windows_[i]);
        }
        uc_hook hook;
        if (err == UC_ERR_OK)
            err = uc_hook_add(uc, &hook, UC_HOOK_MEM_INVALID, reinterpret_cast<void*>(BadAccess), this, 1, 0);
        if (err == UC_ERR_OK)
            err = uc_hook_add(uc, &hook, UC_HOOK_INTR, reinterpret_cast<void*>(Exception), this, 1, 0);
        if (err == UC_ERR_OK && stats_)
            err = uc_hook_add(uc, &hook, UC_HOOK_BLOCK, reinterpret_cast<void*>(CountBlock), this, 1, 0);
        if (err != UC_ERR_OK) {
            *fault = std::string("cannot set up the emulated board: ") + uc_strerror(err);
            uc_close(uc);
            return false;
        }

        {
            std::lock_guard lock(ucMutex_);
            uc_ = uc;
        }
        if (!bus_.StopRequested()) err = uc_emu_start(uc, context.entry, kNeverReached, 0, 0);
        uint32_t pc = 0;
        uc_reg_read(uc, UC_ARM_REG_PC, &pc);
        {
            std::lock_guard lock(ucMutex_);
            uc_ = nullptr;
            uc_close(uc);
        }

        if (bus_.HandedBack()) return true;
        char text[160];
        if (!badAccess_.empty()) {
            std::snprintf(text, sizeof text, "program crashed in the code from 0x%08" PRIX32 ": %s", faultPc_,
                          badAccess_.c_str());
        } else if (exception_ != 0) {
            std::snprintf(text, sizeof text, "program crashed at 0x%08" PRIX32 ": %s", pc, ExceptionName(exception_));
        } else if (err == UC_ERR_INSN_INVALID) {
            std::snprintf(text, sizeof text, "program crashed at 0x%08" PRIX32 ": undefined instruction", pc);
        } else if (err != UC_ERR_OK) {
            std::snprintf(text, sizeof text, "program crashed at 0x%08" PRIX32 ": %s", pc, uc_strerror(err));
        } else {
            std::snprintf(text, sizeof text, "program stopped at 0x%08" PRIX32, pc);
        }
        *fault = text;
        return false;
    }

    static uint64_t MmioRead(uc_engine* uc, uint64_t offset, unsigned size, void* user) {
        auto* window = static_cast<Window*>(user);
        EmulatedProgram* self = window->program;
        if (self->bus_.StopRequested()) uc_emu_stop(uc);
        return self->bus_.Read(window->base + static_cast<uint32_t>(offset), size);
    }

    static void MmioWrite(uc_engine* uc, uint64_t offset, unsigned size, uint64_t value, void* user) {
        auto* window = static_cast<Window*>(user);
        EmulatedProgram* self = window->program;
        self->bus_.Write(window->base + static_cast<uint32_t>(offset), static_cast<uint32_t>(value), size);
        if (self->bus_.HandedBack() || self->bus_.StopRequested()) uc_emu_stop(uc);
    }

    static bool BadAccess(uc_engine* uc, uc_mem_type type, uint64_t address, int size, int64_t, void* user) {
        auto* self = static_cast<EmulatedProgram*>(user);
        // The core keeps the PC per translated block, so this is the block's first instruction.
        uc_reg_read(uc, UC_ARM_REG_PC, &self->faultPc_);
        char text[96];
        std::snprintf(text, sizeof text, "%s of %d bytes at 0x%08" PRIX64 " outside the board's memory map",
                      AccessName(type), size, address);
        self->badAccess_ = text;
        return false;
    }

    static void Exception(uc_engine* uc, uint32_t number, void* user) {
        static_cast<EmulatedProgram*>(user)->exception_ = number;
        uc_emu_stop(uc);
    }

    static void CountBlock(uc_engine* uc, uint64_t, uint32_t size, void* user) {
        // Four bytes an instruction in ARM state, two in Thumb state (a BL pair counts twice).
        uint32_t cpsr = 0;
        uc_reg_read(uc, UC_ARM_REG_CPSR, &cpsr);
        const uint32_t width = (cpsr & kThumbBit) ? 2 : 4;
        static_cast<EmulatedProgram*>(user)->stats_->instructions.fetch_add(size / width, std::memory_order_relaxed);
    }

    BoardBus bus_;
    std::shared_ptr<EmulationStats> stats_;
    std::array<Window, 5> windows_{};
    std::string badAccess_;
    uint32_t faultPc_ = 0;
    uint32_t exception_ = 0;
    std::mutex ucMutex_;
    std::condition_variable finishedChanged_;
    uc_engine* uc_ = nullptr;
    bool finished_ = false;
    std::thread thread_;
};

}  // namespace

std::unique_ptr<Program> MakeEmulatedProgram(const ProgramContext& context, std::shared_ptr<EmulationStats> stats) {
    return std::make_unique<EmulatedProgram>(context, std::move(stats));
}

ProgramFactory MakeEmulatedProgramFactory(std::shared_ptr<EmulationStats> stats) {
    return [stats](const ProgramContext& context) -> std::unique_ptr<Program> {
        return MakeEmulatedProgram(context, stats);
    };
}

}  // namespace vsim
