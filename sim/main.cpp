// vireo-sim: a virtual Vireo board for tests, benchmarks and users without
// hardware. It serves the boot ROM on a pseudo-terminal (and on a Unix socket or a
// loopback TCP port standing in for the USB boot device) until SIGINT or SIGTERM.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/hex_text.h"
#include "common/version.h"
#include "core/board.h"
#include "core/cpu.h"
#include "core/faults.h"
#include "flash/board_flash.h"
#include "jig.h"
#include "links.h"
#include "log.h"
#include "rfc2217_port.h"
#include "serve.h"
#include "umockdev_companion.h"
#include "usb_faults.h"
#include "wiring.h"

namespace {

using vsim::LogLine;

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
// Long enough for any reader that is reading; a reader that is not must not hold up the exit.
constexpr std::chrono::milliseconds kLogFlushLimit{2000};

struct Options {
    std::string cpu;
    std::string usbSocket;
    std::optional<int> usbTcp;
    bool pace = false;
    std::string dumpFlash;
    std::string stats;
    std::vector<std::string> faults;
    std::string sekurel;
    std::string flashlib = "emulate";
    bool usbUmockdev = false;
    std::string uid;
    std::optional<int> rfc2217;
    bool jig = false;
};

std::string JigHelp() {
    char uidAt[160];
    std::snprintf(uidAt, sizeof uidAt, "0x%08X on VireoB, 0x%08X on VireoC",
                  vsim::TraitsOf(vsim::Cpu::VireoB).uniqueIdBase, vsim::TraitsOf(vsim::Cpu::VireoC_TO2).uniqueIdBase);
    return "\n"
           "Unique ID:\n"
           "  --uid HEX puts up to " +
           std::to_string(vsim::kUniqueIdSize) +
           " bytes (2 hex digits each, in address order) in the\n"
           "  chip's read-only unique-ID block at " +
           uidAt +
           ",\n"
           "  where the boot ROM's read memory reads them (the rest of the block reads 0;\n"
           "  without --uid all of it does).\n"
           "\n"
           "Line control and the jig:\n"
           "  --rfc2217 PORT serves the UART on 127.0.0.1:PORT with Telnet COM-port control\n"
           "  (RFC 2217; 0: any free port), one host at a time: its speed and framing are the\n"
           "  line's (a wrong speed garbles, as on the pty) and it sets DTR and RTS. While a\n"
           "  host is connected the UART is its, not the pty's; when it leaves, DTR and RTS drop.\n"
           "  --jig wires them as a factory jig does: RTS on holds the board in reset; when RTS\n"
           "  goes off the board starts in its boot ROM if DTR is on at that moment, else in\n"
           "  the firmware in its flash, which prints a console banner and echoes what it is\n"
           "  sent (the boot ROM does not answer). The board powers on with both lines off,\n"
           "  so in its firmware; SIGUSR1 then restarts it as DTR says. Flash and memory keep\n"
           "  their contents. Without --jig the lines change nothing: the boot ROM always answers.\n";
}

std::string Footer() {
    return "\n" + vsim::FaultHelp() + vsim::UsbDeviceFaultHelp() + JigHelp() +
           "\n"
           "Signals:\n"
           "  SIGINT, SIGTERM  end the board (writing --dump-flash and --stats first); exit status 0\n"
           "  SIGUSR1          reset the board to its boot ROM, as its reset button does: a\n"
           "                   started application stops and the USB device re-enumerates\n"
           "                   (for example: kill -USR1 <pid>); with --jig it restarts the\n"
           "                   board as DTR says, and does nothing while RTS holds it\n"
           "  SIGUSR2          unplug the USB cable (--usb-socket, --usb-tcp): the socket\n"
           "                   goes and a connected host loses the device; the next SIGUSR2\n"
           "                   plugs it in again and the board powers up, its flash kept\n"
           "\n"
           "--stats FILE is a JSON object: \"programs\", one entry per program the board\n"
           "started (\"entry\", and \"stream_blocks\" and \"stream_payload_bytes\": the Block\n"
           "and Write frames of fast serial flashing it received with a good CRC, and their\n"
           "payload bytes, as the board itself counts them), and the totals of both.\n"
           "\n"
           "The first line of standard output is \"serial: PATH\" (the pty to open); with\n"
           "--usb-socket or --usb-tcp the second is \"usb: ADDRESS\" (set BOOTWIRE_USB_SIM=ADDRESS\n"
           "for the host; with --usb-tcp 0 it names the port the system chose).\n"
           "With --rfc2217 the next is \"rfc2217: rfc2217://127.0.0.1:PORT\", the port to open.\n"
           "With --usb-umockdev the next is \"umockdev: DIR\": run the host as\n"
           "  UMOCKDEV_DIR=DIR umockdev-wrapper sealbench-cli ... --usb\n"
           "and it reaches the board through libusb, as it would a real board.\n";
}

// The --uid text: an optional 0x, then 2 hex digits a byte.
std::optional<std::vector<uint8_t>> ParseUid(std::string text) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text = text.substr(2);
    if (text.empty() || text.size() % 2 != 0 || text.size() > 2 * vsim::kUniqueIdSize) return std::nullopt;
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < text.size(); i += 2) {
        const int high = sealbench::HexDigit(text[i]);
        const int low = sealbench::HexDigit(text[i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        bytes.push_back(static_cast<uint8_t>(high * 16 + low));
    }
    return bytes;
}

int Usage(const std::string& message) {
    std::fprintf(stderr, "vireo-sim: %s\nRun vireo-sim --help for the options.\n", message.c_str());
    return kExitUsage;
}

// Written beside the target and renamed over it, so a reader never sees half a dump.
bool WriteDump(const std::string& path, std::span<const uint8_t> bytes, std::string* error) {
    std::string temp = path + ".XXXXXX";
    int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        *error = "cannot create a file beside " + path + ": " + std::strerror(errno);
        return false;
    }
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            *error = "cannot write " + temp + ": " + std::strerror(errno);
            ::close(fd);
            ::unlink(temp.c_str());
            return false;
        }
        done += static_cast<size_t>(n);
    }
    ::fchmod(fd, 0644);
    if (::close(fd) != 0 || ::rename(temp.c_str(), path.c_str()) != 0) {
        *error = "cannot write " + path + ": " + std::strerror(errno);
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

std::string StatsJson(const std::vector<vsim::ProgramStreamStats>& programs) {
    std::string text = "{\"programs\": [";
    uint64_t blocks = 0, payload = 0;
    char entry[16];
    for (size_t i = 0; i < programs.size(); ++i) {
        const vsim::ProgramStreamStats& p = programs[i];
        std::snprintf(entry, sizeof entry, "0x%08X", p.entry);
        text += std::string(i ? ", " : "") + "{\"entry\": \"" + entry +
                "\", \"stream_blocks\": " + std::to_string(p.blocks) +
                ", \"stream_payload_bytes\": " + std::to_string(p.payloadBytes) + "}";
        blocks += p.blocks;
        payload += p.payloadBytes;
    }
    return text + "], \"stream_blocks\": " + std::to_string(blocks) +
           ", \"stream_payload_bytes\": " + std::to_string(payload) + "}\n";
}

}  // namespace

