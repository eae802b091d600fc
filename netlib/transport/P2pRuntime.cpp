#include "transport/P2pRuntime.h"

#include "iotc/iotc.h"

#include <cstdlib>
#include <mutex>

namespace zq {

namespace {

constexpr size_t kMaxRelays = 2;
constexpr size_t kMaxRelayText = 255;

std::mutex g_serviceLock;
bool g_started = false; // guarded by g_serviceLock

} // namespace

std::vector<std::string> configuredRelays(const char* setting) {
    std::vector<std::string> relays;
    const std::string text = setting ? std::string(setting).substr(0, 2 * kMaxRelayText) : "";
    size_t start = 0;
    while (start <= text.size() && relays.size() < kMaxRelays) {
        size_t end = text.find(',', start);
        if (end == std::string::npos)
            end = text.size();
        std::string entry = text.substr(start, end - start);
        while (!entry.empty() && entry.front() == ' ')
            entry.erase(entry.begin());
        while (!entry.empty() && entry.back() == ' ')
            entry.pop_back();
        if (!entry.empty() && entry.size() <= kMaxRelayText)
            relays.push_back(entry);
        start = end + 1;
    }
    if (relays.empty())
        relays.emplace_back("127.0.0.1");
    return relays;
}

void startP2pService() {
    std::lock_guard lock(g_serviceLock);
    if (g_started)
        return;
    const auto relays = configuredRelays(std::getenv("VISTARO_P2P_RELAY"));
    // Addresses and host names go in separate slots; the service tries both kinds in order,
    // so every entry is passed as an address.
    IOTC_Initialize(0, relays[0].c_str(), relays.size() > 1 ? relays[1].c_str() : nullptr,
                    nullptr, nullptr);
    RDT_Initialize();
    g_started = true;
}

void stopP2pService() {
    std::lock_guard lock(g_serviceLock);
    if (!g_started)
        return;
    RDT_DeInitialize();
    IOTC_DeInitialize();
    g_started = false;
}

} // namespace zq
