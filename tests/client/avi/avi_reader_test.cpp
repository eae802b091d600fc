// The reader: chunks back as written, JUNK where other tools put it, seeking by the index, and
// files that are cut short, damaged or made up to mislead it (random damage is the fuzz
// target's part: tests/fuzz/avi_reader_fuzz.cpp).

#include "AviTestSupport.h"

#include "avi/Avi.h"

#include <gtest/gtest.h>

using namespace avitest;

namespace {

struct Chunk {
    std::string code;
    Bytes data;
    int isKey = 0;
    bool operator==(const Chunk&) const = default;
};

struct ReadResult {
    std::vector<Chunk> chunks;
    int last = kAviOk; // the result that ended the walk
};

// Reads until the reader stops; never more calls than the file could hold chunks.
ReadResult readAll(AviFile* file, size_t fileBytes) {
    ReadResult result;
    Bytes buf(1 << 16);
    for (size_t calls = 0; calls <= fileBytes / 8 + 1; ++calls) {
        int isKey = 0, length = static_cast<int>(buf.size()), before = 0, after = 0;
        uint32_t code = 0;
        result.last = aviReadChunk(file, buf.data(), &isKey, &code, &length, &before, &after);
        if (result.last != kAviOk) {
            return result;
        }
        EXPECT_GT(after, before);
        EXPECT_LE(after, static_cast<int>(file->moviSize) - 4);
        EXPECT_LE(length, static_cast<int>(buf.size()));
        result.chunks.push_back({codeText(code), Bytes(buf.begin(), buf.begin() + length), isKey});
    }
    ADD_FAILURE() << "the reader did not stop";
    return result;
}

ReadResult readFileChunks(const fs::path& path) {
    AviFile* file = aviOpen(path.c_str(), kAviRead);
    if (file == nullptr) {
        return {{}, kAviBadArgument};
    }
    ReadResult result = readAll(file, fs::file_size(path));
    aviClose(file);
    return result;
}

std::vector<Chunk> expectedChunks(const std::vector<Frame>& frames, int audioSamples) {
    std::vector<Chunk> chunks;
    for (size_t i = 0; i < frames.size(); ++i) {
        chunks.push_back({"00dc", frames[i].data, frames[i].key ? 1 : 0});
        if (audioSamples > 0) {
            chunks.push_back({"01wb", pcmBlock(audioSamples, static_cast<int>(i)), 0});
        }
    }
    return chunks;
}

Bytes junkChunk(uint32_t size) {
    Bytes junk(8 + size + (size & 1), 0x5a);
    putU32(junk, 0, aviFourcc("JUNK"));
    putU32(junk, 4, size);
    return junk;
}

class AviRecorded : public ::testing::Test {
protected:
    void SetUp() override {
        frames = syntheticFrames({5, 300, 2, 17, 40, 1, 64, 9, 0, 33}, 3);
        path = folder.file("recording.avi");
        ASSERT_EQ(writeRecording(path, {.audioSamples = 2}, frames), kAviOk);
        bytes = readFile(path);
        indexPos = 348 + u32At(bytes, 340) - 4;
    }
    // `bytes` with `value` at `position`, as a file of its own.
    fs::path patched(size_t position, uint32_t value) {
        Bytes copy = bytes;
        putU32(copy, position, value);
        const fs::path file = folder.file("patched.avi");
        writeFile(file, copy);
        return file;
    }
    TempFolder folder;
    std::vector<Frame> frames;
    fs::path path;
    Bytes bytes;
    size_t indexPos = 0;
};

TEST_F(AviRecorded, EveryChunkComesBackWithItsKeyFlagThenTheEnd) {
    const ReadResult result = readFileChunks(path);
    EXPECT_EQ(result.chunks, expectedChunks(frames, 2));
    EXPECT_EQ(result.last, kAviEndOfMovi);

    AviFile* file = aviOpen(path.c_str(), kAviRead);
    ASSERT_NE(file, nullptr);
    uint8_t strh[64], strf[40];
    uint32_t code = 0;
    ASSERT_EQ(aviReadStream(file, 2, strh, strf, &code), kAviOk);
    EXPECT_EQ(codeText(code), "01wb");
    EXPECT_EQ(aviRecord<AviAudioFormat>(strf).samplesPerSec, 8000u);
    EXPECT_EQ(aviReadStream(file, 3, strh, strf, &code), kAviBadArgument);
    EXPECT_EQ(aviReadStream(file, 0, strh, strf, &code), kAviBadArgument);
    aviClose(file);
}

TEST_F(AviRecorded, SmallBufferReportsTheSizeNeededAndKeepsThePosition) {
    AviFile* file = aviOpen(path.c_str(), kAviRead);
    ASSERT_NE(file, nullptr);
    Bytes buf(400);
    int isKey = 0, length = 4, before = 0, after = 0;
    uint32_t code = 0;
    EXPECT_EQ(aviReadChunk(file, buf.data(), &isKey, &code, &length, &before, &after),
              kAviBufferTooSmall);
    EXPECT_EQ(length, 5);
    EXPECT_EQ(aviReadChunk(file, buf.data(), &isKey, &code, &length, &before, &after), kAviOk);
    EXPECT_EQ(Bytes(buf.begin(), buf.begin() + length), frames[0].data);
    EXPECT_EQ(before, 0);
    EXPECT_EQ(after, 14); // header, 5 bytes, pad
    aviClose(file);
}

TEST_F(AviRecorded, JunkAfterHdrlOrAfterMoviIsSteppedOver) {
    for (const bool afterHdrl : {true, false}) {
        Bytes copy = bytes;
        const Bytes junk = junkChunk(13);
        copy.insert(copy.begin() + static_cast<long>(afterHdrl ? 336 : indexPos), junk.begin(),
                    junk.end());
        putU32(copy, 4, static_cast<uint32_t>(copy.size() - 8));
        const fs::path file = folder.file("junk.avi");
        writeFile(file, copy);
        const ReadResult result = readFileChunks(file);
        EXPECT_EQ(result.chunks, expectedChunks(frames, 2)) << afterHdrl;
        EXPECT_EQ(result.last, kAviEndOfMovi);
    }
}

// Cut after every byte: a copy opens only with its index header present, and then reads every
// chunk, the key flags of entries cut away being lost.
TEST_F(AviRecorded, TruncatedCopiesOpenOnlyWithTheirIndex) {
    const auto all = expectedChunks(frames, 2);
    for (size_t cut = 0; cut < bytes.size(); ++cut) {
        const fs::path file = folder.file("cut.avi");
        writeFile(file, Bytes(bytes.begin(), bytes.begin() + static_cast<long>(cut)));
        testing::internal::CaptureStdout();
        const ReadResult result = readFileChunks(file);
        const std::string said = testing::internal::GetCapturedStdout();
        if (cut < indexPos + 8) {
            EXPECT_EQ(result.last, kAviBadArgument) << cut;
            EXPECT_NE(said.find("tag fail!"), std::string::npos) << cut;
            continue;
        }
        const size_t entries = (cut - indexPos - 8) / 16;
        ASSERT_EQ(result.chunks.size(), all.size()) << cut;
        for (size_t i = 0; i < all.size(); ++i) {
            EXPECT_EQ(result.chunks[i].data, all[i].data) << cut;
            EXPECT_EQ(result.chunks[i].isKey, i < entries ? all[i].isKey : 0) << cut;
        }
    }
}

TEST_F(AviRecorded, SizesPointingOutsideTheFileAreRefused) {
    struct Case {
        size_t position;
        uint32_t value;
        const char* message;
    };
    const Case cases[] = {{8, aviFourcc("AVIX"), "AVI tag fail!\n"},
                          {16, 0xffffff00, "hdrl tag fail!\n"},
                          {16, 2, "hdrl tag fail!\n"},
                          {340, 0, "movi tag fail!\n"},
                          {340, 0x7ffffff0, "idxl tag fail!\n"}};
    for (const Case& c : cases) {
        const fs::path file = patched(c.position, c.value);
        testing::internal::CaptureStdout();
        EXPECT_EQ(aviOpen(file.c_str(), kAviRead), nullptr);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.message) << c.position;
    }
    // An index that claims more than the file holds serves what is there.
    EXPECT_EQ(readFileChunks(patched(indexPos + 4, 0xfffffff0)).chunks, expectedChunks(frames, 2));
    // A chunk reaching past "movi" ends the reading instead of being read.
    const ReadResult forged = readFileChunks(patched(352, 0x7ffffff0));
    EXPECT_TRUE(forged.chunks.empty());
    EXPECT_EQ(forged.last, kAviEndOfMovi);
}

