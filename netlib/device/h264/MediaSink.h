#pragma once

#include "zqnet/zqtypes.h"

#include <cstddef>
#include <cstdint>

namespace zq::h264 {

// Media statuses (first argument of MediaSink::onMediaStatus).
enum MediaStatus : int {
    kStatusConnectFailed = 0, // value 1 TCP, 2 UDT, 3 a reconnect attempt
    kStatusReconnecting = 1,
    kStatusLoggedIn = 2,    // value 4
    kStatusCamera16 = 4,    // packet 16, value + 10
    kStatusPlayback = 5,    // values below
    kStatusTalkGranted = 9, // packet 20
    kStatusTalkEnded = 10,  // packet 21
};

enum PlaybackValue : int {
    kPlaybackEnd = 24,
    kPlaybackLost = 25,      // live: connection lost for good; playback: frame rate unknown
    kPlaybackBuffering = 26, // extra = fill percentage (0 while seeking)
    kPlaybackInfoBase = 27,  // + first word of the record information
    kPlaybackBadInfo = 30,
    kPlaybackPosition = 31, // extra = played * 10000 / total
    kPlaybackPaused = 32,
};

// Where a media channel reports. Called on "NetThread" or "AVThread".
class MediaSink {
public:
    virtual ~MediaSink() = default;
    // `value` may be changed by the receiver; the channel reads it back where that matters.
    virtual void onMediaStatus(int code, int& value, int extra) = 0;
    virtual void onMediaFrame(int mediaType, FRAME_HEAD* frame) = 0;
};

// Where a control channel reports. Called on "ctrl_thread".
class ControlSink {
public:
    virtual ~ControlSink() = default;
    virtual void onControl(int code, const void* payload, int length) = 0;
};

} // namespace zq::h264
