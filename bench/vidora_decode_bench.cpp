// Cost of libvidora's picture decoding against libavcodec decoding the same frames directly.
//
// Part 1, per-frame CPU time on this thread: libavcodec alone (one thread, packets ready in
// padded buffers, no copy out) against ZQ_GetYUV420Data (padding copy, header readers, lock,
// planes copied out packed), for 720p and 1080p H.264 and 640x480 MJPEG. The two run
// alternately, several rounds, and the best round of each counts.
//
// Part 2, many cameras on this machine: each camera decodes on its own thread, as the network
// library's media threads do. The same streams are decoded with 1, 2 and automatic decoder
// threads per camera; the total pictures per second show which serves many cameras best.
//
//   vidora_bench [rounds, default 5] [cameras, default 8]

#include "MediaClip.h"
#include "video/VideoCodec.h"
#include "vidora/vidora.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <thread>
#include <vector>

namespace {

double threadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// libavcodec on its own: the baseline.
double decodeWithLibavcodec(const clips::Clip& clip, AVCodecID id) {
    const AVCodec* codec = avcodec_find_decoder(id);
    AVCodecContext* context = avcodec_alloc_context3(codec);
    context->thread_count = 1;
    avcodec_open2(context, codec, nullptr);
    std::vector<AVPacket*> packets;
    for (const auto& frame : clip.frames) {
        AVPacket* packet = av_packet_alloc();
        av_new_packet(packet, static_cast<int>(frame.size()));
        std::copy(frame.begin(), frame.end(), packet->data);
        packets.push_back(packet);
    }
    AVFrame* picture = av_frame_alloc();
    const double start = threadCpuSeconds();
    for (AVPacket* packet : packets) {
        if (avcodec_send_packet(context, packet) == 0) {
            avcodec_receive_frame(context, picture);
        }
    }
    const double spent = threadCpuSeconds() - start;
    av_frame_free(&picture);
    for (AVPacket* packet : packets) {
        av_packet_free(&packet);
    }
    avcodec_free_context(&context);
    return spent;
}

double decodeWithVidora(const clips::Clip& clip, int type) {
    ZQ_DECODER decoder = ZQ_Create_Decoder();
    ZQ_Register_Decoder(decoder, type, nullptr, nullptr);
    const double start = threadCpuSeconds();
    for (const auto& frame : clip.frames) {
        ZQ_GetYUV420Data(decoder, reinterpret_cast<const char*>(frame.data()),
                         static_cast<int>(frame.size()));
    }
    const double spent = threadCpuSeconds() - start;
    ZQ_Release_Decoder(decoder);
    return spent;
}

struct Stream {
    const char* name;
    clips::ClipRecipe recipe;
    AVCodecID id;
    int type;
};

void comparePerFrame(const std::vector<Stream>& streams, int rounds) {
    std::printf("%-14s %8s %12s %12s %9s\n", "stream", "frames", "libavcodec", "vidora",
                "overhead");
    for (const Stream& stream : streams) {
        const clips::ReferenceClip clip = clips::makeReferenceClip(stream.recipe);
        if (!clip.error.empty()) {
            std::printf("%-14s %s\n", stream.name, clip.error.c_str());
            continue;
        }
        double best[2] = {1e9, 1e9};
        for (int round = 0; round < rounds; ++round) {
            best[0] = std::min(best[0], decodeWithLibavcodec(clip.clip, stream.id));
            best[1] = std::min(best[1], decodeWithVidora(clip.clip, stream.type));
        }
        const double frames = static_cast<double>(clip.clip.frames.size());
        std::printf("%-14s %8zu %9.3f ms %9.3f ms %8.1f%%\n", stream.name, clip.clip.frames.size(),
                    1e3 * best[0] / frames, 1e3 * best[1] / frames,
                    100.0 * (best[1] / best[0] - 1.0));
    }
}

// Every camera decodes the whole clip on its own thread; pictures per second over all of them.
double manyCameras(const clips::Clip& clip, int cameras, int decoderThreads) {
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> threads;
    for (int c = 0; c < cameras; ++c) {
        threads.emplace_back([&] {
            auto codec = vidora::VideoCodec::open(vidora::VideoKind::H264, decoderThreads);
            for (const auto& frame : clip.frames) {
                codec->decode(frame.data(), frame.size());
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return static_cast<double>(cameras) * static_cast<double>(clip.frames.size()) / seconds;
}

void compareThreading(int cameras) {
    const clips::ReferenceClip clip = clips::makeReferenceClip({.codec = "h264",
                                                                .profile = "main",
                                                                .width = 1280,
                                                                .height = 720,
                                                                .frames = 100,
                                                                .keyInterval = 50});
    if (!clip.error.empty()) {
        std::printf("threading: %s\n", clip.error.c_str());
        return;
    }
    std::printf("\n%d cameras of 720p H.264, each decoding on its own thread (%u cores)\n", cameras,
                std::thread::hardware_concurrency());
    std::printf("%-22s %16s\n", "decoder threads", "pictures/s");
    double single = 0;
    for (const int threads : {1, 2, 0}) {
        const double rate = manyCameras(clip.clip, cameras, threads);
        if (threads == 1) {
            single = rate;
        }
        std::printf("%-22s %12.1f (%.2fx)\n",
                    threads == 0 ? "automatic" : std::to_string(threads).c_str(), rate,
                    rate / single);
    }
}

} // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const int cameras = argc > 2 ? std::max(1, std::atoi(argv[2])) : 8;
    const std::vector<Stream> streams = {
        {"h264 720p",
         {.codec = "h264",
          .profile = "main",
          .width = 1280,
          .height = 720,
          .frames = 100,
          .keyInterval = 50},
         AV_CODEC_ID_H264,
         ZQ_DECODE_H264},
        {"h264 1080p",
         {.codec = "h264",
          .profile = "main",
          .width = 1920,
          .height = 1080,
          .frames = 60,
          .keyInterval = 30},
         AV_CODEC_ID_H264,
         ZQ_DECODE_H264},
        {"mjpeg 480p",
         {.codec = "mjpeg", .pixelFormat = "yuvj422p", .width = 640, .height = 480, .frames = 100},
         AV_CODEC_ID_MJPEG,
         ZQ_DECODE_MJPEG},
        {"mjpeg 480p 420",
         {.codec = "mjpeg", .pixelFormat = "yuvj420p", .width = 640, .height = 480, .frames = 100},
         AV_CODEC_ID_MJPEG,
         ZQ_DECODE_MJPEG},
    };
    comparePerFrame(streams, rounds);
    compareThreading(cameras);
    return 0;
}
