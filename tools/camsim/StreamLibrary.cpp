#include "StreamLibrary.h"

#include "G726Codec.h"

#include <cmath>
#include <mutex>

namespace camsim {

namespace {

bool encodeLoop(VideoLoop& loop, const H264LoopSettings& settings, std::string& error) {
    loop.width = settings.width;
    loop.height = settings.height;
    loop.fps = settings.fps;
    loop.bitRate = settings.bitRate;
    loop.gop = settings.gop;
    loop.frames = encodeH264Loop(settings, error);
    return !loop.frames.empty();
}

// Block `index` of the tone: 500 Hz and 1 kHz alternating every 480 ms. Both frequencies fit a
// whole number of periods into one 60 ms block, so the loop is seamless.
std::vector<int16_t> toneBlock(size_t index) {
    const double hz = (index / 8) % 2 == 0 ? 500.0 : 1000.0;
    std::vector<int16_t> samples(G726Codec::kBlockSamples);
    for (size_t n = 0; n < samples.size(); ++n) {
        samples[n] =
            static_cast<int16_t>(std::lround(8000.0 * std::sin(2.0 * M_PI * hz * n / 8000.0)));
    }
    return samples;
}

} // namespace

std::shared_ptr<const StreamLibrary> StreamLibrary::build(const Options& options,
                                                          std::string& error) {
    if (options.gop <= 0 || options.loopFrames <= 0 || options.loopFrames % options.gop != 0) {
        // The loop must restart on a key frame, or a client joining there could not decode.
        error = "the loop length must be a positive multiple of the key frame distance";
        return nullptr;
    }
    std::shared_ptr<StreamLibrary> library(new StreamLibrary());
    H264LoopSettings settings;
    settings.fps = kFps;
    settings.gop = options.gop;
    settings.frames = options.loopFrames;
    if (!encodeLoop(library->m_main, settings, error)) {
        return nullptr;
    }
    settings.width = 640;
    settings.height = 360;
    settings.bitRate = 512000;
    if (!encodeLoop(library->m_sub, settings, error)) {
        return nullptr;
    }

    constexpr size_t kToneBlocks = 16; // one 500 Hz and one 1 kHz stretch
    for (size_t index = 0; index < kToneBlocks; ++index) {
        const std::vector<int16_t> samples = toneBlock(index);
        std::vector<uint8_t> pcm(samples.size() * 2);
        for (size_t n = 0; n < samples.size(); ++n) {
            const auto value = static_cast<uint16_t>(samples[n]);
            pcm[2 * n] = static_cast<uint8_t>(value);
            pcm[2 * n + 1] = static_cast<uint8_t>(value >> 8);
        }
        std::vector<uint8_t> g726 = G726Codec::encodeBlock(samples.data(), samples.size());
        if (g726.size() != G726Codec::kBlockBytes) {
            error = "the g726 encoder is not available or packs differently";
            return nullptr;
        }
        library->m_pcm.push_back(std::move(pcm));
        library->m_g726.push_back(std::move(g726));
    }
    return library;
}

std::shared_ptr<const StreamLibrary> StreamLibrary::shared(std::string& error) {
    static std::mutex lock;
    static std::shared_ptr<const StreamLibrary> library; // guarded by lock
    static std::string buildError;                       // guarded by lock
    const std::lock_guard<std::mutex> guard(lock);
    if (!library && buildError.empty()) {
        library = build(Options{}, buildError);
    }
    error = buildError;
    return library;
}

const std::vector<uint8_t>& StreamLibrary::audioBlock(AudioFormat format, size_t index) const {
    const auto& blocks = format == AudioFormat::Pcm ? m_pcm : m_g726;
    return blocks[index % blocks.size()];
}

} // namespace camsim
