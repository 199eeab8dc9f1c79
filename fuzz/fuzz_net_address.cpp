// Port texts come from users: a parsed network address always names a host and a
// TCP port in range, and a refused one always says why.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "net_address.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string why;
    auto address = bootwire::ParseNetworkAddress(text, &why);
    if (address) {
        const long port = std::stol(address->port);
        if (address->host.empty() || port < 1 || port > 65535 || !bootwire::LooksLikeNetworkAddress(text)) {
            std::abort();
        }
    } else if (why.empty()) {
        std::abort();
    }
    return 0;
}
