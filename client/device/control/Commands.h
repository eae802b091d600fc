#pragma once

// The command table of the client: which zq_net_setcommand code, with which parameters, each
// control of a live pane sends, per camera model. What a code makes the camera do belongs to the
// network library; this file only decides what the client asks for.
//
// Every function sends through a CommandSink and returns what the sink returned, or false when
// the control sends nothing for that model or value. None of them keeps state: the window keeps
// the state of its controls and passes it in.

#include "device/control/CommandSink.h"

#include <optional>
#include <string_view>

namespace Device::Commands {

// The model code a session carries. 16 and 18 are MJPEG cameras, 17 and 19 H.264 cameras; the
// picture commands and the PTZ stop differ between 16 and 18.
enum Model : int {
    kModelMjpeg = 16,
    kModelH264 = 17,
    kModelMjpegSecond = 18,
    kModelH264Second = 19,
};

// zq_net_setcommand codes sent by the client.
enum Code : int {
    kOpenAudio = 1,
    kOpenTalk = 2,
    kTalkData = 4, // param1 = encoded audio, param2 = its length
    kSwitchStream = 5,
    kCloseAudio = 6,
    kCloseTalk = 7,
    kPtz = 12,            // param1 = PTZ code or direction tag
    kMjpegPicture = 24,   // model 16: param1 = parameter, param2 = value
    kH264Saturation = 31, // param1 = slider value
    kH264Hue = 32,
    kH264Contrast = 33,
    kH264Brightness = 34,
    kH264Sharpness = 35,
    kH264Mirror = 37, // param2 = 0/1
    kH264Flip = 38,   // param2 = 0/1
    kH264Mode = 43,   // param1 = selected mode
    kCruiseGo = 45,   // param1 = param2 = cruise name
    kPresetGo = 48,   // param1 = param2 = preset name
    kPresetDelete = 49,
    kPresetSet = 50,
    kMjpegSecondFlip = 58,    // model 18
    kMjpegSecondPicture = 60, // model 18: param1 = parameter, param2 = value
    kInfrared = 61,
    kZoomIn = 64, // param2 = state of "h264_reverse"
    kZoomOut = 65,
    kZoomStop = 66,
};

// param1 values of kPtz that name an action rather than a direction.
enum PtzCode : int {
    kPtzStop = 9,
    kPtzSnapshot = 25,
    kPtzMjpegDefaultsDone = 27, // param2 = model (16 or 18)
    kPtzH264Default = 36,
    kPtzTrackStop = 46,
    kPtzPointList = 51, // param2 = 2 * row + 30
    kPtzMjpegPresetSet = 52,
    kPtzMjpegPresetGo = 53,
    kPtzInfraredOpen = 55,
    kPtzInfraredClose = 56,
    kPtzStopSecond = 62, // the stop of model 18
};

// Direction tags above this are actions (zoom, focus, reset...) that have no stop on release.
inline constexpr int kLastDirectionTag = 7;

// SendPtz(code): (12, code, 0).
bool sendPtz(CommandSink& sink, int code);

// A "ytCtrl_" button pressed: (12, tag, 18) on model 18, else (12, tag, 5).
bool ptzPress(CommandSink& sink, int model, int tag);
// Released: a direction (tag <= 7) stops the move with SendPtz(62) on model 18, else
// SendPtz(9); any other tag sends nothing.
bool ptzRelease(CommandSink& sink, int model, int tag);

// "zoom_in" / "zoom_out" pressed, and either released; `reverse` is the "h264_reverse" option,
// which the camera needs to zoom the right way on a flipped picture.
bool zoomPress(CommandSink& sink, bool zoomIn, bool reverse);
bool zoomRelease(CommandSink& sink, bool reverse);

// MJPEG picture controls. Model 16 and model 18 take them under different codes; another model
// sends nothing.
bool mjpegBrightness(CommandSink& sink, int model, int sliderValue); // sent as value × 16
bool mjpegContrast(CommandSink& sink, int model, int value);
bool mjpegResolution(CommandSink& sink, int model, int value);
bool mjpegMode(CommandSink& sink, int model, int value); // model 16 only

// Which of the two options changed; both states are sent as one value, reverse + 2 × mirror.
enum class FlipOption { Reverse, Mirror };
bool mjpegFlipMirror(CommandSink& sink, int model, FlipOption changed, bool reverse, bool mirror);

// The factory picture of the camera, then the request that reads its parameters back.
// Stops at the first command the sink refuses.
bool mjpegRestoreDefaults(CommandSink& sink, int model);

// MJPEG presets by the index of the selected "mjpreset_point" entry; a negative index (nothing
// selected) sends nothing. The camera counts presets for "go" from 1.
bool mjpegPresetSet(CommandSink& sink, int index);
bool mjpegPresetGo(CommandSink& sink, int index);

// H.264 picture sliders.
enum class H264Slider : int {
    Saturation = kH264Saturation,
    Hue = kH264Hue,
    Contrast = kH264Contrast,
    Brightness = kH264Brightness,
    Sharpness = kH264Sharpness,
};
// The slider a control name stands for ("h264_Saturation", "h264_Hue", "h264_Contrast",
// "h264_Brightness", "h264_sharp").
std::optional<H264Slider> h264SliderFor(std::string_view controlName);
bool h264Slider(CommandSink& sink, H264Slider slider, int value);
bool h264Mirror(CommandSink& sink, bool on);
bool h264Flip(CommandSink& sink, bool on);
bool h264Mode(CommandSink& sink, int mode);

// "irled_on" / "irled_off".
bool infraredLed(CommandSink& sink, bool on);
// "led_comb": entry 0 is automatic, others force a mode.
bool infraredMode(CommandSink& sink, int entry);

// Buttons that carry no value, by control name: "mj_irled_open", "mj_irled_close",
// "h264_default", "track_stop". False for any other name (nothing sent).
bool sendAction(CommandSink& sink, std::string_view controlName);

// The device tree's capture command; the picture arrives later as control event 25.
bool snapshot(CommandSink& sink);

} // namespace Device::Commands
