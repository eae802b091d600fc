#pragma once

#include <string>

namespace zq {

// Dotted IPv4 text for `host`, which may already be an address or a host name.
// Empty when the name does not resolve. Thread-safe (getaddrinfo, not gethostbyname).
std::string resolveIPv4(const char* host);

} // namespace zq
