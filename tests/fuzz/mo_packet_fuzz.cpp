// Feeds arbitrary bytes to the MJPEG media and control channels' packet parsers: whatever a
// camera sends must never crash, overrun or hang them.

#include "device/mjpeg/Client.h"
#include "device/mjpeg/Ctrl.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace {

struct CheckingSink : zq::mjpeg::MjpegSink {
    void onControlNotice(int code, const void* data, int extra) override {
        if (!data)
            return;
        // Camera notices (8) promise `extra` bytes however short the packet; the others a value.
        const int length = code == 8 ? extra : 4;
        volatile uint8_t sum = 0;
        for (int i = 0; i < length; ++i)
            sum = static_cast<uint8_t>(sum + static_cast<const uint8_t*>(data)[i]);
    }
    void onMediaStatus(int, int, int) override {}
    void onMediaFrame(int, FRAME_HEAD* frame) override {
        volatile uint8_t sum = 0;
        for (int32_t i = 0; i < frame->length; ++i)
            sum = static_cast<uint8_t>(sum + static_cast<uint8_t>(frame->data[i]));
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static auto sink = std::make_shared<CheckingSink>();
    static DEVICE_PARAM param{};
    zq::mjpeg::CMJClient media(&param, sink, 0);
    zq::mjpeg::CMJCtrl control(&param, sink);
    // The first byte picks the read size, so packets split at every place.
    const size_t step = size > 0 ? 1 + data[0] % 64 : 1;
    for (size_t at = size > 0 ? 1 : 0; at < size; at += step) {
        const size_t n = size - at < step ? size - at : step;
        media.appendAndParse(data + at, n);
        control.appendAndParse(data + at, n);
    }
    return 0;
}
