#pragma once

// What the session tests share: a loopback H.264 simulator, a session opened the way the client
// first opens one, and polling.

#include "DeviceFactory.h"
#include "camsim/H264Camera.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace sessiontest {

// Polls `done` every 10 ms for up to `timeout`; its last answer.
inline bool waitUntil(std::chrono::milliseconds timeout, const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (done())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return done();
}

// An H.264 simulator on loopback, its channels over TCP.
inline auto startLoopbackH264(camsim::H264Camera& camera) {
    camsim::CameraConfig config;
    config.listenAddress = "127.0.0.1";
    config.udt = false;
    return camera.start(config);
}

// A session of `classCode` to host:port, logged in as admin on the stream the first toggle
// picks, as the device tree opens a camera.
inline std::unique_ptr<Device::CSigleDevice>
openSession(Device::DeviceEnvironment& environment, int classCode, const std::string& host,
            int port, int webPort, bool viaP2P = false, Device::ViewPane* pane = nullptr) {
    auto session = Device::createDevice(environment, nullptr, classCode);
    if (!session)
        return nullptr;
    session->SetAddress(host, port, webPort);
    session->SetUser("admin", "admin");
    session->SetStreamType(session->SwitchStream());
    session->OpenDevice(pane, viaP2P);
    return session;
}

} // namespace sessiontest
