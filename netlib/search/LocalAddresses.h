#pragma once

#include <netinet/in.h>
#include <vector>

namespace zq::search {

// IPv4 addresses of the interfaces that are up, in interface order, loopback left out.
//
// The host name is no guide here: on many Linux hosts it resolves to 127.0.1.1 only, which would
// leave nothing to broadcast from.
std::vector<in_addr> localIPv4Addresses();

} // namespace zq::search
