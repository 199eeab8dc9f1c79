// OpenSerial: a port's text decides its kind, so every front end that takes a
// port (the window's list, sealbench-cli --port, BootwireClass) reaches network
// ports without knowing of them.
#include <cctype>
#include <chrono>
#include <filesystem>

#include "port_openers.h"
#include "tcp_stream.h"

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

std::vector<std::string> PortIdentities(const std::string& port) {
    if (!LooksLikeNetworkAddress(port)) {
        // A by-id link and its device node are one port.
        std::error_code error;
        std::filesystem::path canonical = std::filesystem::weakly_canonical(port, error);
        return {error ? port : canonical.string()};
    }
    std::string why;
    auto address = ParseNetworkAddress(port, &why);
    if (!address) {
        return {port};
    }
    // rfc2217:// and socket:// to one endpoint reach one board, whatever the host is called.
    std::vector<std::string> identities;
    auto endpoint = [&](const std::string& host) { return "tcp:" + host + ":" + address->port; };
    for (const std::string& numeric : TcpStream::Addresses(address->host, std::chrono::seconds(5))) {
        identities.push_back(endpoint(numeric));
    }
    if (identities.empty()) {
        std::string host = address->host;
        for (char& c : host) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        identities.push_back(endpoint(host));
    }
    return identities;
}

}  // namespace bootwire
