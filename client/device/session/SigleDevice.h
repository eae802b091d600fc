#pragma once

#include "DeviceEnvironment.h"
#include "ViewPane.h"
#include "device/RecordPathListener.h"
#include "device/control/CommandSink.h"
#include "device/control/TalkChannel.h"
#include "device/record/RecordSession.h"
#include "device/record/Recorder.h"
#include "sys/WinTypes.h"
#include "zqnet/zqtypes.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

class VideoSurface;
struct ZQDecoder;
struct PictureInfo;

namespace Device {

enum ClassCode : int { kClassMjpeg = 16, kClassH264 = 17, kClassMjpeg2 = 18, kClassHx = 19 };

// One camera known to the client while it is shown live or recorded: its network session, its
// decoder, its drawing into the live grid and what it reports to the windows.
//
// Frames and events arrive on the network library's threads. The pane lock serialises attaching
// a pane (UI thread) against the online event; everything drawn is per session, so sessions
// never wait for each other except for the shared sound device.
class CSigleDevice : public RecordSession, public RecordPathListener, public CommandSink {
public:
    CSigleDevice(DeviceEnvironment& environment, int16_t* paneCell);
    virtual ~CSigleDevice();
    CSigleDevice(const CSigleDevice&) = delete;
    CSigleDevice& operator=(const CSigleDevice&) = delete;

    // Class-specific answers.
    virtual int GetClassCode() const = 0;
    virtual int GetVideoCodec() const = 0;
    virtual int GetAudioCodec() const = 0;
    virtual int GetTalkCodec() const = 0;
    virtual int GetNetType() const = 0;
    virtual int GetTalkBlock() const = 0;
    virtual const char* GetPlayFile() const { return nullptr; }
    virtual int GetBuffering() const { return 0; }
    virtual int GetAutoReconnect() const { return 1; }

    void SetRecordEnable(bool alarm, bool schedule);

    // Recording (see Recorder): the session is its camera.
    bool StartManualRecord(); // the device tree's command: record into the current record path
    bool StartRecord(int frameRate, int kind) { return m_recorder->StartRecord(frameRate, kind); }
    bool CloseRecord(int kind) { return m_recorder->CloseRecord(kind); }
    bool IsRecording() const { return m_recorder->IsRecording(0); }
    void MakeAviHeaders(int frameRate, int kind, int totalFrames) {
        m_recorder->MakeAviHeaders(frameRate, kind, totalFrames);
    }
    bool StartPlanThread(const std::string& mac) { return m_recorder->StartPlanThread(mac); }
    void StopPlanThread() { m_recorder->StopPlanThread(); }
    bool PostPlanMessage(int message, intptr_t wParam, intptr_t lParam) {
        return m_recorder->PostPlanMessage(message, wParam, lParam);
    }
    Recorder& recorder() { return *m_recorder; }
    const Recorder& recorder() const { return *m_recorder; }

    // RecordSession
    std::string recordHost() const override { return host(); }
    int recordPort() const override { return m_param.port; }
    bool sessionOpen() const override { return m_handle.load() != nullptr; }
    int classCode() const override { return GetClassCode(); }
    void setAlarmAllowed(bool allowed) override { m_alarmAllowed = allowed; }
    std::string currentRecordRoot() const override;
    bool recordingAllowed() const override;
    // RecordPathListener
    void ChangeRecordPath(const std::string& recordRoot) override;
    ViewPane* GetPane() const { return m_pane; }
    void SetAddress(const std::string& host, int port, int httpPort);
    void SetUser(const std::string& user, const std::string& password);
    virtual void SetStreamType(int value);

    // Opens the network session (or, when it is open, only attaches `pane`).
    void OpenDevice(ViewPane* pane, bool viaP2P);
    void CloseDevice(bool notify);

    void OpenAudio();
    void CloseAudio();
    // Talk: OpenTalk asks the camera (command 2); its grant starts the capture.
    bool OpenTalk();
    void CloseTalk();
    void StartTalkCapture();
    void StopTalkCapture();
    bool IsTalkOpen() const;
    bool IsAudioOpen() const { return m_audioOpen.load(); }
    bool IsAttached() const;
    void DetachPane();
    void SendPtz(int code);
    virtual int SwitchStream();

