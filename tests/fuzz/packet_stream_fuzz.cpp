// Feeds arbitrary bytes, cut into arbitrary reads, to the media and control channels' packet
// parsers: whatever a camera sends must never crash, overrun or hang them.

#include "device/h264/Client.h"
#include "device/h264/Ctrl.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

namespace {

struct CheckingSink : zq::h264::MediaSink, zq::h264::ControlSink {
    void onMediaStatus(int, int&, int) override {}
    void onMediaFrame(int, FRAME_HEAD* frame) override {
        // Touch every byte the parser claims is there: ASan reports any overrun.
        volatile uint8_t sum = 0;
        for (int32_t i = 0; i < frame->length; ++i)
            sum = static_cast<uint8_t>(sum + static_cast<uint8_t>(frame->data[i]));
    }
    void onControl(int, const void* payload, int length) override {
        volatile uint8_t sum = 0;
        const auto* bytes = static_cast<const uint8_t*>(payload);
        for (int i = 0; i < length; ++i)
            sum = static_cast<uint8_t>(sum + bytes[i]);
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static DEVICE_PARAM param{};
    static auto sink = std::make_shared<CheckingSink>();
    if (size < 1)
        return 0;
    // The first byte picks the read size, the rest is the stream.
    const size_t chunk = 1 + data[0] % 97;
    // Built once: each holds a 1 MB buffer, which is reset instead of reallocated per input.
    static auto live = std::make_shared<zq::h264::CClient>(nullptr, &param, 0, sink, 0);
    static auto played = std::make_shared<zq::h264::CClient>("0|/records/cam/a.avi", &param,
                                                             64 | (8 << 16), sink, 0);
    static auto control = std::make_shared<zq::h264::CCtrl>(&param, sink);
    live->resetReceiveBuffer();
    played->resetReceiveBuffer();
    control->resetReceiveBuffer();
    played->playback()->discardQueued();
    for (size_t at = 1; at < size; at += chunk) {
        const size_t n = std::min(chunk, size - at);
        live->appendAndParse(data + at, n);
        played->appendAndParse(data + at, n);
        control->appendAndParse(data + at, n);
    }
    return 0;
}
