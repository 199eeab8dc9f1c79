// OpenSerial: a port's text decides its kind, so every front end that takes a
// port (the window's list, sealbench-cli --port, BootwireClass) reaches network
// ports without knowing of them.
#include "port_openers.h"

namespace bootwire {

std::unique_ptr<Transport> OpenSerial(const std::string& port, int lineMode, Error* error, std::string* detail) {
    *error = Error::Ok;
    detail->clear();
    if (!LooksLikeNetworkAddress(port)) {
        return OpenLocalSerial(port, lineMode, error, detail);
    }
    std::string why;
    auto address = ParseNetworkAddress(port, &why);
    if (!address) {
        *error = Error::NotFound;
        *detail = why;
        return nullptr;
    }
    switch (address->kind) {
        case NetworkKind::Rfc2217:
            return OpenRfc2217(*address, lineMode, error, detail);
        case NetworkKind::RawSocket:
            return OpenRawSocket(*address, lineMode, error, detail);
    }
    return nullptr;
}

}  // namespace bootwire
