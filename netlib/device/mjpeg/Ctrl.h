#pragma once

#include "core/MessageRing.h"
#include "device/mjpeg/Channel.h"
#include "sys/Thread.h"
#include "zqnet/CHttpParser.h"

#include <memory>
#include <string>

namespace zq::mjpeg {

// Codes of the control ring besides quit (18).
enum CtrlCode : int {
    kCtrlReconnect = 1,
    kCtrlCameraControl = 24, // camera_control.cgi, param1 = parameter, param2 = value
    kCtrlSnapshot = 25,
    kCtrlReadParams = 27,
    kCtrlPing = 47,
    kCtrlFlip = 58,       // param2 = flip value
    kCtrlPicture = 60,    // param1 0 brightness, 1 contrast, 2 contrast preset; param2 value
    kCtrlPtzCommand = 63, // ptz_control.cgi, param1 = decoder command
};

// Control notices (first argument of MjpegSink::onControlNotice).
enum CtrlNotice : int {
    kNoticeLogin = 2,     // value 5 accepted, 6 refused (extra = result)
    kNoticeVerify = 3,    // value 8 accepted, 9 refused (extra = result)
    kNoticeVideo = 4,     // value 10 started (extra = connection id), 13 refused
    kNoticeAudio = 6,     // value 14 started, 18 refused
    kNoticeTalk = 7,      // value 19 started, 20 refused
    kNoticeCamera = 8,    // content of packets 17, 18, 25 (extra 21, 22, 23); or value 1/2
                          // with extra 4 when the connect failed
    kNoticeSnapshot = 25, // picture bytes, extra = length
    kNoticeParams = 27,   // 8-byte record, extra 22
    kNoticePing = 47,
};

// Control channel of an MJPEG camera: "ctrl_thread" logs in and verifies on the "MO_O"
// connection, relays the camera's replies and notices, and runs the CGI requests posted to it.
// It reconnects without limit, 50 ms apart, until stopped.
class CMJCtrl : public CMJChannel, public std::enable_shared_from_this<CMJCtrl> {
public:
    static constexpr unsigned kStopWaitMs = 5000;
    static constexpr unsigned kLoopMs = 40;
    static constexpr unsigned kRetryPauseMs = 50;
    static constexpr int kCgiRounds = 300;

    CMJCtrl(DEVICE_PARAM* param, std::weak_ptr<MjpegSink> sink);
    ~CMJCtrl() override;

    void onPacket(const uint8_t* packet, size_t size) override;

    bool start();
    // Bounded: aborts a CGI request in progress, then waits at most kStopWaitMs.
    void stop();
    bool running() const { return m_thread.running(); }
    bool post(int code, intptr_t param1 = 0, intptr_t param2 = 0);

private:
    enum class Outcome { Stop, Reconnect };

    void run(sys::WorkerContext& context);
    Outcome runSession();
    // False when the thread must end; `reconnect` is set on code 1.
    bool handleMessages(bool& reconnect);
    void runWork(int code, intptr_t param1, intptr_t param2);
    void readParams();
    // GET "/<text>&user=..&pwd=.." from host:httpPort; true with `body` set when answered.
    bool ask(const std::string& text, std::string& body);
    void notify(int code, const void* data, int extra);
    void notifyValue(int code, int32_t value, int extra);

    std::weak_ptr<MjpegSink> m_sink;
    MessageRing m_ring;
    sys::Thread m_thread;
    CHttpParser m_http; // "ctrl_thread" only, but userQuit() from stop()
};

} // namespace zq::mjpeg
