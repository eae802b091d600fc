#include "H264LoopEncoder.h"

#include "FfmpegHandles.h"
#include "SyntheticPicture.h"

extern "C" {
#include <libavutil/opt.h>
}

#include <cstring>

namespace camsim {

namespace {

// Removes SEI units (type 6) from an Annex-B picture. The encoder puts its own SEI ahead of the
// SPS in the first picture; clients expect a key frame to open with the SPS itself.
std::vector<uint8_t> withoutSei(const uint8_t* data, size_t size) {
    std::vector<size_t> starts; // offsets of start codes (first zero byte)
    for (size_t i = 0; i + 3 <= size; ++i) {
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) {
            starts.push_back(i > 0 && data[i - 1] == 0 ? i - 1 : i);
            i += 2;
        }
    }
    std::vector<uint8_t> out;
    out.reserve(size);
    for (size_t n = 0; n < starts.size(); ++n) {
        const size_t begin = starts[n];
        const size_t end = n + 1 < starts.size() ? starts[n + 1] : size;
        const size_t header = data[begin + 2] == 1 ? begin + 3 : begin + 4;
        if (header < end && (data[header] & 0x1F) == 6) {
            continue;
        }
        out.insert(out.end(), data + begin, data + end);
    }
    return out;
}

bool drain(AVCodecContext* context, AVPacket* packet, std::vector<EncodedFrame>& out) {
    for (;;) {
        const int result = avcodec_receive_packet(context, packet);
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) {
            return true;
        }
        if (result < 0) {
            return false;
        }
        EncodedFrame frame;
        frame.data = withoutSei(packet->data, static_cast<size_t>(packet->size));
        frame.key = (packet->flags & AV_PKT_FLAG_KEY) != 0;
        out.push_back(std::move(frame));
        av_packet_unref(packet);
    }
}

} // namespace

std::vector<EncodedFrame> encodeH264Loop(const H264LoopSettings& settings, std::string& error) {
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    if (codec == nullptr) {
        error = "the libx264 encoder is not available in this FFmpeg";
        return {};
    }
    CodecContextPtr context(avcodec_alloc_context3(codec));
    context->width = settings.width;
    context->height = settings.height;
    context->pix_fmt = AV_PIX_FMT_YUV420P;
    context->time_base = AVRational{1, settings.fps};
    context->framerate = AVRational{settings.fps, 1};
    context->bit_rate = settings.bitRate;
    context->gop_size = settings.gop;
    context->max_b_frames = 0;
    context->thread_count = 1; // the machine is shared; one thread is fast enough for ultrafast
    av_opt_set(context->priv_data, "preset", "ultrafast", 0);
    av_opt_set(context->priv_data, "tune", "zerolatency", 0);
    av_opt_set(context->priv_data, "profile", "baseline", 0);
    const std::string params =
        "repeat-headers=1:scenecut=0:keyint=" + std::to_string(settings.gop) +
        ":min-keyint=" + std::to_string(settings.gop);
    av_opt_set(context->priv_data, "x264-params", params.c_str(), 0);
    if (avcodec_open2(context.get(), codec, nullptr) < 0) {
        error = "libx264 refused the settings";
        return {};
    }

    FramePtr frame(av_frame_alloc());
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = settings.width;
    frame->height = settings.height;
    if (av_frame_get_buffer(frame.get(), 0) < 0) {
        error = "out of memory for a video frame";
        return {};
    }
    PacketPtr packet(av_packet_alloc());
    std::vector<EncodedFrame> out;
    out.reserve(static_cast<size_t>(settings.frames));
    for (int index = 0; index < settings.frames; ++index) {
        const Picture picture = drawTestPicture(settings.width, settings.height, index);
        av_frame_make_writable(frame.get());
        for (int y = 0; y < settings.height; ++y) {
            std::memcpy(frame->data[0] + y * frame->linesize[0],
                        picture.y.data() + static_cast<size_t>(y) * settings.width,
                        static_cast<size_t>(settings.width));
        }
        for (int y = 0; y < settings.height / 2; ++y) {
            const size_t row = static_cast<size_t>(y) * (settings.width / 2);
            std::memcpy(frame->data[1] + y * frame->linesize[1], picture.u.data() + row,
                        static_cast<size_t>(settings.width / 2));
            std::memcpy(frame->data[2] + y * frame->linesize[2], picture.v.data() + row,
                        static_cast<size_t>(settings.width / 2));
        }
        frame->pts = index;
        // Key frames fall on the loop's grid so a loop restart is a clean key frame too.
        frame->pict_type = index % settings.gop == 0 ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
        if (avcodec_send_frame(context.get(), frame.get()) < 0 ||
            !drain(context.get(), packet.get(), out)) {
            error = "libx264 failed on frame " + std::to_string(index);
            return {};
        }
    }
    avcodec_send_frame(context.get(), nullptr);
    if (!drain(context.get(), packet.get(), out) ||
        out.size() != static_cast<size_t>(settings.frames)) {
        error = "libx264 returned " + std::to_string(out.size()) + " pictures for " +
                std::to_string(settings.frames);
        return {};
    }
    return out;
}

} // namespace camsim
