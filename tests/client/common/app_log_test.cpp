#include "common/AppLog.h"

#include <gtest/gtest.h>

#include <fstream>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct ParsedLine {
    std::string function;
    std::string file;
    std::string message;
};

// Splits "[YYYY-MM-DD:hh:mm:ss.mmm][line N at function(file)] message\r"; false when the line
// does not have that shape.
bool parseLine(const std::string& line, ParsedLine& out) {
    int year, month, day, hour, minute, second, millis, number, consumed = 0;
    char dash1, dash2;
    if (std::sscanf(line.c_str(), "[%4d%c%2d%c%2d:%2d:%2d:%2d.%3d][line %d at %n", &year, &dash1,
                    &month, &dash2, &day, &hour, &minute, &second, &millis, &number,
                    &consumed) != 10 ||
        dash1 != '-' || dash2 != '-' || consumed == 0 || line.size() < 25 || line[11] != ':' ||
        line[20] != '.' || line.back() != '\r') {
        return false;
    }
    const std::string rest = line.substr(static_cast<size_t>(consumed), line.size() - 1 - consumed);
    const size_t close = rest.find(")] ");
    const size_t open = rest.rfind('(', close);
    if (close == std::string::npos || open == std::string::npos) {
        return false;
    }
    out = {rest.substr(0, open), rest.substr(open + 1, close - open - 1), rest.substr(close + 3)};
    return true;
}

class LogFolder : public testing::Test {
protected:
    void SetUp() override {
        folder = fs::temp_directory_path() /
                 ("applog-" + std::to_string(getpid()) + "-" +
                  testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder);
        fs::create_directories(folder);
    }
    void TearDown() override { fs::remove_all(folder); }

    std::vector<std::string> lines(const fs::path& file) {
        std::ifstream in(file, std::ios::binary);
        std::vector<std::string> out;
        for (std::string line; std::getline(in, line);) {
            out.push_back(line);
        }
        return out;
    }

    fs::path folder;
};

} // namespace

TEST_F(LogFolder, LinesCarryUtcTimeLineFunctionAndFile) {
    auto log = client::AppLog::open(folder);
    ASSERT_NE(log, nullptr);
    EXPECT_TRUE(client::isLogFileName(log->path().filename().string()));
    EXPECT_EQ(fs::status(log->path()).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write)
        << "the log names cameras and operators";
    LOG_WRITE(log.get(), "CPubFun::GetRecPath", "no record path");
    client::logWrite(17, "/src/client/device/SigleDevice.cpp", log.get(), "start",
                     "Device::CSigleDevice::StartRecord");
    const auto written = lines(log->path());
    ASSERT_EQ(written.size(), 2u);
    // A colon between date and hour, milliseconds after a dot, CR LF line ends.
    ParsedLine parsed;
    ASSERT_TRUE(parseLine(written[1], parsed)) << written[1];
    EXPECT_EQ(parsed.function, "Device::CSigleDevice::StartRecord");
    EXPECT_EQ(parsed.file, "SigleDevice.cpp");
    EXPECT_EQ(parsed.message, "start");
    ASSERT_TRUE(parseLine(written[0], parsed)) << written[0];
    EXPECT_EQ(parsed.function, "CPubFun::GetRecPath");
    EXPECT_EQ(parsed.file, "app_log_test.cpp");
    EXPECT_FALSE(parseLine("[2026-12-08 10:00:00.123][line 1 at f(x.cpp)] m\r", parsed))
        << "a blank between date and hour is not our format";
}

TEST_F(LogFolder, NoFolderMeansNoLogAndWritingToItIsHarmless) {
    EXPECT_EQ(client::AppLog::open(folder / "missing"), nullptr);
    EXPECT_FALSE(fs::exists(folder / "missing")) << "the folder is never created";
    client::logWrite(1, "x.cpp", nullptr, "dropped", "f");
}

TEST_F(LogFolder, LinesOfManyThreadsNeverInterleave) {
    auto log = client::AppLog::open(folder);
    ASSERT_NE(log, nullptr);
    std::vector<std::thread> writers;
    for (int t = 0; t < 8; ++t) {
        writers.emplace_back([&, t] {
            const std::string message(200, static_cast<char>('a' + t));
            for (int i = 0; i < 300; ++i) {
                client::logWrite(i, "w.cpp", log.get(), message, "writer");
            }
        });
    }
    for (auto& writer : writers) {
        writer.join();
    }
    const auto written = lines(log->path());
    ASSERT_EQ(written.size(), 8u * 300);
    for (const std::string& line : written) {
        const size_t at = line.find("] ");
        ASSERT_NE(at, std::string::npos);
        const std::string message = line.substr(at + 2, 200);
        EXPECT_EQ(message, std::string(200, message[0])) << line;
    }
}

TEST_F(LogFolder, CleanUpKeepsTheNewestRunsAndLeavesOtherFiles) {
    const std::vector<std::string> names = {"CMS_20260101000000000.log",
                                            "CMS_20260102000000000.log",
                                            "CMS_20260103000000000.log",
                                            "CMS_20260104000000000.log",
                                            "CMS_2026010a.log",
                                            "CMS_1.txt",
                                            "XCMS_1.log",
                                            "notes.log"};
    for (const auto& name : names) {
        std::ofstream(folder / name) << "x";
    }
    const fs::path current = folder / "CMS_20260105000000000.log";
    std::ofstream(current) << "now";
    EXPECT_EQ(client::removeOldLogs(folder, current, 2), 2);
    EXPECT_FALSE(fs::exists(folder / "CMS_20260101000000000.log"));
    EXPECT_FALSE(fs::exists(folder / "CMS_20260102000000000.log"));
    for (const char* kept :
         {"CMS_20260103000000000.log", "CMS_20260104000000000.log", "CMS_20260105000000000.log",
          "CMS_2026010a.log", "CMS_1.txt", "XCMS_1.log", "notes.log"}) {
        EXPECT_TRUE(fs::exists(folder / kept)) << kept;
    }
    EXPECT_EQ(client::logFileName(0), "CMS_19700101000000000.log");
    EXPECT_EQ(client::logFileName(1765212345678), "CMS_20251208164545678.log");
}
