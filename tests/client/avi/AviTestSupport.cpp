#include "AviTestSupport.h"

#include "MediaClip.h"

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace avitest {

namespace {

fs::path uniquePath(const std::string& prefix) {
    static std::atomic<int> counter{0};
    return fs::temp_directory_path() /
           (prefix + std::to_string(getpid()) + "-" + std::to_string(counter++));
}

bool hasIdr(const Bytes& unit) {
    for (size_t i = 0; i + 3 < unit.size(); ++i) {
        if (unit[i] == 0 && unit[i + 1] == 0 && unit[i + 2] == 1 && (unit[i + 3] & 0x1f) == 5) {
            return true;
        }
    }
    return false;
}

} // namespace

TempFolder::TempFolder() : m_path(uniquePath("avi-test-")) {
    fs::create_directories(m_path);
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    fs::remove_all(m_path, ignored);
}

std::vector<Frame> cameraFrames(const std::string& codec, int width, int height, int count) {
    const fs::path file =
        clips::workFolder() / (codec + std::to_string(width) + "x" + std::to_string(height) + "-" +
                               std::to_string(count));
    const clips::ClipRecipe recipe{.codec = codec,
                                   .pixelFormat = codec == "h264" ? "yuv420p" : "yuvj420p",
                                   .width = width,
                                   .height = height,
                                   .frames = count,
                                   .keyInterval = 25};
    std::vector<Frame> frames;
    if (clips::makeClip(recipe, file).empty()) {
        for (auto& unit : clips::readClip(file, codec).frames) {
            const bool key = codec == "mjpeg" || hasIdr(unit);
            frames.push_back({std::move(unit), key});
        }
    }
    return frames;
}

std::vector<Frame> syntheticFrames(const std::vector<int>& lengths, int keyInterval) {
    std::vector<Frame> frames;
    for (size_t i = 0; i < lengths.size(); ++i) {
        Frame frame;
        frame.key = keyInterval > 0 && i % static_cast<size_t>(keyInterval) == 0;
        for (int b = 0; b < lengths[i]; ++b) {
            frame.data.push_back(static_cast<uint8_t>(i * 31 + static_cast<size_t>(b) * 7 + 1));
        }
        frames.push_back(std::move(frame));
    }
    return frames;
}

Bytes pcmBlock(int samples, int index) {
    Bytes block;
    for (int i = 0; i < samples; ++i) {
        const double t = static_cast<double>(index * samples + i) / 8000.0;
        const auto value = static_cast<int16_t>(8000.0 * std::sin(2.0 * M_PI * 440.0 * t));
        block.push_back(static_cast<uint8_t>(value & 0xff));
        block.push_back(static_cast<uint8_t>((value >> 8) & 0xff));
    }
    return block;
}

RecordingWriter::RecordingWriter(const fs::path& path, const RecordingPlan& plan)
    : m_headers(aviMakeHeaders(plan.frameRate, plan.handler, 0)), m_plan(plan) {
    aviSetPictureSize(m_headers, plan.width, plan.height);
    m_file = aviOpen(path.c_str(), kAviWrite);
    if (m_file == nullptr) {
        return;
    }
    const auto main = aviImage(m_headers.main);
    const auto videoHeader = aviImage(m_headers.videoHeader);
    const auto videoFormat = aviImage(m_headers.videoFormat);
    const auto audioHeader = aviImage(m_headers.audioHeader);
    const auto audioFormat = aviImage(m_headers.audioFormat);
    if (aviWriteMainHeader(m_file, main.data()) != kAviOk ||
        aviAddStream(m_file, videoHeader.data(), videoFormat.data(), &m_videoCode) != kAviOk ||
        aviAddStream(m_file, audioHeader.data(), audioFormat.data(), &m_audioCode) != kAviOk) {
        aviClose(m_file);
        m_file = nullptr;
    }
}

RecordingWriter::~RecordingWriter() {
    close();
}

int RecordingWriter::write(const Frame& frame) {
    const int video = aviWriteChunk(m_file, frame.key ? 1 : 0, m_videoCode, frame.data.data(),
                                    static_cast<int>(frame.data.size()));
    if (video == kAviOk) {
        m_headers.main.totalFrames += 1;
        m_headers.videoHeader.length += 1;
        const auto main = aviImage(m_headers.main);
        const auto header = aviImage(m_headers.videoHeader);
        const auto format = aviImage(m_headers.videoFormat);
        aviWriteMainHeader(m_file, main.data());
        aviRewriteStream(m_file, 0, header.data(), format.data());
    }
    int audio = kAviOk;
    if (m_plan.audioSamples > 0) {
        const Bytes block = pcmBlock(m_plan.audioSamples, m_frames);
        audio = aviWriteChunk(m_file, 0, m_audioCode, block.data(), static_cast<int>(block.size()));
        if (audio == kAviOk) {
            m_headers.audioHeader.length += static_cast<uint32_t>(block.size() / 2);
            const auto header = aviImage(m_headers.audioHeader);
            const auto format = aviImage(m_headers.audioFormat);
            aviRewriteStream(m_file, 1, header.data(), format.data());
        }
    }
    ++m_frames;
    return video != kAviOk ? video : audio;
}

int RecordingWriter::close() {
    const int result = m_file != nullptr ? aviClose(m_file) : kAviBadArgument;
    m_file = nullptr;
    return result;
}

int writeRecording(const fs::path& path, const RecordingPlan& plan,
                   const std::vector<Frame>& frames) {
    RecordingWriter writer(path, plan);
    if (!writer.opened()) {
        return kAviBadArgument;
    }
    for (const Frame& frame : frames) {
        if (const int result = writer.write(frame); result != kAviOk) {
            return result;
        }
    }
    return writer.close();
}

ToolRun runTool(const std::string& command) {
    const fs::path out = uniquePath("avi-tool-out-");
    const fs::path err = uniquePath("avi-tool-err-");
    const std::string full = command + " >'" + out.string() + "' 2>'" + err.string() + "'";
    ToolRun run;
    const int status = std::system(full.c_str());
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    const Bytes outBytes = readFile(out);
    const Bytes errBytes = readFile(err);
    run.out.assign(outBytes.begin(), outBytes.end());
    run.err.assign(errBytes.begin(), errBytes.end());
    fs::remove(out);
    fs::remove(err);
    return run;
}

Probe probe(const fs::path& file) {
    const ToolRun run = runTool("ffprobe -hide_banner -v warning -count_frames -count_packets "
                                "-show_streams -of compact=p=0 '" +
                                file.string() + "'");
    Probe result;
    result.exitCode = run.exitCode;
    result.warnings = run.err;
    std::istringstream lines(run.out);
    for (std::string line; std::getline(lines, line);) {
        std::map<std::string, std::string> fields;
        std::istringstream parts(line);
        for (std::string part; std::getline(parts, part, '|');) {
            const size_t equals = part.find('=');
            if (equals != std::string::npos) {
                fields[part.substr(0, equals)] = part.substr(equals + 1);
            }
        }
        result.streams.push_back(std::move(fields));
    }
    return result;
}

std::vector<std::string> pictureHashes(const fs::path& file, const std::string& inputFormat) {
    const std::string format = inputFormat.empty() ? "" : "-f " + inputFormat + " ";
    const ToolRun run = runTool("ffmpeg -hide_banner -nostdin -v error -threads 1 " + format +
                                "-i '" + file.string() + "' -map 0:v -f framemd5 -");
    std::vector<std::string> hashes;
    std::istringstream lines(run.out);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line[0] != '#') {
            hashes.push_back(line.substr(line.rfind(',') + 1));
        }
    }
    return hashes;
}

Bytes readFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void writeFile(const fs::path& file, const Bytes& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

uint32_t u32At(const Bytes& bytes, size_t position) {
    return static_cast<uint32_t>(bytes.at(position)) |
           static_cast<uint32_t>(bytes.at(position + 1)) << 8 |
           static_cast<uint32_t>(bytes.at(position + 2)) << 16 |
           static_cast<uint32_t>(bytes.at(position + 3)) << 24;
}

void putU32(Bytes& bytes, size_t position, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        bytes.at(position + static_cast<size_t>(i)) = static_cast<uint8_t>(value >> (8 * i));
    }
}

std::string codeText(uint32_t code) {
    std::string text;
    for (int i = 0; i < 4; ++i) {
        text += static_cast<char>((code >> (8 * i)) & 0xff);
    }
    return text;
}

} // namespace avitest
