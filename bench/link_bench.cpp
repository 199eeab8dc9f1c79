// Bootwire's throughput against the real vireo-sim: unpaced and paced serial,
// the USB socket, and the client's peak memory for a 32 MiB image.
#include <bootwire/bootwire.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bench_result.h"
#include "sim_process.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
constexpr uint32_t kLoadAddress = 0x80010000;

double Seconds(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

std::vector<uint8_t> Image(size_t n) { return bench::RandomBytes(n); }

// The same bytes through a bare pty, written in the library's send size.
double PlainPtyCopy(const std::vector<uint8_t>& data) {
    int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ::grantpt(master);
    ::unlockpt(master);
    int slave = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
    termios tio{};
    for (int fd : {master, slave}) {
        ::tcgetattr(fd, &tio);
        ::cfmakeraw(&tio);
        ::tcsetattr(fd, TCSANOW, &tio);
    }
    auto start = Clock::now();
    std::thread reader([&] {
        std::vector<uint8_t> buffer(1 << 16);
        size_t got = 0;
        while (got < data.size()) {
            ssize_t r = ::read(master, buffer.data(), buffer.size());
            if (r <= 0) {
                break;
            }
            got += static_cast<size_t>(r);
        }
    });
    for (size_t off = 0; off < data.size();) {
        ssize_t w = ::write(slave, data.data() + off, std::min<size_t>(bootwire::kMaxSendSize, data.size() - off));
        if (w <= 0) {
            break;
        }
        off += static_cast<size_t>(w);
    }
    reader.join();
    double s = Seconds(start);
    ::close(slave);
    ::close(master);
    return data.size() / s / 1e6;
}

// Seconds for one image download, or a negative number on failure.
double Download(bootwire::Link& link, const std::vector<uint8_t>& image) {
    auto start = Clock::now();
    if (link.ImageDownload(kLoadAddress, image.data(), image.size()) != bootwire::Error::Ok) {
        std::fprintf(stderr, "download failed: %s\n", link.ErrorDetail().c_str());
        return -1;
    }
    return Seconds(start);
}

std::unique_ptr<bootwire::Transport> Serial(const sealtest::SimProcess& sim) {
    bootwire::Error error;
    std::string detail;
    return bootwire::OpenSerial(sim.serial(), 1, &error, &detail);
}

// Child mode: one USB download of `mib` MiB, for the parent to read our peak RSS.
int UsbClient(const char* socket, size_t mib) {
    ::setenv("BOOTWIRE_USB_SIM", socket, 1);
    bootwire::Error error;
    std::string detail;
    bootwire::Link link(bootwire::OpenUsb(&error, &detail));
    auto image = Image(mib << 20);
    return link.IsOpen() && Download(link, image) >= 0 ? 0 : 1;
}

long ChildPeakKiB(const std::string& socket, size_t mib) {
    std::string self = "/proc/self/exe", mode = "--usb-client", size = std::to_string(mib);
    std::string path = socket;
    char* argv[] = {self.data(), mode.data(), path.data(), size.data(), nullptr};
    pid_t pid;
    if (posix_spawn(&pid, "/proc/self/exe", nullptr, nullptr, argv, environ) != 0) {
        return -1;
    }
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? usage.ru_maxrss : -1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--usb-client") == 0) {
        return UsbClient(argv[2], std::strtoul(argv[3], nullptr, 10));
    }
    size_t pacedKiB = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1024;
    constexpr size_t kMiB = 32;

    long peak = 0;
    {
        sealtest::SimProcess sim("VireoC_TO2", {}, true);
        if (!sim.ok()) {
            std::fprintf(stderr, "%s\n", sim.error().c_str());
            return 1;
        }
        peak = ChildPeakKiB(sim.usbSocket(), kMiB);
    }

    auto image = Image(kMiB << 20);
    double plain = PlainPtyCopy(image);
    double serialRate = 0, usbRate = 0;
    {
        sealtest::SimProcess sim("VireoC_TO2", {}, true);
        bootwire::Link serial(Serial(sim));
        double s = Download(serial, image);
        serialRate = s > 0 ? image.size() / s / 1e6 : 0;
        ::setenv("BOOTWIRE_USB_SIM", sim.usbSocket().c_str(), 1);
        bootwire::Error error;
        std::string detail;
        bootwire::Link usb(bootwire::OpenUsb(&error, &detail));
        s = usb.IsOpen() ? Download(usb, image) : -1;
        usbRate = s > 0 ? image.size() / s / 1e6 : 0;
    }
    double efficiency = 0;
    {
        sealtest::SimProcess sim("VireoC_TO2", {"--pace"});
        bootwire::Link serial(Serial(sim));
        std::vector<uint8_t> paced(image.begin(), image.begin() + static_cast<long>(pacedKiB << 10));
        double s = Download(serial, paced);
        // The header copy of 1024 bytes and the 16-byte headers are on the line too,
        // but only the image counts as payload.
        efficiency = s > 0 ? paced.size() / (s * 11520.0) : 0;
    }

    using bench::Result;
    Result("pty copy, 32 MiB (reference)", plain, "MB/s", "-", true);
    Result("serial download 32 MiB, unpaced", serialRate, "MB/s", "-", true);
    Result("serial / plain pty copy", serialRate / plain, "", ">= 0.8", serialRate / plain >= 0.8);
    Result("serial paced 8N1 " + std::to_string(pacedKiB) + " KiB: line efficiency", efficiency, "", ">= 0.99",
           efficiency >= 0.99);
    Result("USB socket download 32 MiB", usbRate, "MB/s", ">= 200", usbRate >= 200);
    Result("USB client peak RSS, 32 MiB image", peak / 1024.0, "MiB", "<= 40", peak > 0 && peak <= (40 << 10));
    return 0;
}
