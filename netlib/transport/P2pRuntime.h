#pragma once

#include <string>
#include <vector>

namespace zq {

// The peer-to-peer service is process-wide. The library starts it when it is loaded, with the
// relays named in VISTARO_P2P_RELAY ("host[:port][,host[:port]]", loopback by default), and
// stops it when unloaded. A program may call IOTC_Initialize itself afterwards to point the
// library at other relays.
void startP2pService();
void stopP2pService();

// The relay list VISTARO_P2P_RELAY gives (at most two entries), or loopback alone.
std::vector<std::string> configuredRelays(const char* setting);

} // namespace zq
