// The free-space floor, the watch that moves recording or closes the gate, the open-session
// registry and the folder settings.

#include "PubFunTestSupport.h"

#include "device/Disk.h"

#include <atomic>
#include <condition_variable>

using namespace pubfuntest;
using namespace std::chrono_literals;
using client::CPubFun;

namespace {

constexpr uint32_t kPlenty = CPubFun::kPlentyExtraBytes;

// A session as the guard sees it; it can be made to hold inside a call.
class SessionDouble : public Device::RecordPathListener {
public:
    void ChangeRecordPath(const std::string& recordRoot) override {
        std::unique_lock guard(m_lock);
        m_roots.push_back(recordRoot);
        m_released.wait(guard, [&] { return !m_holding; });
    }
    std::vector<std::string> roots() {
        std::lock_guard guard(m_lock);
        return m_roots;
    }
    void hold(bool holding) {
        {
            std::lock_guard guard(m_lock);
            m_holding = holding;
        }
        m_released.notify_all();
    }

private:
    std::mutex m_lock;
    std::condition_variable m_released;
    std::vector<std::string> m_roots;
    bool m_holding = false;
};

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

} // namespace

TEST(FreeSpaceFloor, ExactlyTheFloorIsNotEnoughOneByteMoreIs) {
    using client::disk::isAboveFloor;
    using client::disk::spaceFromBlocks;
    EXPECT_FALSE(isAboveFloor(268435456, 0));
    EXPECT_TRUE(isAboveFloor(268435457, 0));
    EXPECT_FALSE(isAboveFloor(536870912, kPlenty));
    EXPECT_TRUE(isAboveFloor(536870913, kPlenty));
    // statvfs stand-ins: one-byte fragments reach the byte boundary; a 4 TiB disk must not wrap.
    EXPECT_FALSE(isAboveFloor(spaceFromBlocks(1u << 30, 268435456, 1).freeBytes, 0));
    EXPECT_TRUE(isAboveFloor(spaceFromBlocks(1u << 30, 268435457, 1).freeBytes, 0));
    EXPECT_EQ(spaceFromBlocks(1u << 30, 1u << 30, 4096).freeBytes, 4ull << 40);
    // In 32 bits this extra plus the floor wraps to 0 and a 1 GiB disk would pass.
    EXPECT_FALSE(isAboveFloor(1ull << 30, 0xF0000000u));
}

TEST_F(PubFunTest, FreeSpaceBoundariesOnARealDisk) {
    MOUNT_OR_SKIP(disk, "disk", 600);
    CPubFun& guard = make();
    const std::string path = disk.string();
    ASSERT_TRUE(fillTo(disk, 256 * kMiB));
    EXPECT_FALSE(guard.IsEnoughFreeDisk(path, 0));
    EXPECT_TRUE(contains(logText(),
                         "DISK " + path + " STATUS:TOT BYTES=629145600, TOT FREE BYTES=268435456"));
    ASSERT_TRUE(fillTo(disk, 256 * kMiB + 4096));
    EXPECT_TRUE(guard.IsEnoughFreeDisk(path, 0));
    EXPECT_FALSE(guard.IsEnoughFreeDisk(path, kPlenty));
    ASSERT_TRUE(fillTo(disk, 512 * kMiB));
    EXPECT_FALSE(guard.IsEnoughFreeDisk(path, kPlenty));
    ASSERT_TRUE(fillTo(disk, 512 * kMiB + 4096));
    EXPECT_TRUE(guard.IsEnoughFreeDisk(path, kPlenty));
    EXPECT_FALSE(fs::exists(disk / CPubFun::kProbeFileName));
}

TEST_F(PubFunTest, MissingFolderHasNoRoomAndAStaleProbeIsCleared) {
    CPubFun& guard = make();
    EXPECT_FALSE(guard.IsEnoughFreeDisk("", 0));
    EXPECT_FALSE(guard.IsEnoughFreeDisk((folder() / "absent").string(), 0));
    EXPECT_TRUE(contains(logText(), "Disk not exist or no write privilege"));
    // What a crash between creating and removing the probe leaves behind.
    ASSERT_TRUE(writeFile(folder() / CPubFun::kProbeFileName, 10));
    guard.IsEnoughFreeDisk(folder().string(), 0); // room or not, the folder is probed
    EXPECT_FALSE(fs::exists(folder() / CPubFun::kProbeFileName));
}

TEST_F(PubFunTest, FullDiskMovesRecordingToTheOtherFolderWithinThreeSeconds) {
    MOUNT_OR_SKIP(first, "first", 300);
    MOUNT_OR_SKIP(second, "second", 300);
    configure(first.string() + "|" + second.string(), first.string());
    CPubFun& guard = make(); // the real 1 s watch and 2 s pause
    ASSERT_TRUE(guard.SelectPathfromDB());
    SessionDouble session;
    guard.AddOpenSession(&session);
    guard.AddOpenSession(&session);
    ASSERT_TRUE(guard.StartWatch());
    std::this_thread::sleep_for(1200ms);
    EXPECT_TRUE(guard.bEnoughFreeDisk);
    EXPECT_TRUE(session.roots().empty());

    ASSERT_TRUE(fillTo(first, 200 * kMiB));
    const auto filled = std::chrono::steady_clock::now();
    ASSERT_TRUE(waitUntil([&] { return !session.roots().empty(); }, 6000));
    const auto took = std::chrono::steady_clock::now() - filled;
    EXPECT_GE(took, 2000ms);
    EXPECT_LE(took, 5000ms);
    EXPECT_EQ(session.roots(), std::vector<std::string>{second.string()});
    EXPECT_EQ(guard.GetRecordPath(), second.string());
    EXPECT_EQ(db::selectConfig(database, "recordpath"), second.string());
    EXPECT_TRUE(guard.bEnoughFreeDisk);
    const std::string text = logText();
    EXPECT_TRUE(contains(text, "FOUND PATH:" + second.string()));
    EXPECT_TRUE(contains(text, "CHANGE DISK SUCCESS:" + first.string() + "==>" + second.string()));

    const auto stopping = std::chrono::steady_clock::now();
    EXPECT_TRUE(guard.StopWatch());
    EXPECT_LT(std::chrono::steady_clock::now() - stopping, 500ms);
}

