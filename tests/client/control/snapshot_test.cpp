// Snapshots land as the camera sent them, one file per picture, and ffprobe reads them as JPEG.

#include "ControlTestSupport.h"

#include "camsim/JpegEncoder.h"
#include "common/AppLog.h"
#include "device/control/SnapshotWriter.h"

#include <ctime>
#include <fstream>
#include <iterator>
#include <set>

namespace {

namespace fs = std::filesystem;
using Device::SnapshotWriter;

std::vector<uint8_t> jpeg(int index) {
    return camsim::encodeJpeg(camsim::drawTestPicture(320, 240, index));
}

std::string contents(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool holds(const fs::path& path, const std::vector<uint8_t>& bytes) {
    return contents(path) == std::string(bytes.begin(), bytes.end());
}

// 2026-12-08 at the given local time.
std::chrono::system_clock::time_point localTime(int hour, int minute, int second) {
    std::tm t{};
    t.tm_year = 126;
    t.tm_mon = 11;
    t.tm_mday = 8;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    t.tm_isdst = -1;
    return std::chrono::system_clock::from_time_t(std::mktime(&t));
}

TEST(Snapshot, ThePictureLandsUnchangedInTheCamerasFolderAndDecodes) {
    const fs::path root = controltest::scratchDir("pictures") / "missing";
    EXPECT_EQ(SnapshotWriter::folderFor(root, "../x\\y").parent_path(), root);
    const auto picture = jpeg(3);
    const auto path = SnapshotWriter().write(
        SnapshotWriter::folderFor(root, "192.168.1.20"), picture.data(), picture.size(),
        localTime(16, 58, 10) + std::chrono::milliseconds(730));
    ASSERT_TRUE(path);
    EXPECT_EQ(*path, root / "Images_192.168.1.20" / "20261208165810.jpg");
    EXPECT_TRUE(holds(*path, picture));
    EXPECT_EQ(controltest::run("ffprobe -v error -show_entries stream=codec_name,width,height "
                               "-of csv=p=0 '" +
                               path->string() + "'"),
              "mjpeg,320,240\n");
}

TEST(Snapshot, PicturesOfOneSecondEachKeepTheirOwnFile) {
    const fs::path folder = controltest::scratchDir("second") / "Images_cam";
    const auto when = localTime(3, 4, 5);
    constexpr int kPictures = 6;
    std::vector<std::vector<uint8_t>> pictures;
    for (int i = 0; i < kPictures; ++i)
        pictures.push_back(jpeg(i));
    // The first alone, the others from several sessions at once.
    const SnapshotWriter writer;
    std::vector<std::optional<fs::path>> paths(kPictures);
    paths[0] = writer.write(folder, pictures[0].data(), pictures[0].size(), when);
    std::vector<std::thread> threads;
    for (int i = 1; i < kPictures; ++i)
        threads.emplace_back([&, i] {
            paths[i] = writer.write(folder, pictures[i].data(), pictures[i].size(), when);
        });
    for (auto& thread : threads)
        thread.join();

    ASSERT_TRUE(paths[0]);
    EXPECT_EQ(paths[0]->filename(), "20261208030405.jpg");
    std::set<fs::path> distinct;
    for (int i = 0; i < kPictures; ++i) {
        ASSERT_TRUE(paths[i]);
        distinct.insert(*paths[i]);
        EXPECT_TRUE(holds(*paths[i], pictures[i])) << *paths[i];
    }
    EXPECT_EQ(distinct.size(), static_cast<size_t>(kPictures));
    EXPECT_TRUE(distinct.count(folder / "20261208030405_5.jpg"));
}

TEST(Snapshot, WhatCannotBeWrittenIsDroppedAndLogged) {
    auto log = client::AppLog::open(controltest::scratchDir("log"));
    ASSERT_TRUE(log);
    const SnapshotWriter writer(log.get());
    const fs::path root = controltest::scratchDir("dropped");
    const auto picture = jpeg(5);
    std::ofstream(root / "Images_file") << "a file where the folder should be";
    EXPECT_FALSE(writer.write(root / "Images_file", picture.data(), picture.size()));
    EXPECT_FALSE(writer.write(root / "ok", picture.data(), 0));
    const std::vector<uint8_t> huge(SnapshotWriter::kMaxBytes + 1, 0xFF);
    EXPECT_FALSE(writer.write(root / "ok", huge.data(), huge.size()));
    EXPECT_TRUE(!fs::exists(root / "ok") || fs::is_empty(root / "ok"));

    const std::string text = contents(log->path());
    size_t lines = 0;
    for (size_t at = 0; (at = text.find("snapshot dropped", at)) != std::string::npos; ++at)
        ++lines;
    EXPECT_EQ(lines, 3u) << text;
}

} // namespace
