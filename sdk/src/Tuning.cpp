#include "Tuning.h"

#include <arpa/inet.h>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>

namespace moltrex {

namespace {

struct State {
    std::mutex lock;
    std::optional<Tuning> replaced; // guarded by lock
};

State& state() {
    static auto* instance = new State; // never destroyed: threads may read it during exit
    return *instance;
}

bool parsePort(const char* text, uint16_t& port) {
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || value < 0 || value > 65535)
        return false;
    port = static_cast<uint16_t>(value);
    return true;
}

// "a.b.c.d" or "a.b.c.d:port"; anything else leaves the defaults.
void applyEnvironment(Tuning& t) {
    if (const char* target = std::getenv("MOLTREX_SEARCH_ADDRESS"); target && *target) {
        std::string text = target;
        uint16_t port = t.searchPort;
        const size_t colon = text.find(':');
        bool ok = true;
        if (colon != std::string::npos) {
            ok = parsePort(text.c_str() + colon + 1, port);
            text.resize(colon);
        }
        in_addr address{};
        if (ok && ::inet_pton(AF_INET, text.c_str(), &address) == 1) {
            t.searchAddress = ntohl(address.s_addr);
            t.searchPort = port;
        }
    }
    if (const char* local = std::getenv("MOLTREX_SEARCH_LOCAL_PORT"); local && *local) {
        uint16_t port = 0;
        if (parsePort(local, port))
            t.searchLocalPort = port;
    }
}

} // namespace

Tuning tuning() {
    State& s = state();
    {
        std::lock_guard guard(s.lock);
        if (s.replaced)
            return *s.replaced;
    }
    Tuning t;
    applyEnvironment(t);
    return t;
}

void setTuning(const Tuning& value) {
    State& s = state();
    std::lock_guard guard(s.lock);
    s.replaced = value;
}

void resetTuning() {
    State& s = state();
    std::lock_guard guard(s.lock);
    s.replaced.reset();
}

} // namespace moltrex
