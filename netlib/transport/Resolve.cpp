#include "transport/Resolve.h"

#include <arpa/inet.h>
#include <netdb.h>

#include <cstring>

namespace zq {

std::string resolveIPv4(const char* host) {
    if (!host || !*host)
        return {};
    in_addr address{};
    if (inet_pton(AF_INET, host, &address) == 1)
        return host;

    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host, nullptr, &hints, &found) != 0 || !found)
        return {};
    char text[INET_ADDRSTRLEN] = {};
    const auto* ipv4 = reinterpret_cast<const sockaddr_in*>(found->ai_addr);
    inet_ntop(AF_INET, &ipv4->sin_addr, text, sizeof text);
    freeaddrinfo(found);
    return text;
}

} // namespace zq
