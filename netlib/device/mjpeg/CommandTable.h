#pragma once

#include <cstdint>
#include <vector>

// How zq_net_setcommand 12 becomes work for an MJPEG camera.
namespace zq::mjpeg {

struct PtzAction {
    enum class Kind {
        Decoder, // decoder control packet (control opcode 14) with `code`
        Queue,   // a code for "ctrl_thread" with `param1`
    };
    Kind kind;
    int code;
    intptr_t param1 = 0;
    bool operator==(const PtzAction&) const = default;
};

// The actions for command 12 with `param1` and `param2`, in order; empty for codes the camera
// has no use for. `param2` 18 asks for the decoder (CGI) form of the moves that have one.
std::vector<PtzAction> ptzActions(intptr_t param1, intptr_t param2);

} // namespace zq::mjpeg
