// Cost of writing a recording against appending the same bytes with plain fwrite.
//
// The recorder writes each video frame with aviWriteChunk and then rewrites the main header
// and the video stream list (aviWriteMainHeader, aviRewriteStream), every frame; each audio
// block is followed by a rewrite of the audio stream list. The rows:
//   chunks only          aviWriteChunk for each 10 KB frame, no header rewrites
//   recorder, video      + main header and video list after every frame (the recorder's cadence)
//   recorder, with audio + a 640-byte audio block (40 ms at 8 kHz) and its list after every frame
// Each row's baseline is one fwrite per frame (and per audio block) of the same payload to a
// fresh file. Both include opening and closing (aviClose appends the index). Rounds alternate
// and the best round of each counts; the ratio is the figure to watch (target: at most 2).
//
//   avi_bench [frames per round, default 3000] [rounds, default 5]

#include "avi/Avi.h"
#include "avi/AviRecords.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr int kFrameBytes = 10 * 1024;
constexpr int kAudioBytes = 640;

enum class Mode { ChunksOnly, RecorderVideo, RecorderWithAudio };

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double plainAppend(const fs::path& path, int frames, bool withAudio,
                   const std::vector<uint8_t>& frame, const std::vector<uint8_t>& audio) {
    const auto start = std::chrono::steady_clock::now();
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        std::perror("fopen");
        std::exit(1);
    }
    for (int i = 0; i < frames; ++i) {
        std::fwrite(frame.data(), 1, frame.size(), file);
        if (withAudio) {
            std::fwrite(audio.data(), 1, audio.size(), file);
        }
    }
    std::fclose(file);
    const double spent = secondsSince(start);
    fs::remove(path);
    return spent;
}

double recording(const fs::path& path, int frames, Mode mode, const std::vector<uint8_t>& frame,
                 const std::vector<uint8_t>& audio) {
    AviHeaderSet headers = aviMakeHeaders(25, kAviHandlerH264, 0);
    const auto start = std::chrono::steady_clock::now();
    AviFile* file = aviOpen(path.c_str(), kAviWrite);
    if (file == nullptr) {
        std::exit(1);
    }
    uint32_t videoCode = 0;
    uint32_t audioCode = 0;
    aviWriteMainHeader(file, aviImage(headers.main).data());
    aviAddStream(file, aviImage(headers.videoHeader).data(), aviImage(headers.videoFormat).data(),
                 &videoCode);
    aviAddStream(file, aviImage(headers.audioHeader).data(), aviImage(headers.audioFormat).data(),
                 &audioCode);
    for (int i = 0; i < frames; ++i) {
        aviWriteChunk(file, i % 25 == 0, videoCode, frame.data(), kFrameBytes);
        if (mode == Mode::ChunksOnly) {
            continue;
        }
        headers.main.totalFrames += 1;
        headers.videoHeader.length += 1;
        aviWriteMainHeader(file, aviImage(headers.main).data());
        aviRewriteStream(file, 0, aviImage(headers.videoHeader).data(),
                         aviImage(headers.videoFormat).data());
        if (mode == Mode::RecorderWithAudio) {
            aviWriteChunk(file, 0, audioCode, audio.data(), kAudioBytes);
            headers.audioHeader.length += kAudioBytes / 2;
            aviRewriteStream(file, 1, aviImage(headers.audioHeader).data(),
                             aviImage(headers.audioFormat).data());
        }
    }
    aviClose(file);
    const double spent = secondsSince(start);
    fs::remove(path);
    fs::remove(path.string() + "_idx");
    return spent;
}

} // namespace

int main(int argc, char** argv) {
    const int frames = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3000;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    const fs::path folder = fs::temp_directory_path() / ("avi-bench-" + std::to_string(getpid()));
    fs::create_directories(folder);
    std::vector<uint8_t> frame(kFrameBytes);
    std::vector<uint8_t> audio(kAudioBytes);
    for (size_t i = 0; i < frame.size(); ++i) {
        frame[i] = static_cast<uint8_t>(i * 13 + 7);
    }

    struct Row {
        const char* name;
        Mode mode;
    };
    const Row rows[] = {{"chunks only", Mode::ChunksOnly},
                        {"recorder, video", Mode::RecorderVideo},
                        {"recorder, with audio", Mode::RecorderWithAudio}};
    std::printf("%d frames of %d bytes per round, best of %d rounds, folder %s\n", frames,
                kFrameBytes, rounds, folder.c_str());
    std::printf("%-22s %14s %14s %8s\n", "", "fwrite us/fr", "avi us/fr", "ratio");
    for (const Row& row : rows) {
        const bool withAudio = row.mode == Mode::RecorderWithAudio;
        double bestPlain = 1e9;
        double bestAvi = 1e9;
        for (int round = 0; round < rounds; ++round) {
            bestPlain = std::min(
                bestPlain, plainAppend(folder / "plain.bin", frames, withAudio, frame, audio));
            bestAvi = std::min(bestAvi,
                               recording(folder / "recording.avi", frames, row.mode, frame, audio));
        }
        std::printf("%-22s %14.2f %14.2f %8.2f\n", row.name, bestPlain * 1e6 / frames,
                    bestAvi * 1e6 / frames, bestAvi / bestPlain);
    }
    fs::remove_all(folder);
    return 0;
}
