#pragma once

#include "TestPattern.h"

#include <atomic>
#include <string>
#include <thread>

class CDDrawView;
class VideoSurface;

// One simulated camera drawing into its pane at 25 frames per second from its own thread, the
// way a camera session's media thread does: picture into the overlay, fitted into a surface of
// the pane's size with the camera's name, time and recording mark painted on, then into the
// view's back buffer.
class CameraFeed {
public:
    CameraFeed(CDDrawView& view, int pane, std::string name, bool recording);
    ~CameraFeed();

private:
    void run();
    void drawFrame(int frame);
    void paintStatus(VideoSurface* surface);

    CDDrawView& view_;
    const int pane_;
    const std::string name_;
    const bool recording_;
    TestPattern pattern_;
    VideoSurface* overlay_ = nullptr;
    VideoSurface* paneSurface_ = nullptr;
    std::atomic<bool> running_{true};
    std::thread thread_;
};
