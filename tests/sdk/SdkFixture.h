#pragma once

// A simulated camera of the SDK family on loopback, the library's timers set for tests, and the
// checks every test ends with: no session left and no library heap record left unfreed.

#include "Inbox.h"
#include "Tuning.h"
#include "camsim/SdkCamera.h"

#include <gtest/gtest.h>

namespace sdktest {

inline constexpr const char* kCameraId = "00A1B2C3D4E5";
inline constexpr uint32_t kLoopback = 0x7F000001;

class SdkFixture : public ::testing::Test {
protected:
    // Starts the camera with `config` (listen address and ports filled in here) and points the
    // library's search at it.
    void startCamera(camsim::SdkCameraConfig config = {});
    void TearDown() override;

    // Management / monitor session to the camera, logged in; false (with a failure) otherwise.
    bool connectManagement(const char* id = kCameraId);
    bool connectMonitor(const char* id = kCameraId);
    // Ends the session and waits for its end message.
    void disconnectManagement(const char* id = kCameraId);
    void disconnectMonitor(const char* id = kCameraId);

    Inbox& inbox() { return Inbox::instance(); }
    // Waits until `count` notes of `message` have arrived in all.
    bool waitForCount(unsigned message, size_t count, unsigned timeoutMs = 10000);

    moltrex::Tuning settings;
    camsim::SdkCamera camera;
    camsim::SdkPorts ports;
    size_t heapBefore = 0;
};

} // namespace sdktest