int main(int argc, char** argv) {
    // Before any thread exists, so that every thread leaves these signals to the loop.
    vsim::BlockServeSignals();

    Options options;
    CLI::App app{"vireo-sim: a virtual Vireo board answering the boot ROM protocol on a pty and a USB socket"};
    app.name("vireo-sim");
    app.add_option("--cpu", options.cpu, "Processor type: VireoB | VireoC_TO1 | VireoC_TO2")
        ->required()
        ->type_name("TYPE");
    auto* usbSocket =
        app.add_option("--usb-socket", options.usbSocket, "Also serve the USB boot device on this Unix socket")
            ->type_name("PATH");
    auto* usbUmockdev =
        app.add_flag("--usb-umockdev", options.usbUmockdev,
                     "Also plug the USB boot device into a umockdev test bed (for hosts under umockdev-wrapper)");
    app.add_option("--usb-tcp", options.usbTcp,
                   "Also serve the USB boot device on 127.0.0.1:PORT (0: any free port), for hosts that cannot "
                   "reach a Unix socket (Windows programs under Wine)")
        ->type_name("PORT")
        ->check(CLI::Range(0, 65535))
        ->excludes(usbSocket)
        ->excludes(usbUmockdev);
    app.add_flag("--pace", options.pace,
                 "Move serial bytes no faster than the real line: at the UART's rate (115200 baud until a "
                 "program changes its divisor; 10 bits a byte, 12 on VireoC_TO1)");
    app.add_option("--dump-flash", options.dumpFlash,
                   "On SIGINT/SIGTERM write the flash contents to FILE (NOR: whole array; NAND: page data)")
        ->type_name("FILE");
    app.add_option("--stats", options.stats,
                   "On SIGINT/SIGTERM write what the board's programs received to FILE (JSON; see below)")
        ->type_name("FILE");
    app.add_option("--fault", options.faults, "Inject a fault (repeatable; see below)")->type_name("SPEC");
    app.add_option("--sekurel", options.sekurel,
                   "Word that get-status answers while no application is pending (hex; default 0x3C)")
        ->type_name("WORD");
    app.add_option("--flashlib", options.flashlib,
                   "What runs a loaded flash library: emulate (its code on an emulated ARM core; default) or "
                   "model (a native model of the built-in library, much faster)")
        ->type_name("MODE");
    app.add_option("--uid", options.uid,
                   "The chip's unique ID: up to " + std::to_string(vsim::kUniqueIdSize) +
                       " bytes as hex, read by the boot ROM's read memory in the unique-ID block (see below)")
        ->type_name("HEX");
    app.add_option("--rfc2217", options.rfc2217,
                   "Also serve the UART on 127.0.0.1:PORT with RFC 2217 COM-port control (line settings, DTR, "
                   "RTS; 0: any free port)")
        ->type_name("PORT")
        ->check(CLI::Range(0, 65535));
    app.add_flag("--jig", options.jig,
                 "Wire DTR and RTS as a factory jig: RTS holds the board in reset, DTR at release chooses the boot "
                 "ROM (on) or the firmware in flash (off); see below");
    app.footer(Footer());
    app.set_version_flag("-V,--version", std::string("vireo-sim ") + sealbench::kProjectVersion);
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        std::cout << app.help();
        return 0;
    } catch (const CLI::CallForVersion& e) {
        std::cout << e.what() << "\n";
        return 0;
    } catch (const CLI::ParseError& e) {
        return Usage(e.what());
    }

    std::optional<vsim::Cpu> cpu = vsim::ParseCpu(options.cpu);
    if (!cpu) return Usage("unknown processor type \"" + options.cpu + "\" (VireoB, VireoC_TO1 or VireoC_TO2)");

    vsim::BoardConfig config;
    config.cpu = *cpu;
    if (!options.sekurel.empty() && !vsim::ParseHexWord(options.sekurel, &config.sekurelStatus))
        return Usage("bad --sekurel \"" + options.sekurel + "\": expected 1 to 8 hexadecimal digits");
    if (!vsim::MakeProgramsFor(options.flashlib, &config.programs))
        return Usage("bad --flashlib \"" + options.flashlib + "\": expected emulate or model");
    config.flash = vsim::MakeFlashFor(*cpu);
    if (!options.uid.empty()) {
        auto uid = ParseUid(options.uid);
        if (!uid)
            return Usage("bad --uid \"" + options.uid + "\": expected 1 to " + std::to_string(vsim::kUniqueIdSize) +
                         " bytes as pairs of hexadecimal digits");
        config.uniqueId = std::move(*uid);
    }

    vsim::UsbDeviceFaults usbFaults;  // checked here, played by the USB device's own process
    std::vector<std::string> usbFaultSpecs;
    for (const std::string& spec : options.faults) {
        std::string error;
        switch (vsim::ParseLinkFault(spec, &config.faults, &error)) {
            case vsim::FaultParse::Applied:
                continue;
            case vsim::FaultParse::Malformed:
                return Usage(error);
            case vsim::FaultParse::NotMine:
                break;
        }
        switch (vsim::ParseUsbDeviceFault(spec, &usbFaults, &error)) {
            case vsim::FaultParse::Applied:
                if (!options.usbUmockdev) return Usage("fault \"" + spec + "\" needs --usb-umockdev");
                usbFaultSpecs.push_back(spec);
                continue;
            case vsim::FaultParse::Malformed:
                return Usage(error);
            case vsim::FaultParse::NotMine:
                break;
        }
        if (!config.flash) return Usage("unknown fault \"" + spec + "\" (this build has no flash models)");
        if (!config.flash->AddFault(spec, &error))
            return Usage(error.empty() ? "unknown fault \"" + spec + "\"" : error);
    }

    try {
        vsim::Outbox outbox;
        vsim::Pty pty;
        // The umockdev device reaches the board through its USB socket, one connection
        // per host that opens the device; without --usb-socket the socket is private.
        std::string boardSocket = options.usbSocket;
        std::optional<vsim::PrivateSocketDir> privateSocket;
        if (options.usbUmockdev && boardSocket.empty()) {
            privateSocket.emplace();
            boardSocket = privateSocket->SocketPath();
        }
        std::optional<vsim::UsbListener> usb;
        if (!boardSocket.empty()) usb.emplace(boardSocket);
        if (options.usbTcp) usb.emplace(vsim::UsbListener::Tcp(*options.usbTcp));
        std::optional<vsim::Rfc2217Port> rfc2217;
        if (options.rfc2217) rfc2217.emplace(*options.rfc2217);
        std::optional<vsim::UmockdevCompanion> umockdev;
        if (options.usbUmockdev) umockdev.emplace(boardSocket, usbFaultSpecs);

        vsim::BoardLinks links;
        links.toHost = [&outbox](vsim::Channel c, const uint8_t* data, size_t n) { outbox.Push(c, data, n); };
        links.log = LogLine;
        links.usbDisconnect = [&outbox] { outbox.RequestUsbClose(); };
        links.programEnded = [&outbox] { outbox.Wake(); };
        links.serialSent = [&outbox] { return outbox.Queued(vsim::Channel::Serial) == 0; };
        vsim::Board board(std::move(config), std::move(links));
        vsim::Jig jig(board, options.jig);

        std::printf("serial: %s\n", pty.Path().c_str());
        if (!options.usbSocket.empty() || options.usbTcp) std::printf("usb: %s\n", usb->Path().c_str());
        if (rfc2217) std::printf("rfc2217: %s\n", rfc2217->Address().c_str());
        if (umockdev) std::printf("umockdev: %s\n", umockdev->Dir().c_str());
        std::fflush(stdout);
        if (jig.Wired()) {
            LogLine(std::string(vsim::TraitsOf(*cpu).name) + " in a jig; SIGUSR1 resets the board");
            jig.PowerOn();
        } else {
            LogLine(std::string(vsim::TraitsOf(*cpu).name) + " boot ROM ready; SIGUSR1 resets the board");
        }

        vsim::Server server(board, jig, pty, usb ? &*usb : nullptr, rfc2217 ? &*rfc2217 : nullptr, outbox,
                            vsim::ServeOptions{options.pace, !options.usbUmockdev});
        server.Run();
        umockdev.reset();  // before the board's USB connection closes, which would re-enumerate the device
        board.Shutdown();

        if (!options.dumpFlash.empty()) {
            std::vector<uint8_t> bytes;
            if (board.Flash())
                bytes = board.Flash()->Dump();
            else
                LogLine("this build has no flash models; writing an empty flash dump");
            std::string error;
            if (!WriteDump(options.dumpFlash, bytes, &error)) {
                LogLine(error);
                vsim::FlushLog(kLogFlushLimit);
                return kExitFailure;
            }
            LogLine("flash written to " + options.dumpFlash + " (" + std::to_string(bytes.size()) + " bytes)");
        }
        if (!options.stats.empty()) {
            const std::string json = StatsJson(board.StreamStats());
            std::string error;
            if (!WriteDump(options.stats, std::span(reinterpret_cast<const uint8_t*>(json.data()), json.size()),
                           &error)) {
                LogLine(error);
                vsim::FlushLog(kLogFlushLimit);
                return kExitFailure;
            }
        }
    } catch (const std::exception& e) {
        LogLine(e.what());
        vsim::FlushLog(kLogFlushLimit);
        return kExitFailure;
    }
    vsim::FlushLog(kLogFlushLimit);
    return 0;
}
