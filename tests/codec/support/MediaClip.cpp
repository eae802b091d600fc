#include "MediaClip.h"

extern "C" {
#include <libavcodec/packet.h>
#include <libavformat/avformat.h>
}

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <unistd.h>

namespace clips {

namespace fs = std::filesystem;

namespace {

void removeWorkFolder() {
    std::error_code ignored;
    fs::remove_all(workFolder(), ignored);
}

} // namespace

fs::path workFolder() {
    static const fs::path folder = [] {
        fs::path path = fs::temp_directory_path() / ("vidora-clips-" + std::to_string(getpid()));
        fs::create_directories(path);
        return path;
    }();
    // Registered once the path exists, so it runs before the path is destroyed at exit.
    [[maybe_unused]] static const bool cleanup = std::atexit(removeWorkFolder) == 0;
    return folder;
}

bool runFfmpeg(const std::string& arguments) {
    const std::string command = "ffmpeg -hide_banner -nostdin -loglevel error -y " + arguments;
    return std::system(command.c_str()) == 0;
}

std::string makeClip(const ClipRecipe& recipe, const fs::path& file) {
    const std::string source = "-f lavfi -i testsrc2=size=" + std::to_string(recipe.width) + "x" +
                               std::to_string(recipe.height) + ":rate=25 -frames:v " +
                               std::to_string(recipe.frames);
    std::string encoder;
    if (recipe.codec == "h264") {
        encoder = "-c:v libx264 -preset veryfast -profile:v " + recipe.profile + " -pix_fmt " +
                  recipe.pixelFormat + " -g " + std::to_string(recipe.keyInterval) + " -f h264";
    } else {
        encoder = "-c:v mjpeg -q:v 4 -pix_fmt " + recipe.pixelFormat + " -f mjpeg";
    }
    if (!runFfmpeg(source + " " + encoder + " '" + file.string() + "'")) {
        return "ffmpeg could not make " + file.filename().string();
    }
    return {};
}

Clip readClip(const fs::path& file, const std::string& format) {
    Clip clip;
    AVFormatContext* input = nullptr;
    const AVInputFormat* demuxer = av_find_input_format(format.c_str());
    if (avformat_open_input(&input, file.c_str(), demuxer, nullptr) < 0) {
        return clip;
    }
    if (avformat_find_stream_info(input, nullptr) >= 0 && input->nb_streams > 0) {
        clip.width = input->streams[0]->codecpar->width;
        clip.height = input->streams[0]->codecpar->height;
    }
    AVPacket* packet = av_packet_alloc();
    while (packet != nullptr && av_read_frame(input, packet) >= 0) {
        clip.frames.emplace_back(packet->data, packet->data + packet->size);
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    avformat_close_input(&input);
    return clip;
}

std::vector<std::vector<uint8_t>> referencePictures(const fs::path& file, int width, int height,
                                                    const std::string& output) {
    const fs::path raw = fs::path(file).replace_extension(".yuv");
    if (!runFfmpeg("-threads 1 -i '" + file.string() + "' " + output + " -f rawvideo '" +
                   raw.string() + "'")) {
        return {};
    }
    const size_t pictureBytes = static_cast<size_t>(width) * height +
                                2 * static_cast<size_t>((width + 1) / 2) * ((height + 1) / 2);
    std::ifstream in(raw, std::ios::binary);
    std::vector<uint8_t> all((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
    std::vector<std::vector<uint8_t>> pictures;
    for (size_t at = 0; pictureBytes > 0 && at + pictureBytes <= all.size(); at += pictureBytes) {
        pictures.emplace_back(all.begin() + static_cast<std::ptrdiff_t>(at),
                              all.begin() + static_cast<std::ptrdiff_t>(at + pictureBytes));
    }
    return pictures;
}

ReferenceClip makeReferenceClip(const ClipRecipe& recipe, const std::string& output) {
    ReferenceClip result;
    const std::string name = recipe.codec + "-" + recipe.profile + "-" + recipe.pixelFormat + "-" +
                             std::to_string(recipe.width) + "x" + std::to_string(recipe.height) +
                             "-" + std::to_string(recipe.frames) + "-" +
                             std::to_string(recipe.keyInterval);
    const fs::path file = workFolder() / (name + (recipe.codec == "h264" ? ".h264" : ".mjpeg"));
    if (!fs::exists(file)) {
        result.error = makeClip(recipe, file);
        if (!result.error.empty()) {
            return result;
        }
    }
    result.clip = readClip(file, recipe.codec == "h264" ? "h264" : "mjpeg");
    result.pictures = referencePictures(file, recipe.width, recipe.height, output);
    if (result.clip.frames.empty() || result.pictures.empty()) {
        result.error = "could not read back " + file.filename().string();
    }
    return result;
}

} // namespace clips
