#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

#include <cstdint>
#include <memory>
#include <vector>

namespace camsim {

// Owners of FFmpeg's C handles: each frees its handle with the matching FFmpeg call.
struct CodecContextDeleter {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct FrameDeleter {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct PacketDeleter {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};

using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;

// Sends one frame as the stream's last, flushes, and returns every byte the encoder gives back.
// Empty when the encoder refuses the frame.
inline std::vector<uint8_t> encodeLastFrame(AVCodecContext* context, AVFrame* frame) {
    if (avcodec_send_frame(context, frame) < 0)
        return {};
    avcodec_send_frame(context, nullptr);
    PacketPtr packet(av_packet_alloc());
    std::vector<uint8_t> out;
    while (packet && avcodec_receive_packet(context, packet.get()) == 0) {
        out.insert(out.end(), packet->data, packet->data + packet->size);
        av_packet_unref(packet.get());
    }
    return out;
}

} // namespace camsim
