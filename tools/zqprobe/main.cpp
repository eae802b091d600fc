// zqprobe: watches one H.264 camera through libzqnet, decodes what arrives with libvidora, and
// prints every second what came in and what came out.

#include "ProbeOptions.h"
#include "ProbeStats.h"
#include "parsix/UrlEncode.h"
#include "vidora/vidora.h"
#include "zqnet/CHttpParser.h"
#include "zqnet/zqnet.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

namespace {

std::atomic<bool> g_interrupted{false};

struct Probe {
    zqprobe::ProbeStats stats;
    std::atomic<bool> loggedIn{false};
    ZQ_DECODER decoder = nullptr;
    bool soundNeedsDecoding = false; // stream 0 carries PCM, the others G.726
};

void onPictureSize(int, const PictureInfo* info, void* user) {
    static_cast<Probe*>(user)->stats.onPictureSize(info->width, info->height);
}

std::string describeEvent(int kind, int code, const int* data, int extra) {
    char line[160];
    if (kind == ZQ_EVENT_CONTROL)
        std::snprintf(line, sizeof line, "control packet %d (%d bytes)", code, extra);
    else if (kind == ZQ_EVENT_MEDIA_STATUS)
        std::snprintf(line, sizeof line, "media status %d value %d extra %d", code,
                      data ? *data : 0, extra);
    else
        std::snprintf(line, sizeof line, "kind %d code %d", kind, code);
    return line;
}

int onEvent(int kind, int code, int* data, void* user, int extra) {
    auto* probe = static_cast<Probe*>(user);
    if (kind == 0 && code == 0)
        probe->loggedIn = true;
    probe->stats.onEvent(describeEvent(kind, code, data, extra));
    return 0;
}

void onFrame(int mediaType, FRAME_HEAD* frame, void* user, int) {
    auto* probe = static_cast<Probe*>(user);
    if (mediaType == ZQ_MEDIA_VIDEO) {
        probe->stats.onVideo(frame->length, frame->keyFrame != 0, frame->frameRate,
                             frame->cameraWord8, frame->cameraWord0);
        if (ZQ_GetYUV420Data(probe->decoder, frame->data, frame->length) != nullptr)
            probe->stats.onPicture();
        return;
    }
    probe->stats.onAudio(frame->length);
    int pcmBytes = frame->length;
    if (probe->soundNeedsDecoding)
        ZQ_GetPCMData(probe->decoder, frame->data, frame->length, &pcmBytes);
    probe->stats.onPcm(pcmBytes);
}

void fillParam(const zqprobe::ProbeOptions& options, DEVICE_PARAM& param) {
    std::memset(&param, 0, sizeof param);
    param.id = 1;
    std::snprintf(param.host, sizeof param.host, "%s", options.host.c_str());
    param.port = options.port;
    std::snprintf(param.user, sizeof param.user, "%s", options.user.c_str());
    std::snprintf(param.password, sizeof param.password, "%s", options.password.c_str());
    param.streamType = static_cast<uint8_t>(options.streamType);
    param.httpPort = static_cast<uint16_t>(options.webPort);
}

int runCgi(const zqprobe::ProbeOptions& options, const std::string& command) {
    const std::string query = "usr=" + Parse::url_encode_component(options.user) +
                              "&pwd=" + Parse::url_encode_component(options.password) +
                              "&cmd=" + Parse::url_encode(command);
    const std::string path = "/cgi-bin/CGIProxy.fcgi?" + query;
    const std::string host = options.host + ":" + std::to_string(options.webPort);
    CHttpParser http;
    int code = http.createHttpSocket();
    if (code == kHttpSuccess &&
        !http.setRequest(path.c_str(), "GET", host.c_str(), nullptr, nullptr))
        code = http.GetLastError();
    if (code == kHttpSuccess)
        code = http.httpConnect(options.host.c_str(), static_cast<short>(options.webPort));
    if (code == kHttpSuccess)
        code = http.httpRequest();
    if (code == kHttpSuccess)
        code = http.httpResponse(300);
    std::printf("cgi %s -> code %d\n", command.c_str(), code);
    if (http.GetContentData())
        std::printf("%.*s\n", http.GetContentLength(), http.GetContentData());
    http.closeHttpSocket();
    return code == kHttpSuccess || code == kHttpPeerClosed ? 0 : 1;
}

void sendCommands(NetHandle* handle, const zqprobe::ProbeOptions& options) {
    for (const auto& step : options.commands) {
        const intptr_t param1 =
            step.text.empty() ? step.param1 : reinterpret_cast<intptr_t>(step.text.c_str());
        const intptr_t param2 = step.text.empty() ? step.param2 : param1;
        if (step.text.empty())
            std::printf("command %d %ld %ld\n", step.command, static_cast<long>(param1),
                        static_cast<long>(param2));
        else
            std::printf("command %d \"%s\"\n", step.command, step.text.c_str());
        zq_net_setcommand(handle, step.command, param1, param2);
    }
}

} // namespace

