// Bootwire through ser2net on loopback against the same board directly on its
// pty: a 1 MiB download unpaced (both in one run, the ratio is the figure), and
// the paced line's efficiency through RFC 2217.
#include <bootwire/bootwire.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_result.h"
#include "ser2net_process.h"
#include "sim_process.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr uint32_t kLoadAddress = 0x80010000;

std::vector<uint8_t> Image(size_t n) { return bench::RandomBytes(n); }

// Seconds for one download over the port, or a negative number on failure.
double Download(const std::string& port, const std::vector<uint8_t>& image) {
    bootwire::Error error;
    std::string detail;
    bootwire::Link link(bootwire::OpenSerial(port, 1, &error, &detail));
    if (error != bootwire::Error::Ok) {
        std::fprintf(stderr, "cannot open %s: %s\n", port.c_str(), detail.c_str());
        return -1;
    }
    const auto start = Clock::now();
    // The closing read is answered only once the board took every byte: a send over
    // the network returns as soon as the bytes are queued.
    uint8_t word[4];
    if (link.ImageDownload(kLoadAddress, image.data(), image.size()) != bootwire::Error::Ok ||
        link.ReadData(kLoadAddress, word, sizeof word, 32) != bootwire::Error::Ok) {
        std::fprintf(stderr, "download over %s failed: %s\n", port.c_str(), link.ErrorDetail().c_str());
        return -1;
    }
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The best of a few rounds: the machine is shared, and the figure is what the path can do.
double Best(const std::string& port, const std::vector<uint8_t>& image, int rounds) {
    double best = -1;
    for (int i = 0; i < rounds; ++i) {
        double s = Download(port, image);
        if (s > 0 && (best < 0 || s < best)) best = s;
    }
    return best;
}

}  // namespace

struct Rates {
    double direct = 0;   // MB/s
    double network = 0;  // MB/s
};

// The same 1 MiB to a board on its pty and to a twin board behind ser2net,
// alternating so that a busy spell of the machine hurts both alike; the best of each.
Rates Unpaced(const std::vector<uint8_t>& image, int bufferSize) {
    sealtest::SimProcess direct("VireoC_TO2");
    sealtest::SimProcess exported("VireoC_TO2");
    sealtest::Ser2netProcess server(exported.serial(), sealtest::Ser2netProcess::Kind::Rfc2217, "115200n81",
                                    bufferSize);
    if (!direct.ok() || !exported.ok() || !server.ok()) {
        std::fprintf(stderr, "%s %s %s\n", direct.error().c_str(), exported.error().c_str(), server.error().c_str());
        return {};
    }
    double d = -1, n = -1;
    for (int i = 0; i < 5; ++i) {
        const double a = Best(direct.serial(), image, 1);
        const double b = Best(server.Url(), image, 1);
        if (a > 0 && (d < 0 || a < d)) d = a;
        if (b > 0 && (n < 0 || b < n)) n = b;
    }
    return {d > 0 ? image.size() / d / 1e6 : 0, n > 0 ? image.size() / n / 1e6 : 0};
}

int main(int argc, char** argv) {
    if (sealtest::Ser2netProcess::Executable().empty()) {
        std::fprintf(stderr, "ser2net is not installed (scripts/install-deps.sh installs it)\n");
        return 1;
    }
    const size_t pacedKiB = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 256;
    const auto image = Image(1 << 20);

    // ser2net moves 64 bytes a turn unless told otherwise: plenty for a real line,
    // the bottleneck for an unpaced virtual one.
    const Rates stock = Unpaced(image, 0);
    const Rates tuned = Unpaced(image, 65536);
    double efficiency = 0;
    {
        sealtest::SimProcess sim("VireoC_TO2", {"--pace"});
        sealtest::Ser2netProcess server(sim.serial(), sealtest::Ser2netProcess::Kind::Rfc2217);
        std::vector<uint8_t> paced(image.begin(), image.begin() + static_cast<long>(pacedKiB << 10));
        double s = sim.ok() && server.ok() ? Download(server.Url(), paced) : -1;
        // Only the image counts as payload (headers and the 1024-byte copy ride along).
        efficiency = s > 0 ? paced.size() / (s * 11520.0) : 0;
    }

    const double ratio = tuned.direct > 0 ? tuned.network / tuned.direct : 0;
    using bench::Result;
    Result("serial download 1 MiB, unpaced, direct pty", tuned.direct, "MB/s", "-", tuned.direct > 0);
    Result("  via ser2net RFC 2217 (64 KiB buffers)", tuned.network, "MB/s", "-", tuned.network > 0);
    Result("  via ser2net RFC 2217 (its default 64-byte buffers)", stock.network, "MB/s", "-", stock.network > 0);
    Result("ser2net RFC 2217 (64 KiB buffers) / direct pty, 1 MiB unpaced", ratio, "", ">= 0.5", ratio >= 0.5);
    Result("ser2net RFC 2217 paced 8N1 " + std::to_string(pacedKiB) + " KiB: line efficiency", efficiency, "",
           ">= 0.98", efficiency >= 0.98);
    return 0;
}
