// Speed of the talk and listen audio codecs, as real-time factors: seconds of 8 kHz audio coded
// per second of CPU time, on the same speech-like signal. FFmpeg's G.726 is the baseline,
// measured in the same run, both as the camera simulator uses it (a fresh codec context per
// 120-byte block, which is what per-block fresh state costs there) and as one long stream.
//
//   codec_audio_bench [seconds of audio, default 20]

#include "TestSignals.h"
#include "audio/G726.h"
#include "audio/ImaAdpcm.h"
#include "camsim/FfmpegHandles.h"
#include "camsim/G726Codec.h"
#include "voice/Voice.h"

#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

namespace {

constexpr size_t kBlock = 480;

double cpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Runs `work` (one pass over the whole signal) until at least half a second of CPU went by;
// returns audio seconds per CPU second.
double realTimeFactor(double audioSeconds, const std::function<void()>& work) {
    work(); // warm caches and lazy initialisation
    int passes = 0;
    const double start = cpuSeconds();
    double elapsed = 0.0;
    do {
        work();
        ++passes;
        elapsed = cpuSeconds() - start;
    } while (elapsed < 0.5);
    return audioSeconds * passes / elapsed;
}

camsim::CodecContextPtr openFfmpeg(const AVCodec* codec) {
    camsim::CodecContextPtr context(avcodec_alloc_context3(codec));
    context->sample_rate = 8000;
    context->bit_rate = 16000;
    context->bits_per_coded_sample = 2;
    context->sample_fmt = AV_SAMPLE_FMT_S16;
    av_channel_layout_default(&context->ch_layout, 1);
    if (avcodec_open2(context.get(), codec, nullptr) < 0) {
        std::fprintf(stderr, "cannot open FFmpeg's G.726\n");
        std::exit(1);
    }
    return context;
}

// FFmpeg's G.726 over the whole signal with one context per direction.
void ffmpegStreamEncode(const std::vector<int16_t>& pcm, std::vector<uint8_t>& out) {
    camsim::CodecContextPtr context = openFfmpeg(avcodec_find_encoder_by_name("g726"));
    camsim::FramePtr frame(av_frame_alloc());
    camsim::PacketPtr packet(av_packet_alloc());
    out.clear();
    for (size_t at = 0; at < pcm.size(); at += kBlock) {
        frame->format = AV_SAMPLE_FMT_S16;
        frame->nb_samples = static_cast<int>(kBlock);
        av_channel_layout_default(&frame->ch_layout, 1);
        av_frame_get_buffer(frame.get(), 0);
        std::memcpy(frame->data[0], &pcm[at], kBlock * sizeof(int16_t));
        avcodec_send_frame(context.get(), frame.get());
        av_frame_unref(frame.get());
        while (avcodec_receive_packet(context.get(), packet.get()) == 0) {
            out.insert(out.end(), packet->data, packet->data + packet->size);
            av_packet_unref(packet.get());
        }
    }
}

void ffmpegStreamDecode(const std::vector<uint8_t>& data, std::vector<int16_t>& out) {
    camsim::CodecContextPtr context = openFfmpeg(avcodec_find_decoder(AV_CODEC_ID_ADPCM_G726));
    camsim::FramePtr frame(av_frame_alloc());
    camsim::PacketPtr packet(av_packet_alloc());
    out.clear();
    for (size_t at = 0; at + codec::kG726BlockBytes <= data.size(); at += codec::kG726BlockBytes) {
        av_new_packet(packet.get(), static_cast<int>(codec::kG726BlockBytes));
        std::memcpy(packet->data, &data[at], codec::kG726BlockBytes);
        avcodec_send_packet(context.get(), packet.get());
        av_packet_unref(packet.get());
        while (avcodec_receive_frame(context.get(), frame.get()) == 0) {
            const auto* samples = reinterpret_cast<const int16_t*>(frame->data[0]);
            out.insert(out.end(), samples, samples + frame->nb_samples);
            av_frame_unref(frame.get());
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 20.0;
    const size_t samples = static_cast<size_t>(seconds * 8000) / kBlock * kBlock;
    if (samples == 0) {
        std::fprintf(stderr, "usage: codec_audio_bench [seconds of audio]\n");
        return 2;
    }
    const double audioSeconds = static_cast<double>(samples) / 8000.0;
    const size_t blocks = samples / kBlock;
    const std::vector<int16_t> pcm = audiotest::speechLike(samples);

    std::vector<uint8_t> ima(samples / 2);
    std::vector<int16_t> decoded(samples);
    std::vector<uint8_t> g726(blocks * codec::kG726BlockBytes);
    std::vector<uint8_t> frames(blocks * voice::kFrameBytes);
    std::vector<uint8_t> ffmpegBytes;
    std::vector<int16_t> ffmpegSamples;

    struct Row {
        const char* name;
        double encode;
        double decode;
    };
    std::vector<Row> rows;

    rows.push_back({"IMA ADPCM (4 bit)",
                    realTimeFactor(audioSeconds,
                                   [&] {
                                       codec::ImaAdpcmState state;
                                       codec::imaEncode(state, pcm.data(), samples, ima.data());
                                   }),
                    realTimeFactor(audioSeconds, [&] {
                        codec::ImaAdpcmState state;
                        codec::imaDecode(state, ima.data(), ima.size(), decoded.data());
                    })});

    rows.push_back({"G.726-16, ours",
                    realTimeFactor(audioSeconds,
                                   [&] {
                                       for (size_t b = 0; b < blocks; ++b)
                                           codec::g726EncodeBlock(
                                               &pcm[b * kBlock], &g726[b * codec::kG726BlockBytes]);
                                   }),
                    realTimeFactor(audioSeconds, [&] {
                        for (size_t b = 0; b < blocks; ++b)
                            codec::g726DecodeBlock(&g726[b * codec::kG726BlockBytes],
                                                   &decoded[b * kBlock]);
                    })});

    rows.push_back({"G.726-16, FFmpeg per block",
                    realTimeFactor(audioSeconds,
                                   [&] {
                                       for (size_t b = 0; b < blocks; ++b)
                                           camsim::G726Codec::encodeBlock(&pcm[b * kBlock], kBlock);
                                   }),
                    realTimeFactor(audioSeconds, [&] {
                        for (size_t b = 0; b < blocks; ++b)
                            camsim::G726Codec::decodeBlock(&g726[b * codec::kG726BlockBytes],
                                                           codec::kG726BlockBytes);
                    })});

    rows.push_back(
        {"G.726-16, FFmpeg stream",
         realTimeFactor(audioSeconds, [&] { ffmpegStreamEncode(pcm, ffmpegBytes); }),
         realTimeFactor(audioSeconds, [&] { ffmpegStreamDecode(g726, ffmpegSamples); })});

    rows.push_back({"voice codec",
                    realTimeFactor(audioSeconds,
                                   [&] {
                                       voice::EncoderState state;
                                       VOICE_EncReset(&state, voice::kModeNarrowband);
                                       for (size_t b = 0; b < blocks; ++b)
                                           VOICE_EncodeFrame(&state, &pcm[b * kBlock],
                                                             &frames[b * voice::kFrameBytes],
                                                             static_cast<int>(kBlock));
                                   }),
                    realTimeFactor(audioSeconds, [&] {
                        voice::DecoderState state;
                        VOICE_DecReset(&state, voice::kModeNarrowband);
                        int count = 0;
                        for (size_t b = 0; b < blocks; ++b)
                            VOICE_DecodeFrame(&state, &frames[b * voice::kFrameBytes],
                                              voice::kFrameBytes, &decoded[b * kBlock], &count);
                    })});

    // A baseline that silently coded nothing would make every ratio meaningless.
    if (ffmpegBytes.size() != g726.size() || ffmpegSamples.size() != samples) {
        std::fprintf(stderr, "FFmpeg's stream coder did not code the whole signal\n");
        return 1;
    }
    const Row& baseline = rows[3];
    std::printf("%.0f s of speech-like audio; real-time factor = audio seconds per CPU second\n\n",
                audioSeconds);
    std::printf("%-28s %12s %12s %10s %10s\n", "codec", "encode", "decode", "enc/FFm", "dec/FFm");
    for (const Row& row : rows) {
        std::printf("%-28s %11.0fx %11.0fx %10.2f %10.2f\n", row.name, row.encode, row.decode,
                    row.encode / baseline.encode, row.decode / baseline.decode);
    }
    std::printf("\nenc/FFm, dec/FFm: ratio to FFmpeg's G.726 on one long stream.\n");
    return 0;
}
