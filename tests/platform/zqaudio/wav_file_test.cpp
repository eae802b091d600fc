#include "AudioTestSupport.h"
#include "WavFile.h"

#include <cstring>

using namespace zqtest;

namespace {

Bytes le32(uint32_t v) {
    return {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
            static_cast<char>(v >> 24)};
}

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes text(const char* s) {
    return Bytes(s, s + std::strlen(s));
}

// A chunk whose size field says `size` (its real body length unless given), padded to even.
Bytes chunk(const char* id, const Bytes& body, int64_t size = -1) {
    Bytes out = text(id) + le32(static_cast<uint32_t>(size < 0 ? int64_t(body.size()) : size));
    out = out + body;
    if (body.size() % 2)
        out.push_back(0);
    return out;
}

Bytes fmtBody(int channels = 1, int rate = 8000, int bits = 16) {
    Bytes body;
    putSample(body, 1);
    putSample(body, channels);
    body = body + le32(static_cast<uint32_t>(rate)) +
           le32(static_cast<uint32_t>(rate * channels * bits / 8));
    putSample(body, channels * bits / 8);
    putSample(body, bits);
    return body;
}

Bytes riff(const Bytes& chunks) {
    return text("RIFF") + le32(static_cast<uint32_t>(chunks.size() + 4)) + text("WAVE") + chunks;
}

// Opens `file` with a WavReader; the samples it reads, or the error.
std::string readBack(const Bytes& file, Bytes* samples = nullptr) {
    const std::string path = scratchPath("file.wav");
    writeFile(path, file);
    zqaudio::WavReader reader;
    std::string error;
    if (!reader.open(path, error))
        return error;
    if (samples) {
        samples->assign(static_cast<size_t>(reader.remaining()), 0);
        samples->resize(reader.read(samples->data(), samples->size() + 10));
    }
    return "";
}

TEST(WavReader, ReadsPastOtherChunksAndUpToTheEndOfFileWhenDataClaimsMore) {
    const Bytes pcm = noise(50);
    const Bytes fmt = chunk("fmt ", fmtBody());
    // An odd-sized chunk with its pad byte, and data sizes an unfinished writer leaves behind.
    for (uint32_t claimed : {100u, 0xFFFFFFFFu, 100000u}) {
        Bytes samples;
        ASSERT_EQ(readBack(riff(fmt + chunk("LIST", text("odd")) + chunk("data", pcm, claimed)),
                           &samples),
                  "");
        EXPECT_EQ(samples, pcm) << claimed;
    }
}

TEST(WavReader, RefusesBrokenFilesWithTheReason) {
    Bytes manyChunks;
    for (int i = 0; i < 70; ++i)
        manyChunks = manyChunks + chunk("junk", {});
    const std::pair<Bytes, const char*> cases[] = {
        {{}, "not a RIFF/WAVE file"},
        {text("RIFX") + le32(4) + text("WAVE"), "not a RIFF/WAVE file"},
        {riff(chunk("fmt ", fmtBody())), "no data chunk"},
        {riff(chunk("data", noise(4)) + chunk("fmt ", fmtBody())), "data chunk before the fmt"},
        {riff(chunk("fmt ", Bytes(14, 1)) + chunk("data", noise(4))), "shorter than 16"},
        {riff(chunk("fmt ", fmtBody()) + chunk("LIST", Bytes(8, 0), 4000)), "runs past the end"},
        {riff(chunk("fmt ", fmtBody()) + manyChunks + chunk("data", noise(4))), "too many chunks"},
    };
    for (const auto& [file, reason] : cases)
        EXPECT_NE(readBack(file).find(reason), std::string::npos) << reason;
}

} // namespace
