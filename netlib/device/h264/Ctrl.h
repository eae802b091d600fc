#pragma once

#include "core/MessageRing.h"
#include "device/h264/Channel.h"
#include "device/h264/MediaSink.h"
#include "sys/Thread.h"
#include "zqnet/CHttpParser.h"

#include <deque>
#include <memory>
#include <mutex>
#include <string>

namespace zq::h264 {

// Control channel of an H.264 camera: "ctrl_thread" checks the credentials over CGI, logs in,
// keeps the session alive every 3 s, relays every camera notice, and runs the CGI requests
// queued to it. It reconnects without limit until stopped.
class CCtrl : public CH264Channel, public std::enable_shared_from_this<CCtrl> {
public:
    static constexpr unsigned kStopWaitMs = 500;
    static constexpr uint32_t kKeepAliveMs = 3000;
    static constexpr unsigned kLoopMs = 40;
    static constexpr size_t kMaxQueuedWork = 100;
    // Mode of a peer-to-peer transport after its one control packet.
    static constexpr int kModeNoRead = 100;

    CCtrl(DEVICE_PARAM* param, std::weak_ptr<ControlSink> sink);
    ~CCtrl() override;

    void onPacket(const uint8_t* packet, size_t size) override;

    bool start();
    void stop();
    bool running() const { return m_thread.running(); }

    // Codes of the control ring: 18 quit, 1025 reconnect, 12/14 login or request 14 (per-channel
    // family).
    bool post(int code, intptr_t param1 = 0, intptr_t param2 = 0);
    // CGI work for "ctrl_thread", run in the order posted: a query code (25, 27, 28, 29, 36, 40,
    // 42, 44, 46, 47, 53, 105) or a command text. Refused when 100 are already waiting.
    bool postQuery(int code);
    bool postCgi(std::string command);

private:
    enum class Outcome { Stop, Reconnect };

    void run(sys::WorkerContext& context);
    bool credentialsRefused();
    Outcome runSession();
    bool handleMessages(Outcome& outcome);
    void runQuery(int code);
    void runQueuedWork();
    bool queueWork(int code, std::string command);
    int fetchFile(const std::string& path, std::string* body);
    void notify(int code, const void* payload, int length);
    void notifyValue(int code, int32_t value);

    std::weak_ptr<ControlSink> m_sink;
    MessageRing m_ring;
    sys::Thread m_thread;
    CHttpParser m_http; // "ctrl_thread" only, but userQuit() from stop()

    struct Work {
        int query; // 0 for a command text
        std::string command;
    };
    std::mutex m_workLock;
    std::deque<Work> m_work; // guarded by m_workLock
};

} // namespace zq::h264