int main(int argc, char** argv) {
    const auto options = zqprobe::parseOptions(argc, argv);
    if (!options)
        return argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)
                   ? 0
                   : 2;
    std::signal(SIGINT, [](int) { g_interrupted = true; });
    std::signal(SIGTERM, [](int) { g_interrupted = true; });

    int failures = 0;
    for (const auto& command : options->cgi)
        failures += runCgi(*options, command);

    DEVICE_PARAM param;
    fillParam(*options, param);
    Probe probe;
    probe.decoder = ZQ_Create_Decoder();
    probe.soundNeedsDecoding = options->streamType != 0;
    if (!probe.decoder ||
        !ZQ_Register_Decoder(probe.decoder, ZQ_DECODE_H264, onPictureSize, &probe) ||
        !ZQ_Register_Decoder(probe.decoder, ZQ_DECODE_G726, nullptr, nullptr)) {
        std::fprintf(stderr, "zqprobe: cannot create the decoder\n");
        return 1;
    }
    const bool playback = !options->playFile.empty();
    const int buffering = playback ? (400 | (50 << 16)) : 0;
    const int linkFlags = 0 | (options->reconnect ? 1 << 16 : 0);
    const bool byUid = !options->uid.empty();
    if (byUid)
        std::snprintf(param.host, sizeof param.host, "%s", options->uid.c_str());
    const int type = byUid ? ZQ_TYPE_H264_P2P : options->udt ? ZQ_TYPE_H264_UDT : ZQ_TYPE_H264_TCP;
    NetHandle* handle = zq_net_open(type,
                                    playback ? options->playFile.c_str() : nullptr, &param,
                                    buffering, linkFlags, 258, onEvent, onFrame, &probe);
    if (!handle) {
        std::fprintf(stderr, "zqprobe: cannot open the camera\n");
        return 1;
    }
    if (byUid)
        std::printf("watching %s (peer-to-peer, stream %d) for %d s\n", options->uid.c_str(),
                    options->streamType, options->seconds);
    else
        std::printf("watching %s:%d (%s, stream %d) for %d s\n", options->host.c_str(),
                    options->port, options->udt ? "UDT" : "TCP", options->streamType,
                    options->seconds);

    bool commandsSent = false;
    for (int second = 1; second <= options->seconds && !g_interrupted; ++second) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        if (probe.loggedIn && !commandsSent) {
            commandsSent = true;
            if (options->listen)
                zq_net_setcommand(handle, 1, 0, 0);
            sendCommands(handle, *options);
        }
        if (playback && options->seekPercent >= 0 && second == 2) {
            std::printf("seek %.1f %%\n", options->seekPercent);
            zq_seek_record(handle, options->seekPercent);
        }
        std::printf("%s\n", probe.stats.takeSecond(second).c_str());
        std::fflush(stdout);
    }
    zq_net_close(handle);
    ZQ_UnRegister_Decoder(probe.decoder, ZQ_DECODE_G726);
    ZQ_Release_Decoder(probe.decoder);
    std::printf("total: %llu video frames, %llu key frames, %llu pictures, %d counter gaps\n",
                static_cast<unsigned long long>(probe.stats.totalVideoFrames()),
                static_cast<unsigned long long>(probe.stats.totalKeyFrames()),
                static_cast<unsigned long long>(probe.stats.totalPictures()),
                probe.stats.lastCounterGap());
    return failures == 0 && probe.stats.totalPictures() > 0 ? 0 : 1;
}
