#include "search/LocalAddresses.h"

#include <ifaddrs.h>
#include <net/if.h>

namespace zq::search {

std::vector<in_addr> localIPv4Addresses() {
    std::vector<in_addr> addresses;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return addresses;
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET)
            continue;
        if ((entry->ifa_flags & IFF_UP) == 0 || (entry->ifa_flags & IFF_LOOPBACK) != 0)
            continue;
        addresses.push_back(reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr);
    }
    ::freeifaddrs(list);
    return addresses;
}

} // namespace zq::search
