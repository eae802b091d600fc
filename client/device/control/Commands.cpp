#include "device/control/Commands.h"

#include <array>
#include <utility>

namespace Device::Commands {

namespace {

// The press of a direction carries the speed model the camera firmware expects: model 18
// cameras take their own, every other camera the common one.
constexpr intptr_t kPressModelSecond = 18;
constexpr intptr_t kPressModelCommon = 5;

// Parameter numbers of kMjpegPicture (model 16) and kMjpegSecondPicture (model 18).
enum MjpegParam : intptr_t {
    kParamResolution = 0,
    kParamBrightness = 1,
    kParamContrast = 2,
    kParamMode = 3,
    kParamFlip = 5,
};
enum MjpegSecondParam : intptr_t {
    kSecondBrightness = 0,
    kSecondContrast = 1,
    kSecondResolution = 2,
};

// Brightness sliders run 0..15; the cameras take 0..240.
constexpr int kBrightnessScale = 16;

struct Command {
    int code;
    intptr_t param1;
    intptr_t param2;
};

template <size_t N> bool sendAll(CommandSink& sink, const std::array<Command, N>& commands) {
    for (const Command& command : commands) {
        if (!sink.sendCommand(command.code, command.param1, command.param2))
            return false;
    }
    return true;
}

intptr_t flipValue(bool reverse, bool mirror) {
    return (reverse ? 1 : 0) + (mirror ? 2 : 0);
}

} // namespace

bool sendPtz(CommandSink& sink, int code) {
    return sink.sendCommand(kPtz, code, 0);
}

bool ptzPress(CommandSink& sink, int model, int tag) {
    return sink.sendCommand(kPtz, tag,
                            model == kModelMjpegSecond ? kPressModelSecond : kPressModelCommon);
}

bool ptzRelease(CommandSink& sink, int model, int tag) {
    if (tag > kLastDirectionTag)
        return false;
    return sendPtz(sink, model == kModelMjpegSecond ? kPtzStopSecond : kPtzStop);
}

bool zoomPress(CommandSink& sink, bool zoomIn, bool reverse) {
    return sink.sendCommand(zoomIn ? kZoomIn : kZoomOut, 0, reverse ? 1 : 0);
}

bool zoomRelease(CommandSink& sink, bool reverse) {
    return sink.sendCommand(kZoomStop, 0, reverse ? 1 : 0);
}

bool mjpegBrightness(CommandSink& sink, int model, int sliderValue) {
    const intptr_t value = static_cast<intptr_t>(sliderValue) * kBrightnessScale;
    if (model == kModelMjpeg)
        return sink.sendCommand(kMjpegPicture, kParamBrightness, value);
    if (model == kModelMjpegSecond)
        return sink.sendCommand(kMjpegSecondPicture, kSecondBrightness, value);
    return false;
}

bool mjpegContrast(CommandSink& sink, int model, int value) {
    if (model == kModelMjpeg)
        return sink.sendCommand(kMjpegPicture, kParamContrast, value);
    if (model == kModelMjpegSecond)
        return sink.sendCommand(kMjpegSecondPicture, kSecondContrast, value);
    return false;
}

bool mjpegResolution(CommandSink& sink, int model, int value) {
    if (model == kModelMjpeg)
        return sink.sendCommand(kMjpegPicture, kParamResolution, value);
    if (model == kModelMjpegSecond)
        return sink.sendCommand(kMjpegSecondPicture, kSecondResolution, value);
    return false;
}

bool mjpegMode(CommandSink& sink, int model, int value) {
    if (model != kModelMjpeg)
        return false;
    return sink.sendCommand(kMjpegPicture, kParamMode, value);
}

bool mjpegFlipMirror(CommandSink& sink, int model, FlipOption changed, bool reverse, bool mirror) {
    const intptr_t value = flipValue(reverse, mirror);
    if (model == kModelMjpeg)
        return sink.sendCommand(kMjpegPicture, kParamFlip, value);
    if (model == kModelMjpegSecond)
        return sink.sendCommand(kMjpegSecondFlip, changed == FlipOption::Reverse ? 0 : 1, value);
    return false;
}

bool mjpegRestoreDefaults(CommandSink& sink, int model) {
    // The factory values of each model; the closing kPtz 27 makes the session read the
    // parameters back, so the panel shows what the camera now holds.
    if (model == kModelMjpeg) {
        return sendAll(sink, std::array<Command, 6>{{
                                 {kMjpegPicture, kParamResolution, 32},
                                 {kMjpegPicture, kParamBrightness, 96},
                                 {kMjpegPicture, kParamContrast, 4},
                                 {kMjpegPicture, kParamMode, 0},
                                 {kMjpegPicture, kParamFlip, 0},
                                 {kPtz, kPtzMjpegDefaultsDone, kModelMjpeg},
                             }});
    }
    if (model == kModelMjpegSecond) {
        return sendAll(sink, std::array<Command, 5>{{
                                 {kMjpegSecondFlip, 1, 0},
                                 {kMjpegSecondPicture, kSecondContrast, 7},
                                 {kMjpegSecondPicture, kSecondBrightness, 144},
                                 {kMjpegSecondPicture, kSecondResolution, 32},
                                 {kPtz, kPtzMjpegDefaultsDone, kModelMjpegSecond},
                             }});
    }
    return false;
}

bool mjpegPresetSet(CommandSink& sink, int index) {
    if (index < 0)
        return false;
    return sink.sendCommand(kPtz, kPtzMjpegPresetSet, index);
}

bool mjpegPresetGo(CommandSink& sink, int index) {
    if (index < 0)
        return false;
    return sink.sendCommand(kPtz, kPtzMjpegPresetGo, static_cast<intptr_t>(index) + 1);
}

std::optional<H264Slider> h264SliderFor(std::string_view controlName) {
    static constexpr std::array<std::pair<std::string_view, H264Slider>, 5> kSliders{{
        {"h264_Saturation", H264Slider::Saturation},
        {"h264_Hue", H264Slider::Hue},
        {"h264_Contrast", H264Slider::Contrast},
        {"h264_Brightness", H264Slider::Brightness},
        {"h264_sharp", H264Slider::Sharpness},
    }};
    for (const auto& [name, slider] : kSliders) {
        if (name == controlName)
            return slider;
    }
    return std::nullopt;
}

bool h264Slider(CommandSink& sink, H264Slider slider, int value) {
    return sink.sendCommand(static_cast<int>(slider), value, 0);
}

bool h264Mirror(CommandSink& sink, bool on) {
    return sink.sendCommand(kH264Mirror, 0, on ? 1 : 0);
}

bool h264Flip(CommandSink& sink, bool on) {
    return sink.sendCommand(kH264Flip, 0, on ? 1 : 0);
}

bool h264Mode(CommandSink& sink, int mode) {
    return sink.sendCommand(kH264Mode, mode, 0);
}

bool infraredLed(CommandSink& sink, bool on) {
    return sink.sendCommand(kInfrared, on ? 0 : 1, 0);
}

bool infraredMode(CommandSink& sink, int entry) {
    return sink.sendCommand(kInfrared, 2, entry);
}

bool sendAction(CommandSink& sink, std::string_view controlName) {
    static constexpr std::array<std::pair<std::string_view, int>, 4> kActions{{
        {"mj_irled_open", kPtzInfraredOpen},
        {"mj_irled_close", kPtzInfraredClose},
        {"h264_default", kPtzH264Default},
        {"track_stop", kPtzTrackStop},
    }};
    for (const auto& [name, code] : kActions) {
        if (name == controlName)
            return sendPtz(sink, code);
    }
    return false;
}

bool snapshot(CommandSink& sink) {
    return sendPtz(sink, kPtzSnapshot);
}

} // namespace Device::Commands
