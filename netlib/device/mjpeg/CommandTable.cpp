#include "device/mjpeg/CommandTable.h"

#include "device/mjpeg/Ctrl.h"

namespace zq::mjpeg {

namespace {

constexpr intptr_t kDecoderForm = 18;

PtzAction decoder(int code) {
    return {PtzAction::Kind::Decoder, code};
}

PtzAction ptzCgi(intptr_t command) {
    return {PtzAction::Kind::Queue, kCtrlPtzCommand, command};
}

PtzAction queued(int code) {
    return {PtzAction::Kind::Queue, code};
}

} // namespace

std::vector<PtzAction> ptzActions(intptr_t param1, intptr_t param2) {
    // Moves 0-6: up, down, left, right and the lens moves, as the camera numbers them, and the
    // decoder command of the same move.
    static constexpr int kMoves[] = {0, 2, 6, 4, 91, 90, 93};
    static constexpr int kDecoderMoves[] = {1, 2, 4, 5, 7, 8, 9};
    const bool cgiForm = param2 == kDecoderForm;
    if (param1 >= 0 && param1 <= 6) {
        const auto i = static_cast<size_t>(param1);
        return {cgiForm ? ptzCgi(kDecoderMoves[i]) : decoder(kMoves[i])};
    }
    switch (param1) {
    case 7:
        return {cgiForm ? ptzCgi(10) : decoder(92)};
    case 9:
        return {decoder(1)};
    case 18:
        return {decoder(25)};
    case 19:
        return {cgiForm ? ptzCgi(14) : decoder(28)};
    case 20:
        return {cgiForm ? ptzCgi(13) : decoder(26)};
    case 21:
        return {decoder(29)};
    case 22:
        return {decoder(27)};
    case 25:
        return {queued(kCtrlSnapshot)};
    case 27:
        return {queued(kCtrlReadParams)};
    case 47:
        return {queued(kCtrlPing)};
    case 52:
    case 53:
        // Preset set and go: the preset code itself travels in param2.
        if (param2 < 0 || param2 > 255)
            return {};
        return {decoder(static_cast<int>(param2))};
    case 55:
        return {decoder(95)};
    case 56:
        return {decoder(94)};
    case 62:
        return {ptzCgi(0), ptzCgi(3)};
    default:
        return {};
    }
}

} // namespace zq::mjpeg