    virtual void OnAudioFrame(const uint8_t* pcm, int length);
    virtual void OnVideoFrame(const uint8_t* yuv);
    virtual void OnEvent(int /*kind*/, int /*code*/, const uint8_t* /*data*/, int /*length*/) {}

    // Sends a command on the open session; false (nothing sent) when it is closed.
    bool SendCommand(int code, intptr_t param1, intptr_t param2);
    bool sendCommand(int code, intptr_t param1, intptr_t param2) override {
        return SendCommand(code, param1, param2);
    }
    // Where this camera's snapshots go now.
    std::string snapshotFolder() const;

    bool online() const { return m_online.load(); }
    int modelCode() const { return m_model; }
    void setModelCode(int model) { m_model = model; }
    const DEVICE_PARAM& param() const { return m_param; }
    std::string host() const;
    bool scheduleEnabled() const { return m_recorder->scheduleEnabled(); }
    bool alarmEnabled() const { return m_recorder->alarmEnabled(); }
    bool alarmAllowedNow() const { return m_alarmAllowed.load(); }

    // The network library's callbacks; `user` is the session.
    static int onNetEvent(int kind, int code, int* data, void* user, int extra);
    static void onNetFrame(int mediaType, FRAME_HEAD* frame, void* user, int index);

protected:
    // Posts 1125 with `change` to the main window.
    void postParams(intptr_t change);
    ZQDecoder* decoder() const { return m_decoder; }
    DeviceEnvironment& environment() { return m_env; }
    bool handleOpen() const { return m_handle != nullptr; }
    // The red and yellow status dots (alarms); the class decides.
    virtual bool alarmDotRed() const { return false; }
    virtual bool alarmDotYellow() const { return false; }
    // The concrete class's destructor calls this first: recordings are finished and entered
    // and the session closed while the whole object still exists.
    void shutdownSession();

    void onTalkGranted() { StartTalkCapture(); }
    void onTalkEnded() { StopTalkCapture(); }
    // Control event 25: the picture the camera took, written as a JPEG file.
    void saveSnapshot(const uint8_t* data, int length);

    DEVICE_PARAM m_param{};

private:
    void onLoggedIn();
    void onFrame(int mediaType, FRAME_HEAD& frame);
    void onPictureFormat(int width, int height);
    static void onPictureSize(int zero, const ::PictureInfo* info, void* user);
    void fitPicture(const RECT& paneRect);
    // Clears the last frame's status dots when `clearOld`, draws the ones due (none unless
    // recording is `allowed`); true when it drew any.
    bool updateStatusDots(VideoSurface* surface, bool allowed, bool clearOld);
    void setPaneState(int state, intptr_t online);
    void releaseDecoder();

    DeviceEnvironment& m_env;
    int16_t* const m_paneCell;
    std::atomic<NetHandle*> m_handle{nullptr};
    ZQDecoder* m_decoder = nullptr;
    int m_videoCodec = 0; // what the decoder was registered with
    int m_audioCodec = 0;
    int m_linkIndex = 0;
    int m_model = kClassH264;
    std::atomic<bool> m_audioOpen{false};
    std::atomic<bool> m_alarmAllowed{false};
    std::atomic<bool> m_registered{false}; // in the disk guard's list of open sessions
    std::atomic<bool> m_online{false};
    std::atomic<bool> m_videoFlowing{false};
    int m_streamToggle = 1;

    std::mutex m_paneLock; // critical section A: pane attach against the online event
    ViewPane* m_pane = nullptr;
    bool m_attached = false;

    std::unique_ptr<Recorder> m_recorder;
    mutable std::mutex m_talkLock; // creating the talk channel
    std::unique_ptr<TalkChannel> m_talk;

    // Drawing, on the frame thread only.
    VideoSurface* m_overlay = nullptr;
    VideoSurface* m_status = nullptr;
    bool m_dotsDrawn = false; // the last frame drew status dots onto m_status
    int m_pictureWidth = 0;
    int m_pictureHeight = 0;
    RECT m_lastPaneRect{};
    RECT m_fitted{};
    const FRAME_HEAD* m_drawing = nullptr; // the frame OnVideoFrame is showing
};

} // namespace Device
