#include "SigleDevice.h"

#include "device/PubFun.h"
#include "device/control/SnapshotWriter.h"
#include "device/record/RecordNames.h"
#include "sys/Tick.h"
#include "video/DDraw.h"
#include "vidora/vidora.h"
#include "zqaudio/zqaudio.h"
#include "zqnet/zqnet.h"

#include <QColor>
#include <QPainter>

#include <algorithm>
#include <cstring>

namespace Device {

namespace {

constexpr int kMinPaneSide = 50; // a pane this small keeps the previous status surface
constexpr int kDotSize = 20;

template <size_t N> void copyText(char (&field)[N], const std::string& text) {
    const size_t n = std::min(text.size(), N - 1);
    std::memcpy(field, text.data(), n);
    std::memset(field + n, 0, N - n);
}

} // namespace

CSigleDevice::CSigleDevice(DeviceEnvironment& environment, int16_t* paneCell)
    : m_env(environment), m_paneCell(paneCell),
      m_recorder(std::make_unique<Recorder>(*this, environment.record)) {
    m_param.id = static_cast<int32_t>(sys::tickMs());
}

void CSigleDevice::shutdownSession() {
    m_recorder->Shutdown();
    CloseDevice(true);
}

CSigleDevice::~CSigleDevice() {
    // The concrete class closed the session already (its callbacks need it whole); this only
    // catches a session that was never concrete enough to open.
    CloseDevice(true);
    if (m_overlay)
        m_overlay->Release();
    if (m_status)
        m_status->Release();
}

std::string CSigleDevice::host() const {
    return std::string(m_param.host, strnlen(m_param.host, sizeof m_param.host));
}

void CSigleDevice::SetRecordEnable(bool alarm, bool schedule) {
    m_recorder->SetRecordEnable(alarm, schedule);
}

std::string CSigleDevice::currentRecordRoot() const {
    return m_env.pubFun ? m_env.pubFun->GetRecordPath() : std::string();
}

bool CSigleDevice::recordingAllowed() const {
    return !m_env.pubFun || m_env.pubFun->bEnoughFreeDisk.load();
}

void CSigleDevice::ChangeRecordPath(const std::string& recordRoot) {
    m_recorder->ChangeRecordPath(recordRoot);
}

bool CSigleDevice::StartManualRecord() {
    const std::string root = currentRecordRoot();
    if (root.empty())
        return false;
    return m_recorder->CheckCanRecord(recordFolder(root, host()), 0);
}

void CSigleDevice::SetAddress(const std::string& host, int port, int httpPort) {
    copyText(m_param.host, host);
    m_param.port = port;
    m_param.httpPort = static_cast<uint16_t>(httpPort);
}

void CSigleDevice::SetUser(const std::string& user, const std::string& password) {
    copyText(m_param.user, user);
    copyText(m_param.password, password);
}

void CSigleDevice::SetStreamType(int value) {
    m_param.streamType = static_cast<uint8_t>(value);
}

bool CSigleDevice::IsAttached() const {
    return m_attached || m_pane != nullptr;
}

void CSigleDevice::DetachPane() {
    std::lock_guard lock(m_paneLock);
    m_pane = nullptr;
    m_attached = false;
}

void CSigleDevice::setPaneState(int state, intptr_t closed) {
    // Caller holds the pane lock.
    if (!m_pane)
        return;
    m_pane->state = state;
    if (m_env.postTree)
        m_env.postTree(kMsgDeviceState, closed, m_pane->treeId);
}

void CSigleDevice::postParams(intptr_t change) {
    if (m_env.postMain)
        m_env.postMain(kMsgDeviceParams, change, reinterpret_cast<intptr_t>(this));
}

bool CSigleDevice::SendCommand(int code, intptr_t param1, intptr_t param2) {
    NetHandle* handle = m_handle.load();
    if (!handle)
        return false;
    zq_net_setcommand(handle, code, param1, param2);
    return true;
}

void CSigleDevice::OpenAudio() {
    m_audioOpen = true;
    SendCommand(1, 0, 0);
}

void CSigleDevice::CloseAudio() {
    m_audioOpen = false;
    SendCommand(6, 0, 0);
}

bool CSigleDevice::OpenTalk() {
    TalkChannel* talk = nullptr;
    {
        std::lock_guard lock(m_talkLock);
        if (!m_talk) {
            const auto profile = talkProfileForClass(GetClassCode());
            if (!profile)
                return false;
            m_talk = std::make_unique<TalkChannel>(*this, *profile, m_env.appLog);
        }
        talk = m_talk.get();
    }
    return talk->openTalk();
}

void CSigleDevice::CloseTalk() {
    std::lock_guard lock(m_talkLock);
    if (m_talk)
        m_talk->closeTalk();
}

void CSigleDevice::StartTalkCapture() {
    std::lock_guard lock(m_talkLock);
    if (m_talk)
        m_talk->startCapture();
}

void CSigleDevice::StopTalkCapture() {
    std::lock_guard lock(m_talkLock);
    if (m_talk)
        m_talk->stopCapture();
}

bool CSigleDevice::IsTalkOpen() const {
    std::lock_guard lock(m_talkLock);
    return m_talk && m_talk->talkOpen();
}

std::string CSigleDevice::snapshotFolder() const {
    std::string root = m_env.pictureRoot;
    if (m_env.pubFun) {
        // The operator may have changed the picture folder since the session opened.
        m_env.pubFun->SelectPathfromDB();
        root = m_env.pubFun->GetPicturePath();
    }
    if (root.empty())
        return {};
    return SnapshotWriter::folderFor(root, host()).string();
}

void CSigleDevice::saveSnapshot(const uint8_t* data, int length) {
    const std::string folder = snapshotFolder();
    if (folder.empty() || !data || length <= 0)
        return;
    SnapshotWriter(m_env.appLog).write(folder, data, static_cast<size_t>(length));
}

void CSigleDevice::SendPtz(int code) {
    SendCommand(12, code, 0);
}

int CSigleDevice::SwitchStream() {
    m_streamToggle = m_streamToggle ? 0 : 1;
    return m_streamToggle;
}

// --- Opening and closing ------------------------------------------------------------------------

void CSigleDevice::OpenDevice(ViewPane* pane, bool viaP2P) {
    if (m_handle.load()) {
        std::lock_guard lock(m_paneLock);
        if (pane && !m_pane) {
            m_pane = pane;
            if (m_online) {
                m_attached = true;
                setPaneState(ViewPane::kPlaying, 0);
            }
        }
        return;
    }
    if (pane) {
        std::lock_guard lock(m_paneLock);
        m_pane = pane;
    }
    m_decoder = ZQ_Create_Decoder();
    m_videoCodec = GetVideoCodec();
    m_audioCodec = GetAudioCodec();
    if (m_decoder) {
        ZQ_Register_Decoder(m_decoder, m_videoCodec, &CSigleDevice::onPictureSize, this);
        ZQ_Register_Decoder(m_decoder, m_audioCodec, nullptr, nullptr);
    }
    const int type = viaP2P ? ZQ_TYPE_H264_P2P : GetNetType();
    const int linkFlags = (GetAutoReconnect() << 16) | (m_linkIndex & 0xFFFF);
    NetHandle* handle = zq_net_open(type, GetPlayFile(), &m_param, GetBuffering(), linkFlags, 258,
                                    &CSigleDevice::onNetEvent, &CSigleDevice::onNetFrame, this);
    m_handle = handle;
    if (!handle) {
        CloseDevice(true);
        return;
    }
    if (m_env.pubFun && !m_registered.exchange(true))
        m_env.pubFun->AddOpenSession(this);
}

void CSigleDevice::releaseDecoder() {
    if (!m_decoder)
        return;
    ZQ_UnRegister_Decoder(m_decoder, m_videoCodec);
    ZQ_UnRegister_Decoder(m_decoder, m_audioCodec);
    ZQ_Release_Decoder(m_decoder);
    m_decoder = nullptr;
}

void CSigleDevice::CloseDevice(bool notify) {
    // After zq_net_close no callback runs any more, so the decoder and drawing state are ours.
    if (NetHandle* handle = m_handle.exchange(nullptr))
        zq_net_close(handle);
    m_videoFlowing = false;
    releaseDecoder();
    if (m_env.view && m_pane)
        m_env.view->ClearScreen(m_pane->paneId, 0);
    StopTalkCapture();
    m_recorder->CloseRecord(0);
    if (m_env.pubFun && m_registered.exchange(false))
        m_env.pubFun->RemoveOpenSession(this);
    std::lock_guard lock(m_paneLock);
    if (notify && m_pane)
        setPaneState(ViewPane::kClosed, 1);
    m_pane = nullptr;
    m_attached = false;
    m_online = false;
}

// --- Callbacks ---------------------------------------------------------------------------------

int CSigleDevice::onNetEvent(int kind, int code, int* data, void* user, int extra) {
    auto* self = static_cast<CSigleDevice*>(user);
    switch (kind) {
    case 0:
        if (code == 0)
            self->onLoggedIn();
        return 0;
    case 9:
        self->onTalkGranted();
        return 0;
    case 10:
        self->onTalkEnded();
        return 0;
    case ZQ_EVENT_MEDIA_STATUS:
        if (code == 1 && self->m_env.reconnectHold.exchange(false)) {
            // The operator asked the camera to be left alone for a while (a restart, say).
            sys::sleepMs(self->m_env.reconnectHoldMs);
            return 0;
        }
        if (code == 9 && data && *data == 0) {
            self->onTalkGranted();
            return 0;
        }
        if (code == 10 && data && *data == 0) {
            self->onTalkEnded();
            return 0;
        }
        break;
    default:
        break;
    }
    self->OnEvent(kind, code, reinterpret_cast<const uint8_t*>(data), extra);
    return 0;
}

void CSigleDevice::onLoggedIn() {
    {
        std::lock_guard lock(m_paneLock);
        m_online = true;
        if (m_pane) {
            m_attached = true;
            setPaneState(ViewPane::kPlaying, 0);
        }
    }
    m_videoFlowing = true;
    // After a reconnect the camera has forgotten talk and listening: ask again.
    if (IsTalkOpen()) {
        CloseTalk();
        OpenTalk();
    }
    if (m_audioOpen) {
        CloseAudio();
        OpenAudio();
    }
}

void CSigleDevice::onNetFrame(int mediaType, FRAME_HEAD* frame, void* user, int) {
    if (frame)
        static_cast<CSigleDevice*>(user)->onFrame(mediaType, *frame);
}

void CSigleDevice::onFrame(int mediaType, FRAME_HEAD& frame) {
    if (!m_decoder || !m_videoFlowing || !frame.data || frame.length <= 0)
        return;
    if (mediaType == ZQ_MEDIA_VIDEO) {
        const unsigned char* yuv = ZQ_GetYUV420Data(m_decoder, frame.data, frame.length);
        if (yuv) {
            m_drawing = &frame;
            OnVideoFrame(yuv);
            m_drawing = nullptr;
        }
        m_recorder->onManualVideo(frame, m_pictureWidth, m_pictureHeight);
        m_recorder->queueFrame(ZQ_MEDIA_VIDEO, frame, frame.data, frame.length, m_pictureWidth,
                               m_pictureHeight);
        return;
    }
    if (mediaType != ZQ_MEDIA_AUDIO)
        return;
    const uint8_t* pcm = reinterpret_cast<const uint8_t*>(frame.data);
    int pcmLength = frame.length;
    if (m_param.streamType != 0)
        pcm = ZQ_GetPCMData(m_decoder, frame.data, frame.length, &pcmLength);
    if (!pcm || pcmLength <= 0)
        return;
    OnAudioFrame(pcm, pcmLength);
    if (m_recorder->IsRecording(0))
        m_recorder->onManualAudio(pcm, pcmLength);
    m_recorder->queueFrame(ZQ_MEDIA_AUDIO, frame, pcm, pcmLength, 0, 0);
}

void CSigleDevice::onPictureSize(int, const PictureInfo* info, void* user) {
    if (info)
        static_cast<CSigleDevice*>(user)->onPictureFormat(info->width, info->height);
}

void CSigleDevice::onPictureFormat(int width, int height) {
    if (width == m_pictureWidth && height == m_pictureHeight)
        return;
    if (m_env.view && (width != m_pictureWidth || height != m_pictureHeight)) {
        if (m_overlay)
            m_overlay->Release();
        m_overlay = m_env.view->CreatOverlaySurface(width, height);
    }
    m_pictureWidth = width;
    m_pictureHeight = height;
    m_lastPaneRect = {}; // the fit depends on the picture's shape too
}

void CSigleDevice::OnAudioFrame(const uint8_t* pcm, int length) {
    if (!m_env.view || !m_env.playDevice || !pcm || length <= 0)
        return;
    int paneId = -1;
    {
        std::lock_guard lock(m_paneLock);
        if (!m_pane)
            return;
        paneId = m_pane->paneId;
    }
    if (paneId != m_env.view->GetSelectWndID())
        return;
    std::lock_guard lock(m_env.audioLock);
    WriteData(m_env.playDevice, pcm, length & ~1);
}

// --- Drawing -----------------------------------------------------------------------------------

void CSigleDevice::fitPicture(const RECT& paneRect) {
    if (m_status)
        m_status->Release();
    const long width = paneRect.width();
    const long height = paneRect.height();
    m_status = m_env.view->CreatEmptySurface(static_cast<int>(width), static_cast<int>(height));
    m_lastPaneRect = paneRect;
    const double rw = double(width) / m_pictureWidth;
    const double rh = double(height) / m_pictureHeight;
    if (rh > rw) {
        const long top = static_cast<long>((height - m_pictureHeight * rw) / 2);
        m_fitted = {0, top, width, height - top};
    } else {
        const long left = static_cast<long>((width - m_pictureWidth * rh) / 2);
        m_fitted = {left, 0, width - left, height};
    }
}

void CSigleDevice::OnVideoFrame(const uint8_t* yuv) {
    CDDrawView* view = m_env.view;
    if (!view || !yuv || m_pictureWidth <= 0 || m_pictureHeight <= 0)
        return;
    // A session may get its view after the picture size was announced.
    if (!m_overlay)
        m_overlay = view->CreatOverlaySurface(m_pictureWidth, m_pictureHeight);
    if (!m_overlay)
        return;
    int paneId;
    {
        std::lock_guard lock(m_paneLock);
        if (!m_pane)
            return;
        paneId = m_pane->paneId;
    }
    const size_t area = size_t(m_pictureWidth) * size_t(m_pictureHeight);
    RECT paneRect{};
    if (!view->PlayYUV(yuv, yuv + area, yuv + area * 5 / 4, paneId, m_overlay, 0, 0,
                       m_pictureWidth, m_pictureHeight, &paneRect))
        return;
    const bool changed = paneRect.left != m_lastPaneRect.left ||
                         paneRect.top != m_lastPaneRect.top ||
                         paneRect.right != m_lastPaneRect.right ||
                         paneRect.bottom != m_lastPaneRect.bottom;
    if (changed && paneRect.width() > kMinPaneSide && paneRect.height() > kMinPaneSide)
        fitPicture(paneRect);
    if (!m_status)
        return;
    m_status->Blt(&m_fitted, m_overlay, nullptr, 0);
    m_dotsDrawn = updateStatusDots(m_status, recordingAllowed(), m_dotsDrawn);
    const RECT source{0, 0, m_status->width(), m_status->height()};
    if (view->DDsfDrawToDDBack(&paneRect, m_status, &source) && m_drawing && m_env.frameShown)
        m_env.frameShown(paneId, *m_drawing);
}

// The recording and alarm dots, in a band at the bottom right. The picture covers its fitted
// part every frame; the bars around it stay black from the surface's creation and need clearing
// only where the last frame's dots may lie over them, so the band is cleared only then.
bool CSigleDevice::updateStatusDots(VideoSurface* surface, bool allowed, bool clearOld) {
    const bool green = allowed && m_recorder->IsRecording(0);
    const bool blue = allowed && m_recorder->IsRecording(1);
    const bool red = allowed && alarmDotRed();
    const bool yellow = allowed && alarmDotYellow();
    const bool any = green || blue || red || yellow;
    if (!any && !clearOld)
        return false;
    QPainter* painter = surface->GetDC();
    if (!painter)
        return false;
    const int right = surface->width();
    const int top = surface->height() - 2 * kDotSize;
    if (clearOld)
        painter->fillRect(QRect(right - 100, top, 100, kDotSize), Qt::black);
    painter->setPen(Qt::NoPen);
    const auto dot = [&](bool on, int offset, QColor colour) {
        if (!on)
            return;
        painter->setBrush(colour);
        painter->drawEllipse(QRect(right - offset, top, kDotSize, kDotSize));
    };
    dot(green, 25, QColor(0, 255, 0));
    dot(blue, 50, QColor(0, 0, 255));
    dot(red, 75, QColor(255, 0, 0));
    dot(yellow, 100, QColor(255, 255, 0));
    surface->ReleaseDC(painter);
    return any;
}

} // namespace Device
