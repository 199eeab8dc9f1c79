// What any host on the loopback may send to the virtual board's RFC 2217 port:
// however the stream is cut it gives the same data and line, every call makes
// progress, answers are bounded, and data escaped for the host comes back as it was.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "com_port_server.h"

using vsim::Bytes;
using vsim::ComPortServer;

namespace {

// Feeds like the serving loop does: again after each stop at a DTR/RTS change.
void FeedAll(ComPortServer& server, const uint8_t* data, size_t size, Bytes& out, Bytes& reply) {
    size_t at = 0;
    while (at < size) {
        const size_t taken = server.Feed(data + at, size - at, out, reply);
        if (taken == 0) std::abort();
        at += taken;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ComPortServer whole;
    Bytes wholeData, wholeReply;
    FeedAll(whole, data, size, wholeData, wholeReply);
    if (wholeReply.size() > 16 * size + 16) std::abort();

    ComPortServer cut;
    Bytes cutData, cutReply;
    const size_t at = size > 0 ? data[0] % (size + 1) : 0;
    FeedAll(cut, data, at, cutData, cutReply);
    FeedAll(cut, data + at, size - at, cutData, cutReply);
    if (cutData != wholeData || cutReply != wholeReply || !(cut.Line() == whole.Line())) std::abort();

    Bytes escaped;
    ComPortServer::AppendEscaped(data, size, escaped);
    ComPortServer fresh;
    Bytes back, none;
    FeedAll(fresh, escaped.data(), escaped.size(), back, none);
    if (back != Bytes(data, data + size) || !none.empty()) std::abort();
    return 0;
}
