// The clean-up of a full record disk: oldest recordings first, only inside the record folders,
// until the disk has plenty of room; rows of vanished recordings go with it.

#include "PubFunTestSupport.h"

#include <algorithm>
#include <cstdio>

using namespace pubfuntest;
using client::CPubFun;

namespace {

constexpr uint64_t kRecording = 20 * kMiB;

// Day `day` of `month` 2026 at `time`, as the recorder writes dates.
std::string dateOf(int month, int day, const char* time) {
    char text[32];
    std::snprintf(text, sizeof text, "2026-%02d-%02d %s", month, day, time);
    return text;
}

std::vector<std::string> sorted(std::vector<std::string> names) {
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

TEST_F(PubFunTest, FullDiskLosesItsOldestRecordingsUntilPlentyAndNothingOutside) {
    MOUNT_OR_SKIP(disk, "disk", 700);
    const fs::path rec = disk / "rec";
    configure(rec.string(), rec.string());
    // Older than every recording, but outside the record folder: directly, and through a link
    // planted in the record folder.
    const fs::path outside =
        record(disk / "keep", "10.0.0.9", "Manual_1.avi", "2026-01-01 00:00:00", kRecording);
    fs::create_directories(rec);
    fs::create_directory_symlink(outside.parent_path(), rec / "Recordfiles_10.0.0.8");
    const fs::path throughLink = rec / "Recordfiles_10.0.0.8" / "Manual_1.avi";
    db::insertRecordFile(database, {"10.0.0.8", throughLink.string(), 0, "2026-01-01 00:00:01"});
    // Age order differs from name order and from insertion order.
    std::vector<fs::path> byAge(23);
    for (int i = 0; i < 23; ++i) {
        const int age = (i * 7) % 23;
        const std::string name = i == 3 ? "it's_" : "Schedule_";
        byAge[static_cast<size_t>(age)] =
            record(rec, i % 2 ? "10.0.0.1" : "10.0.0.2", name + std::to_string(100 - i) + ".avi",
                   dateOf(2, age + 1, "10:00:00"), kRecording);
    }
    // Deleted by hand, and newer than anything the clean-up reaches.
    fs::remove(record(rec, "10.0.0.1", "gone.avi", "2026-03-01 00:00:00", 0));

    const uint64_t before = freeBytes(disk);
    size_t expected = 0;
    while (before + expected * kRecording <= 512 * kMiB)
        ++expected;
    ASSERT_LT(before, 256 * kMiB);
    ASSERT_LT(expected, byAge.size());

    CPubFun& guard = make();
    ASSERT_TRUE(guard.SelectPathfromDB());
    std::string newPath;
    EXPECT_TRUE(guard.GetRecPath(newPath));
    EXPECT_EQ(newPath, rec.string());
    for (size_t age = 0; age < byAge.size(); ++age)
        EXPECT_EQ(fs::exists(byAge[age]), age >= expected) << byAge[age];
    EXPECT_TRUE(fs::exists(outside));
    EXPECT_GT(freeBytes(disk), 512 * kMiB);

    std::vector<std::string> left{outside.string()};
    for (size_t age = expected; age < byAge.size(); ++age)
        left.push_back(byAge[age].string());
    EXPECT_EQ(sorted(rows()), sorted(left));
    const std::string log = logText();
    EXPECT_NE(log.find("DELETE FILE " + throughLink.string() + " FROM DISK"), std::string::npos);
    EXPECT_NE(log.find("DELETE FILE FINISH: ret=0"), std::string::npos);
    EXPECT_NE(log.find("FREE DISK FINISH, Destination Path=" + rec.string()), std::string::npos);
}

TEST_F(PubFunTest, CleanUpCarriesOnIntoTheNextPage) {
    MOUNT_OR_SKIP(disk, "disk", 600);
    const fs::path rec = disk / "rec";
    configure(rec.string(), rec.string());
    // A first page and more of rows whose files are gone, older than the real recordings.
    {
        sqlite3x::sqlite3_transaction transaction(database);
        for (int i = 0; i < db::kRecordFilePage + 10; ++i)
            db::insertRecordFile(
                database,
                {"10.0.0.1",
                 (rec / "Recordfiles_10.0.0.1" / ("lost" + std::to_string(i) + ".avi")).string(), 1,
                 "2026-01-01 00:00:00"});
        transaction.commit();
    }
    std::vector<fs::path> real;
    for (int day = 1; day <= 5; ++day)
        real.push_back(record(rec, "10.0.0.1", "Alarm_" + std::to_string(day) + ".avi",
                              dateOf(2, day, "00:00:00"), kRecording));
    // 500 MiB free: one recording less makes it plenty.
    ASSERT_TRUE(fillTo(disk, 500 * kMiB));

    CPubFun& guard = make();
    ASSERT_TRUE(guard.SelectPathfromDB());
    std::string newPath;
    guard.DeleteOldFile(newPath);
    EXPECT_EQ(newPath, rec.string());
    EXPECT_FALSE(fs::exists(real[0]));
    std::vector<std::string> left;
    for (size_t i = 1; i < real.size(); ++i) {
        EXPECT_TRUE(fs::exists(real[i])) << real[i];
        left.push_back(real[i].string());
    }
    EXPECT_EQ(sorted(rows()), sorted(left));
}
