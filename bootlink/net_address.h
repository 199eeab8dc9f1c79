// Serial ports that live on another host: "rfc2217://HOST:PORT" (Telnet with
// COM-port control) and "socket://HOST:PORT" (raw TCP). Parsing only.
#pragma once

#include <optional>
#include <string>

namespace bootwire {

enum class NetworkKind { Rfc2217, RawSocket };

struct NetworkAddress {
    NetworkKind kind = NetworkKind::Rfc2217;
    std::string host;  // without the brackets of an IPv6 literal
    std::string port;  // decimal, 1 to 65535
    std::string text;  // as the user wrote it, for messages
};

// True when the text names a network port at all (it carries a "scheme://").
bool LooksLikeNetworkAddress(const std::string& port);

// Parses a network port; nullopt with the reason in *why when the text is not
// one that can be used.
std::optional<NetworkAddress> ParseNetworkAddress(const std::string& port, std::string* why);

}  // namespace bootwire
