#pragma once

#include "Session.h"

namespace moltrex {

// Requests of the management exports (thread messages 1024 + n).
enum : int {
    kGetParams = 1025,
    kSetParams = 1026,
    kGetTime = 1027,
    kSetTime = 1028,
    kUpgradeSystem = 1029,
    kUpgradeApplication = 1030,
    kReboot = 1031,
    kFactoryReset = 1032,
    kGetNet2 = 1035,
    kSetNet2 = 1036,
    kGetDdns = 1037,
    kRestartDdns = 1038,
};

// The management session ("MO_M"): parameters, time, network, DDNS, firmware upload, reboot and
// factory reset, each request a message to the camera, each answer a notification to the host.
class ManagementSession final : public Session {
public:
    ManagementSession(Endpoint endpoint, const Target& target, const Tuning& tuning)
        : Session(SessionKind::Management, std::move(endpoint), target, tuning) {}

private:
    void onMessage(const Message& message) override;
    int onRequest(Request& request) override;
    int upload(uint16_t opcode, const std::string& path);
};

} // namespace moltrex
