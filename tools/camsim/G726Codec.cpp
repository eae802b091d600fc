#include "G726Codec.h"

#include "FfmpegHandles.h"

#include <cstring>

namespace camsim {

namespace {

constexpr int kSampleRate = 8000;
constexpr int kBitRate = 16000;

CodecContextPtr openCodec(const AVCodec* codec) {
    if (codec == nullptr) {
        return nullptr;
    }
    CodecContextPtr context(avcodec_alloc_context3(codec));
    context->sample_rate = kSampleRate;
    context->bit_rate = kBitRate;
    context->bits_per_coded_sample = 2;
    context->sample_fmt = AV_SAMPLE_FMT_S16;
    av_channel_layout_default(&context->ch_layout, 1);
    if (avcodec_open2(context.get(), codec, nullptr) < 0) {
        return nullptr;
    }
    return context;
}

} // namespace

std::vector<uint8_t> G726Codec::encodeBlock(const int16_t* samples, size_t count) {
    // FFmpeg's "g726" writes codes big-endian (most significant first); "g726le" would not.
    CodecContextPtr context = openCodec(avcodec_find_encoder_by_name("g726"));
    if (!context || count == 0 || count > kBlockSamples) {
        return {};
    }
    FramePtr frame(av_frame_alloc());
    frame->format = AV_SAMPLE_FMT_S16;
    frame->nb_samples = static_cast<int>(count);
    av_channel_layout_default(&frame->ch_layout, 1);
    if (av_frame_get_buffer(frame.get(), 0) < 0) {
        return {};
    }
    std::memcpy(frame->data[0], samples, count * sizeof(int16_t));
    // The block is shorter than the encoder's frame size, so it goes in as the stream's last
    // frame; flushing then yields its codes.
    return encodeLastFrame(context.get(), frame.get());
}

std::vector<int16_t> G726Codec::decodeBlock(const uint8_t* data, size_t length) {
    CodecContextPtr context = openCodec(avcodec_find_decoder(AV_CODEC_ID_ADPCM_G726));
    if (!context || length == 0 || length > kBlockBytes) {
        return {};
    }
    PacketPtr packet(av_packet_alloc());
    if (av_new_packet(packet.get(), static_cast<int>(length)) < 0) {
        return {};
    }
    std::memcpy(packet->data, data, length);
    FramePtr frame(av_frame_alloc());
    std::vector<int16_t> out;
    if (avcodec_send_packet(context.get(), packet.get()) < 0) {
        return {};
    }
    avcodec_send_packet(context.get(), nullptr);
    while (avcodec_receive_frame(context.get(), frame.get()) == 0) {
        const auto* samples = reinterpret_cast<const int16_t*>(frame->data[0]);
        out.insert(out.end(), samples, samples + frame->nb_samples);
        av_frame_unref(frame.get());
    }
    return out;
}

} // namespace camsim
