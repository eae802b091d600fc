// The writer's file layout byte by byte, its limits and its refusals.

#include "AviTestSupport.h"

#include "avi/Avi.h"

#include <gtest/gtest.h>

#include <fstream>

using namespace avitest;

namespace {

// Two frames (5 and 8 bytes) each followed by a 4-byte audio block, as the recorder writes them.
class AviSmallRecording : public ::testing::Test {
protected:
    void SetUp() override {
        path = folder.file("small.avi");
        ASSERT_EQ(writeRecording(path, {.audioSamples = 2}, syntheticFrames({5, 8}, 2)), kAviOk);
        bytes = readFile(path);
        ASSERT_GT(bytes.size(), 348u);
    }
    TempFolder folder;
    fs::path path;
    Bytes bytes;
};

TEST_F(AviSmallRecording, HeaderRegionLiesWhereReadersExpectIt) {
    const std::pair<size_t, const char*> codes[] = {
        {0, "RIFF"},   {8, "AVI "},   {12, "LIST"},  {20, "hdrl"},  {24, "avih"},  {88, "LIST"},
        {96, "strl"},  {100, "strh"}, {108, "vids"}, {112, "H264"}, {164, "strf"}, {212, "LIST"},
        {220, "strl"}, {232, "auds"}, {288, "strf"}, {336, "LIST"}, {344, "movi"}, {348, "00dc"}};
    for (const auto& [position, code] : codes) {
        EXPECT_EQ(codeText(u32At(bytes, position)), code) << position;
    }
    // Sizes, and the counts the per-frame rewrites keep current: total frames in the main
    // header, frames and samples as the stream lengths.
    const std::pair<size_t, uint32_t> numbers[] = {{4, static_cast<uint32_t>(bytes.size() - 8)},
                                                   {16, 316}, // moviDataStart 348 - 32
                                                   {28, 56},
                                                   {32, 40000},
                                                   {44, 0x00010030},
                                                   {48, 2},
                                                   {92, 116},
                                                   {140, 2},
                                                   {168, 40},
                                                   {216, 116},
                                                   {264, 4},
                                                   {296, 0x10001},
                                                   {300, 8000},
                                                   {340, 58}};
    for (const auto& [position, value] : numbers) {
        EXPECT_EQ(u32At(bytes, position), value) << position;
    }
}

// Chunks: 00dc(5)+pad, 01wb(4), 00dc(8), 01wb(4); index offsets count from the "movi" code.
TEST_F(AviSmallRecording, OddLengthChunkIsPaddedAndIndexedWithItsOwnLength) {
    const std::vector<std::tuple<std::string, uint32_t, uint32_t, uint32_t>> expected = {
        {"00dc", 16, 4, 5}, {"01wb", 0, 18, 4}, {"00dc", 0, 30, 8}, {"01wb", 0, 46, 4}};
    EXPECT_EQ(bytes[348 + 8 + 5], 0); // the pad byte
    const size_t index = 348 + 54;
    ASSERT_EQ(codeText(u32At(bytes, index)), "idx1");
    ASSERT_EQ(u32At(bytes, index + 4), 64u);
    ASSERT_EQ(bytes.size(), index + 8 + 64);
    for (size_t i = 0; i < expected.size(); ++i) {
        const auto& [code, flags, offset, length] = expected[i];
        const size_t entry = index + 8 + 16 * i;
        EXPECT_EQ(codeText(u32At(bytes, entry)), code) << i;
        EXPECT_EQ(u32At(bytes, entry + 4), flags) << i;
        EXPECT_EQ(u32At(bytes, entry + 8), offset) << i;
        EXPECT_EQ(u32At(bytes, entry + 12), length) << i;
        EXPECT_EQ(codeText(u32At(bytes, 344 + offset)), code) << i;
        EXPECT_EQ(u32At(bytes, 348 + offset), length) << i;
    }
    // The side file stays for the recorder to delete and holds the same entries.
    const Bytes side = readFile(path.string() + "_idx");
    EXPECT_EQ(side, Bytes(bytes.begin() + static_cast<long>(index) + 8, bytes.end()));
}

TEST(AviWriter, EmptyRecordingClosesToAValidFile) {
    TempFolder folder;
    const fs::path path = folder.file("empty.avi");
    ASSERT_EQ(writeRecording(path, {}, {}), kAviOk);
    const Bytes bytes = readFile(path);
    ASSERT_EQ(bytes.size(), 356u);
    EXPECT_EQ(u32At(bytes, 4), 348u);
    EXPECT_EQ(u32At(bytes, 340), 4u);
    EXPECT_EQ(codeText(u32At(bytes, 348)), "idx1");
    EXPECT_EQ(u32At(bytes, 352), 0u);

    AviFile* reader = aviOpen(path.c_str(), kAviRead);
    ASSERT_NE(reader, nullptr);
    uint8_t buf[16];
    int isKey = 0, length = sizeof buf, before = 0, after = 0;
    uint32_t code = 0;
    EXPECT_EQ(aviReadChunk(reader, buf, &isKey, &code, &length, &before, &after), kAviEndOfMovi);
    aviClose(reader);
    // Without a frame the picture format stays unknown, which ffprobe reports as a warning; it
    // must still read the file without an error.
    const ToolRun run = runTool("ffprobe -v error '" + path.string() + "'");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.err, "");
}

