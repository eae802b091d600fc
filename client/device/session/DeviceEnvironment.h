#pragma once

#include "device/record/Recorder.h"
#include "zqnet/zqtypes.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

class CDDrawView;
struct ZQAudioDevice;

namespace client {
class CPubFun;
class AppLog;
} // namespace client

namespace Device {

// Window messages a session posts.
enum SessionMessage : unsigned {
    kMsgDeviceParams = 1125, // to the main window: wParam says what changed
    kMsgDeviceState = 1126,  // to the device tree: wParam 0 online, 1 closed; lParam the node
};

// wParam values of kMsgDeviceParams.
enum ParamsChange : intptr_t {
    kChangedParams = 100, // parameter block (MJPEG record or H.264 login block)
    kChangedCruises = 101,
    kChangedH264State = 102,
    kChangedPresets = 103,
    kChangedLoginRefused = 105,
};

// What every session of the process shares: the live grid it draws into, the sound device
// the selected pane plays through, and where its window messages go. One per process in the
// client; tests make their own.
struct DeviceEnvironment {
    using Post = std::function<void(unsigned message, intptr_t wParam, intptr_t lParam)>;

    CDDrawView* view = nullptr;
    ZQAudioDevice* playDevice = nullptr;
    std::mutex audioLock; // one WriteData at a time

    Post postMain;       // the main window (1125)
    Post postTree;       // the live device tree (1126)
    Post postMainWorker; // the main window's worker thread (thread message 101)

    // The record disk guard and its paths; without one, recordings go nowhere and snapshots to
    // `pictureRoot`.
    client::CPubFun* pubFun = nullptr;
    std::string pictureRoot;
    // What recordings need besides the session: the database, the logs.
    RecordServices record;
    client::AppLog* appLog = nullptr;

    // Called on the frame thread after a picture reached its pane, with the frame it came from
    // (diagnostics and measurements; empty in the client).
    std::function<void(int paneId, const ::FRAME_HEAD& frame)> frameShown;

    // Set by the device panel: the next reconnect report makes the library's thread wait two
    // minutes before it goes on reconnecting.
    std::atomic<bool> reconnectHold{false};
    unsigned reconnectHoldMs = 120000;
};

} // namespace Device