TEST_F(AviRecorded, IndexEntriesThatDoNotMatchTheirChunkLendItNothing) {
    // The first entry points nowhere; its chunk still reads, with its own length, not as a key.
    ReadResult result = readFileChunks(patched(indexPos + 8 + 8, 0xfffffff0));
    auto expected = expectedChunks(frames, 2);
    expected[0].isKey = 0;
    EXPECT_EQ(result.chunks, expected);

    // A zero-length chunk where a 5-byte one was: read as empty, then the reader finds its feet
    // or stops, but never reads outside "movi".
    result = readFileChunks(patched(352, 0));
    ASSERT_FALSE(result.chunks.empty());
    EXPECT_TRUE(result.chunks[0].data.empty());
    EXPECT_EQ(result.chunks[0].isKey, 0);
}

// Video only, so index entries and frames are the same count; key frames where `keys` says.
struct SeekCase {
    std::vector<int> keys;
    int target;
    int result;
    int skipped;
    int landsOn; // frame read after the seek
};

class AviSeek : public ::testing::TestWithParam<SeekCase> {};

TEST_P(AviSeek, FindsTheNextKeyFrameWithinOneHundredEntries) {
    const SeekCase& c = GetParam();
    std::vector<Frame> frames = syntheticFrames(std::vector<int>(150, 6), 0);
    for (const int key : c.keys) {
        frames[static_cast<size_t>(key)].key = true;
    }
    TempFolder folder;
    const fs::path path = folder.file("seek.avi");
    ASSERT_EQ(writeRecording(path, {.audioSamples = 0}, frames), kAviOk);
    AviFile* file = aviOpen(path.c_str(), kAviRead);
    ASSERT_NE(file, nullptr);
    int skipped = -1;
    testing::internal::CaptureStdout();
    EXPECT_EQ(aviSeekFrame(file, c.target, &skipped), c.result);
    testing::internal::GetCapturedStdout();
    if (c.result == kAviOk) {
        EXPECT_EQ(skipped, c.skipped);
        uint8_t buf[16];
        int isKey = 0, length = sizeof buf, before = 0, after = 0;
        uint32_t code = 0;
        ASSERT_EQ(aviReadChunk(file, buf, &isKey, &code, &length, &before, &after), kAviOk);
        EXPECT_EQ(Bytes(buf, buf + length), frames[static_cast<size_t>(c.landsOn)].data);
        EXPECT_EQ(isKey, 1);
    }
    aviClose(file);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AviSeek,
    ::testing::Values(SeekCase{{0}, 10, kAviNoKeyFrame, 0, 0},
                      SeekCase{{0, 110}, 10, kAviNoKeyFrame, 0, 0}, // 101st entry from the target
                      SeekCase{{0, 109}, 10, kAviOk, 99, 109},      // 100th
                      SeekCase{{0, 10}, 10, kAviOk, 0, 10}, SeekCase{{0}, 0, kAviOk, 0, 0},
                      SeekCase{{0}, 150, kAviPositionError, 0, 0}));

} // namespace
