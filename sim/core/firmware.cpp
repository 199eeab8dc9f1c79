#include "core/firmware.h"

#include <cinttypes>
#include <cstdio>
#include <string>

#include "core/cpu.h"

namespace vsim {

namespace {

class ConsoleFirmware final : public Program {
public:
    explicit ConsoleFirmware(ProgramContext context) : context_(std::move(context)) {}

    void Start() override {
        char banner[160];
        std::snprintf(banner, sizeof banner,
                      "\r\n%s firmware: booting from flash at 0x%08" PRIx32 "\r\nconsole ready\r\nvireo> ",
                      std::string(TraitsOf(context_.cpu).name).c_str(), context_.entry);
        Say(banner);
    }

    void HostBytes(Channel channel, const uint8_t* data, size_t n) override {
        // A shell echoes what is typed; a USB boot device does not exist out of download mode.
        if (channel == Channel::Serial && context_.toHost) context_.toHost(Channel::Serial, data, n);
    }

    void Stop() override {}

private:
    void Say(const std::string& text) {
        if (context_.toHost)
            context_.toHost(Channel::Serial, reinterpret_cast<const uint8_t*>(text.data()), text.size());
    }

    ProgramContext context_;
};

}  // namespace

std::unique_ptr<Program> MakeConsoleFirmware(const ProgramContext& context) {
    return std::make_unique<ConsoleFirmware>(context);
}

}  // namespace vsim
