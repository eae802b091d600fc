#include "device/record/RecordingFile.h"

#include "avi/Avi.h"
#include "device/record/RecordNames.h"

#include <algorithm>

namespace Device {

namespace {

constexpr int kDefaultRate = 30;

uint32_t rateOrDefault(int frameRate) {
    return static_cast<uint32_t>(frameRate > 0 ? frameRate : kDefaultRate);
}

} // namespace

AviHeaderSet makeAviHeaders(int classCode, int frameRate, int totalFrames) {
    const uint32_t handler = classCode == 16 ? kAviHandlerMjpeg : kAviHandlerH264;
    return aviMakeHeaders(frameRate, handler, totalFrames);
}

RecordingFile::~RecordingFile() {
    if (m_file != nullptr)
        aviClose(m_file);
}

bool RecordingFile::open(const std::filesystem::path& path, uint32_t startTick,
                         const LocalTime& startTime) {
    if (m_file != nullptr)
        return false;
    AviFile* file = aviOpen(utf8Path(path).c_str(), kAviWrite);
    if (file == nullptr)
        return false;
    const auto main = aviImage(headers.main);
    const auto videoHeader = aviImage(headers.videoHeader);
    const auto videoFormat = aviImage(headers.videoFormat);
    const auto audioHeader = aviImage(headers.audioHeader);
    const auto audioFormat = aviImage(headers.audioFormat);
    if (aviWriteMainHeader(file, main.data()) != kAviOk ||
        aviAddStream(file, videoHeader.data(), videoFormat.data(), &m_videoCode) != kAviOk ||
        aviAddStream(file, audioHeader.data(), audioFormat.data(), &m_audioCode) != kAviOk) {
        aviClose(file);
        return false;
    }
    m_file = file;
    m_path = path;
    m_startTick = startTick;
    m_startTime = startTime;
    m_framesWritten = 0;
    return true;
}

int RecordingFile::writeVideo(const VideoInput& frame) {
    const int result =
        aviWriteChunk(m_file, frame.keyFrame ? 1 : 0, m_videoCode, frame.data, frame.length);
    if (result != kAviOk)
        return result;
    const uint32_t rate = rateOrDefault(frame.frameRate);
    AviMainHeader& main = headers.main;
    main.totalFrames += 1;
    main.microSecPerFrame = 1000000 / rate;
    main.maxBytesPerSec = static_cast<uint32_t>(std::max(frame.cameraWord8, 0) / 8);
    if (frame.width > 0 && frame.height > 0)
        aviSetPictureSize(headers, frame.width, frame.height);
    // A zero rate would make the stream's duration a division by zero for every reader.
    headers.videoHeader.rate = rate * std::max<uint32_t>(headers.videoHeader.scale, 1);
    headers.videoHeader.length += 1;
    rewriteMain();
    rewriteVideo();
    ++m_framesWritten;
    return kAviOk;
}

int RecordingFile::writeAudio(const void* pcm, int length) {
    const int result = aviWriteChunk(m_file, 0, m_audioCode, pcm, length);
    if (result != kAviOk)
        return result;
    headers.audioHeader.length += static_cast<uint32_t>(length / 2);
    const auto header = aviImage(headers.audioHeader);
    const auto format = aviImage(headers.audioFormat);
    aviRewriteStream(m_file, 1, header.data(), format.data());
    return kAviOk;
}

int RecordingFile::finish(uint32_t nowTick) {
    if (m_file == nullptr)
        return kAviBadArgument;
    const uint32_t elapsed = nowTick - m_startTick;
    int64_t measured = elapsed > 0 ? int64_t{m_framesWritten} * 1000 / elapsed : 0;
    if (measured <= 0)
        measured = kDefaultRate;
    headers.videoHeader.rate = static_cast<uint32_t>(measured);
    headers.main.microSecPerFrame = static_cast<uint32_t>(1000000 / measured);
    headers.main.totalFrames = static_cast<uint32_t>(m_framesWritten);
    rewriteMain();
    rewriteVideo();
    AviFile* file = m_file;
    m_file = nullptr;
    return aviClose(file);
}

void RecordingFile::rewriteMain() {
    const auto main = aviImage(headers.main);
    aviWriteMainHeader(m_file, main.data());
}

void RecordingFile::rewriteVideo() {
    const auto header = aviImage(headers.videoHeader);
    const auto format = aviImage(headers.videoFormat);
    aviRewriteStream(m_file, 0, header.data(), format.data());
}

} // namespace Device
