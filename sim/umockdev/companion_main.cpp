// vireo-usb-umockdev: plugs the virtual board's USB boot device into a umockdev
// test bed and serves it from the board's USB socket. vireo-sim starts it for
// --usb-umockdev. It is a process of its own because the emulated core's library
// (unicorn) exports its own copies of GLib functions, which break the real GLib
// that umockdev needs in the same process.
//
// Prints "umockdev: DIR" (the folder for UMOCKDEV_DIR) as its first line, writes
// diagnostics on stderr, and runs until SIGINT or SIGTERM, or until its parent ends.
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "common/version.h"
#include "umockdev_usb.h"

namespace {

sealbench::UniqueFd ConnectBoard(const std::string& path, std::string* why) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof addr.sun_path) {
        *why = "socket path \"" + path + "\" is empty or too long";
        return {};
    }
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    sealbench::UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd.Valid() || ::connect(fd.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        *why = "cannot connect to " + path + ": " + std::strerror(errno);
        return {};
    }
    return fd;
}

void Log(const std::string& line) {
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
}

}  // namespace

int main(int argc, char** argv) {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);  // before any thread starts
    ::signal(SIGPIPE, SIG_IGN);
    pid_t parent = ::getppid();
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent) return 0;

    std::string boardSocket;
    std::vector<std::string> faultSpecs;
    CLI::App app{"vireo-usb-umockdev: the virtual board's USB boot device in a umockdev test bed"};
    app.name("vireo-usb-umockdev");
    app.set_version_flag("-V,--version", std::string("vireo-usb-umockdev ") + sealbench::kProjectVersion);
    app.add_option("--board-socket", boardSocket, "The board's USB socket (vireo-sim --usb-socket)")
        ->required()
        ->type_name("PATH");
    app.add_option("--fault", faultSpecs, "A fault of the USB device (repeatable; see below)")->type_name("SPEC");
    app.footer("\n" + vsim::UsbDeviceFaultHelp());
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e);
    }
    vsim::UsbDeviceFaults faults;
    for (const std::string& spec : faultSpecs) {
        std::string error;
        if (vsim::ParseUsbDeviceFault(spec, &faults, &error) != vsim::FaultParse::Applied) {
            std::fprintf(stderr, "vireo-usb-umockdev: %s\n",
                         error.empty() ? ("unknown fault " + spec).c_str() : error.c_str());
            return 2;
        }
    }
    try {
        vsim::UmockdevUsb device([&boardSocket](std::string* why) { return ConnectBoard(boardSocket, why); }, faults,
                                 Log);
        std::printf("umockdev: %s\n", device.Dir().c_str());
        std::fflush(stdout);
        int signal = 0;
        while (sigwait(&signals, &signal) != 0) {
        }
    } catch (const std::exception& e) {
        Log(e.what());
        return 1;
    }
    return 0;
}
