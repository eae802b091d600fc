#pragma once

#include <cstdint>

namespace Device {

// Where a camera session's commands go. The session implements it by forwarding to
// zq_net_setcommand on its network handle; tests record what would have been sent.
//
// Every control of this folder sends through a sink and nothing else, so a session that has no
// network handle skips every command in one place: sendCommand returns false and sends nothing.
//
// Pointer-carrying commands (talk data, preset and cruise names) pass the pointer as a
// pointer-sized integer; the pointed-to bytes only need to live for the duration of the call,
// since the network library copies or sends them before returning.
//
// May be called from any thread: the capture threads send talk data through it while the user
// interface thread sends controls.
class CommandSink {
public:
    virtual ~CommandSink() = default;
    virtual bool sendCommand(int code, intptr_t param1, intptr_t param2) = 0;
};

} // namespace Device
