#pragma once

#include "core/CallbackGate.h"
#include "core/MessageRing.h"
#include "core/SessionRegistry.h"
#include "device/h264/Client.h"
#include "device/h264/Ctrl.h"
#include "device/h264/MediaSink.h"
#include "sys/Thread.h"
#include "zqnet/CHttpParser.h"

#include <memory>
#include <mutex>

namespace zq::h264 {

// An H.264 camera behind one handle: the media channel, the control channel, and the PTZ
// thread that sends moves as CGI requests without waiting for answers.
//
// The channels report here (MediaSink, ControlSink); reports reach the caller's callbacks only
// through m_gate, which close() shuts, so no callback arrives after zq_net_close returns.
class H264Session : public RegisteredSession,
                    public MediaSink,
                    public ControlSink,
                    public std::enable_shared_from_this<H264Session> {
public:
    static constexpr unsigned kPtzStopWaitMs = 500;

    enum class Transport { Tcp, Udt };

    H264Session(Transport transport, const char* playFile, DEVICE_PARAM* param, int buffering,
                int linkFlags, EventCallback onEvent, FrameCallback onFrame, void* user);
    ~H264Session() override;

    // Starts "ctrl_thread" and the PTZ thread; the media threads wait for the login.
    bool start();
    void close() override;
    void setCommand(int command, intptr_t param1, intptr_t param2);

    void onMediaStatus(int code, int& value, int extra) override;
    void onMediaFrame(int mediaType, FRAME_HEAD* frame) override;
    void onControl(int code, const void* payload, int length) override;

    CClient& media() { return *m_client; }
    CCtrl& control() { return *m_ctrl; }

private:
    void runPtz(sys::WorkerContext& context);
    void queueToControl(int code);
    void queueCgi(std::string command);
    void startMediaOnce();
    void event(int kind, int code, int* data, int extra);

    DEVICE_PARAM* const m_param;
    const Transport m_transport;
    const int m_index;
    EventCallback m_onEvent;
    FrameCallback m_onFrame;
    void* m_user;

    std::string m_playFile;
    bool m_hasPlayFile = false;
    int m_buffering = 0;
    int m_linkFlags = 0;

    std::shared_ptr<CClient> m_client;
    std::shared_ptr<CCtrl> m_ctrl;
    sys::Thread m_ptzThread;
    MessageRing m_ptzRing;
    CHttpParser m_ptzHttp;       // PTZ thread only, userQuit() from close()
    std::mutex m_mediaStartLock; // the login reply may come again after a reconnect
    CallbackGate m_gate;
};

} // namespace zq::h264
