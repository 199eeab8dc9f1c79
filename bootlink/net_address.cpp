#include "net_address.h"

#include <algorithm>
#include <cctype>

namespace bootwire {
namespace {

constexpr char kSeparator[] = "://";

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

}  // namespace

bool LooksLikeNetworkAddress(const std::string& port) {
    const size_t at = port.find(kSeparator);
    if (at == std::string::npos || at == 0) {
        return false;
    }
    // A scheme is letters, digits, '+', '-' and '.', starting with a letter; a path
    // such as /dev/x://y is not one.
    if (!std::isalpha(static_cast<unsigned char>(port[0]))) {
        return false;
    }
    return std::all_of(port.begin(), port.begin() + static_cast<long>(at),
                       [](unsigned char c) { return std::isalnum(c) || c == '+' || c == '-' || c == '.'; });
}

std::optional<NetworkAddress> ParseNetworkAddress(const std::string& port, std::string* why) {
    const std::string usage = " (expected rfc2217://HOST:PORT or socket://HOST:PORT)";
    const size_t at = port.find(kSeparator);
    if (!LooksLikeNetworkAddress(port)) {
        *why = port + " is not a network port" + usage;
        return std::nullopt;
    }
    NetworkAddress address;
    address.text = port;
    const std::string scheme = Lower(port.substr(0, at));
    if (scheme == "rfc2217") {
        address.kind = NetworkKind::Rfc2217;
    } else if (scheme == "socket") {
        address.kind = NetworkKind::RawSocket;
    } else {
        *why = port + ": unknown kind of port '" + port.substr(0, at) + "'" + usage;
        return std::nullopt;
    }
    std::string rest = port.substr(at + 3);
    // A trailing slash is what some tools write after the port; options after '?' are not ours.
    if (!rest.empty() && rest.back() == '/') {
        rest.pop_back();
    }
    if (rest.find_first_of("/?#@") != std::string::npos) {
        *why = port + ": only HOST:PORT may follow the '" + scheme + "://'" + usage;
        return std::nullopt;
    }
    std::string portText;
    if (!rest.empty() && rest[0] == '[') {
        const size_t close = rest.find(']');
        if (close == std::string::npos || close + 1 >= rest.size() || rest[close + 1] != ':') {
            *why = port + ": an IPv6 address is written [ADDRESS]:PORT" + usage;
            return std::nullopt;
        }
        address.host = rest.substr(1, close - 1);
        portText = rest.substr(close + 2);
    } else {
        const size_t colon = rest.rfind(':');
        if (colon == std::string::npos || rest.find(':') != colon) {
            *why = port + ": the TCP port number is missing" + usage;
            return std::nullopt;
        }
        address.host = rest.substr(0, colon);
        portText = rest.substr(colon + 1);
    }
    if (address.host.empty()) {
        *why = port + ": the host is missing" + usage;
        return std::nullopt;
    }
    // Leading zeros do not make another port.
    const size_t significant = std::min(portText.find_first_not_of('0'), portText.empty() ? 0 : portText.size() - 1);
    const std::string numberText = portText.substr(significant);
    const bool digits = !portText.empty() && numberText.size() <= 5 &&
                        std::all_of(portText.begin(), portText.end(), [](unsigned char c) { return std::isdigit(c); });
    const long number = digits ? std::stol(numberText) : 0;
    if (number < 1 || number > 65535) {
        *why = port + ": '" + portText + "' is not a TCP port number (1 to 65535)" + usage;
        return std::nullopt;
    }
    address.port = std::to_string(number);
    return address;
}

}  // namespace bootwire