TEST_F(PubFunTest, ReadOnlyOnlyFolderClosesTheGateUntilItIsWritable) {
    MOUNT_OR_SKIP(disk, "disk", 300);
    configure(disk.string(), disk.string());
    CPubFun& guard = make({50, 100, {}});
    ASSERT_TRUE(guard.SelectPathfromDB());
    SessionDouble session;
    guard.AddOpenSession(&session);
    ASSERT_TRUE(guard.StartWatch());
    ASSERT_TRUE(setReadOnly(disk, true));
    EXPECT_TRUE(waitUntil([&] { return !guard.bEnoughFreeDisk; }, 2000));
    EXPECT_TRUE(contains(logText(), "Disk not exist or no write privilege"));
    // Sessions are told to stay, so their recordings restart once the gate opens.
    ASSERT_TRUE(waitUntil([&] { return !session.roots().empty(); }, 2000));
    EXPECT_EQ(session.roots().front(), disk.string());
    ASSERT_TRUE(setReadOnly(disk, false));
    EXPECT_TRUE(waitUntil([&] { return guard.bEnoughFreeDisk.load(); }, 2000));
    guard.RemoveOpenSession(&session);
}

TEST_F(PubFunTest, RemovingASessionWaitsForItsRunningCall) {
    const std::string absent = (folder() / "absent").string();
    configure(absent, absent); // no room: every look tells the sessions
    CPubFun& guard = make({20, 50, {}});
    ASSERT_TRUE(guard.SelectPathfromDB());
    SessionDouble session;
    session.hold(true);
    guard.AddOpenSession(&session);
    ASSERT_TRUE(guard.StartWatch());
    ASSERT_TRUE(waitUntil([&] { return session.roots().size() == 1; }, 2000));
    EXPECT_FALSE(guard.bEnoughFreeDisk);

    std::atomic<bool> removed{false};
    std::thread remover([&] {
        guard.RemoveOpenSession(&session);
        removed = true;
    });
    std::this_thread::sleep_for(200ms);
    EXPECT_FALSE(removed);
    session.hold(false);
    remover.join();
    const size_t calls = session.roots().size();
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(session.roots().size(), calls);
}

TEST_F(PubFunTest, CurrentFolderFollowsTheConfiguredList) {
    const fs::path fallback = folder() / "data" / "records";
    CPubFun& guard = make({1000, 2000, fallback});
    // Nothing configured: the data folder's records folder, made on the spot.
    ASSERT_TRUE(guard.SelectPathfromDB());
    EXPECT_EQ(guard.GetRecordPath(), fallback.string());
    EXPECT_TRUE(fs::is_directory(fallback));
    EXPECT_EQ(db::selectConfig(database, "recordpath"), fallback.string());

    configure("/r/a/|/r/b", "/r/a");
    ASSERT_TRUE(guard.SelectPathfromDB());
    EXPECT_EQ(guard.GetRecordPath(), "/r/a"); // the trailing separator makes no other folder
    EXPECT_EQ(db::selectConfig(database, "recordpath"), "/r/a");
    EXPECT_EQ(guard.GetAutoLogPath(), "/logs");
    EXPECT_EQ(guard.GetPicturePath(), "/pictures");
    EXPECT_EQ(guard.SelectRecordPathListFromDb(), (std::vector<std::string>{"/r/a/", "/r/b"}));

    ASSERT_TRUE(guard.SaveRecordPathToDb("/r/c"));
    ASSERT_TRUE(guard.SelectPathfromDB());
    EXPECT_EQ(guard.GetRecordPath(), "/r/a/");
    EXPECT_EQ(guard.SelectConfigFromDb("recordpath"), "/r/a/");
}

TEST_F(PubFunTest, DatabaseFailuresAreReportedAndLogged) {
    CPubFun& guard = make();
    database.close();
    testing::internal::CaptureStderr();
    EXPECT_FALSE(guard.SelectPathfromDB());
    EXPECT_FALSE(guard.SaveRecordPathToDb("/r/a"));
    EXPECT_FALSE(guard.SelectRecordPathFromDb());
    std::string newPath;
    guard.DeleteOldFile(newPath);
    EXPECT_TRUE(newPath.empty());
    EXPECT_TRUE(contains(testing::internal::GetCapturedStderr(), "Exception Occured: "));
    const std::string text = logText();
    for (const char* function : {"CPubFun::SelectPathfromDB", "CPubFun::SaveRecordPathToDb",
                                 "CPubFun::SelectRecordPathFromDb", "CPubFun::DeleteOldFile"})
        EXPECT_TRUE(contains(text, std::string(function) + "(PubFun.cpp)] DATABASE FAIL"))
            << function;
}