// The limit is checked before a chunk: at exactly kAviMoviLimit bytes one more is taken, after
// that none. The chunk bytes in between are a hole in the file, not written data.
TEST(AviWriter, MoviLimitAcceptsOneChunkAtTheLimitAndRefusesAfter) {
    TempFolder folder;
    const fs::path path = folder.file("full.avi");
    RecordingWriter writer(path, {.audioSamples = 0});
    ASSERT_TRUE(writer.opened());
    AviFile* file = writer.handle();
    const uint8_t data[3] = {1, 2, 3};
    file->moviBytes = kAviMoviLimit;
    EXPECT_EQ(aviWriteChunk(file, 1, aviFourcc("00dc"), data, 3), kAviOk);
    EXPECT_EQ(file->moviBytes, kAviMoviLimit + 12);
    EXPECT_EQ(aviWriteChunk(file, 1, aviFourcc("00dc"), data, 3), kAviNoRoom);
    EXPECT_EQ(aviWriteChunk(file, 0, aviFourcc("01wb"), data, 2), kAviNoRoom);
    EXPECT_EQ(file->entryCount, 1);
    EXPECT_EQ(writer.close(), kAviOk);
    // The file is mostly a hole of 256 MiB: only its index is read.
    std::ifstream in(path, std::ios::binary);
    in.seekg(-(8 + 16), std::ios::end);
    Bytes tail(8 + 16);
    in.read(reinterpret_cast<char*>(tail.data()), static_cast<std::streamsize>(tail.size()));
    EXPECT_EQ(codeText(u32At(tail, 0)), "idx1");
    EXPECT_EQ(u32At(tail, 4), 16u);
    EXPECT_EQ(u32At(tail, 8 + 8), static_cast<uint32_t>(kAviMoviLimit + 4));
    EXPECT_EQ(u32At(tail, 8 + 12), 3u);
}

TEST(AviWriter, RefusesCallsThatWouldDamageTheFile) {
    TempFolder folder;
    RecordingWriter writer(folder.file("refuse.avi"), {});
    ASSERT_TRUE(writer.opened());
    AviFile* file = writer.handle();
    const uint8_t header[64] = {};
    const uint8_t format[40] = {};
    uint32_t code = 0;
    EXPECT_EQ(aviWriteChunk(nullptr, 0, aviFourcc("00dc"), header, 4), kAviBadArgument);
    EXPECT_EQ(aviWriteChunk(file, 0, aviFourcc("00dc"), header, -1), kAviBadArgument);
    EXPECT_EQ(aviWriteChunk(file, 0, aviFourcc("00dc"), nullptr, 4), kAviBadArgument);
    EXPECT_EQ(aviRewriteStream(file, 2, header, format), kAviBadArgument);
    EXPECT_EQ(aviRewriteStream(file, -1, header, format), kAviBadArgument);
    EXPECT_EQ(aviAddStream(file, header, format, nullptr), kAviBadArgument);
    ASSERT_EQ(writer.write({Bytes(10, 7), true}), kAviOk);
    // A stream list now would land on the first chunk.
    EXPECT_EQ(aviAddStream(file, header, format, &code), kAviBadArgument);
    EXPECT_EQ(aviClose(nullptr), kAviBadArgument);
    EXPECT_EQ(aviReadMainHeader(nullptr, nullptr), kAviBadArgument);
}

TEST(AviWriter, OpenFailuresSayWhichFileFailed) {
    TempFolder folder;
    testing::internal::CaptureStdout();
    EXPECT_EQ(aviOpen(folder.file("no/such/folder.avi").c_str(), kAviWrite), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout().rfind("Open2: ", 0), 0u);

    fs::create_directory(folder.file("blocked.avi_idx")); // the side file cannot be made
    testing::internal::CaptureStdout();
    EXPECT_EQ(aviOpen(folder.file("blocked.avi").c_str(), kAviWrite), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout().rfind("Open1: ", 0), 0u);
}

} // namespace
