// The record-disk guard with a live session recording: real small file systems (tmpfs, as root),
// a simulated camera, the session's own record thread.

#include "AviTestSupport.h"
#include "PubFunTestSupport.h"
#include "SessionTestSupport.h"
#include "device/record/RecordNames.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using namespace pubfuntest;

namespace {

std::vector<fs::path> recordingsIn(const fs::path& folder) {
    std::vector<fs::path> found;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error))
        if (entry.path().extension() == ".avi")
            found.push_back(entry.path());
    std::sort(found.begin(), found.end());
    return found;
}

class SessionDisk : public PubFunTest {
protected:
    void TearDown() override {
        session.reset();
        camera.stop();
        if (pubFun)
            pubFun->StopWatch();
        PubFunTest::TearDown();
    }

    void openSession() {
        environment.pubFun = pubFun.get();
        environment.record.database = &database;
        environment.record.databaseLock = &databaseLock;
        const auto ports = sessiontest::startLoopbackH264(camera);
        ASSERT_TRUE(ports);
        session = sessiontest::openSession(environment, Device::kClassH264, "127.0.0.1",
                                           ports->port, ports->webPort);
        ASSERT_TRUE(waitUntil([&] { return session->online(); }, 10000));
    }

    Device::DeviceEnvironment environment;
    camsim::H264Camera camera;
    std::unique_ptr<Device::CSigleDevice> session;
};

// The first folder fills up: within about three seconds the recording goes on in a new file in
// the second folder, and the file cut short in the first is closed, playable and entered.
TEST_F(SessionDisk, ARunningRecordingMovesToTheSecondFolderWhenTheFirstFills) {
    MOUNT_OR_SKIP(first, "first", 300);
    MOUNT_OR_SKIP(second, "second", 300);
    configure(first.string() + "|" + second.string(), first.string());
    ASSERT_TRUE(make().SelectPathfromDB());
    ASSERT_NO_FATAL_FAILURE(openSession());
    ASSERT_TRUE(pubFun->StartWatch());
    ASSERT_TRUE(session->StartManualRecord());
    ASSERT_TRUE(waitUntil([&] { return session->recorder().framesWritten(0) >= 25; }, 10000));

    // The recording keeps writing, so the free space cannot be set exactly: well under the
    // floor is what counts.
    const uint64_t freeNow = freeBytes(first);
    ASSERT_GT(freeNow, 200 * kMiB);
    ASSERT_TRUE(writeFile(first / "filler.bin", freeNow - 200 * kMiB));
    ASSERT_LT(freeBytes(first), 256 * kMiB);
    const fs::path moved = Device::recordFolder(second.string(), "127.0.0.1");
    ASSERT_TRUE(waitUntil([&] { return !recordingsIn(moved).empty(); }, 8000))
        << "recording did not move to " << moved;
    EXPECT_TRUE(session->IsRecording()) << "the move stopped the recording";
    const auto firstFiles = recordingsIn(Device::recordFolder(first.string(), "127.0.0.1"));
    ASSERT_EQ(firstFiles.size(), 1u);
    EXPECT_FALSE(fs::exists(firstFiles.front().string() + "_idx")) << "the cut file was left open";
    const auto probe = avitest::probe(firstFiles.front());
    EXPECT_EQ(probe.exitCode, 0) << probe.warnings;

    // The new file receives frames; closing it enters it beside the first.
    const int before = session->recorder().framesWritten(0);
    ASSERT_TRUE(waitUntil([&] { return session->recorder().framesWritten(0) >= before + 25; },
                          10000));
    session->CloseRecord(0);
    std::lock_guard lock(databaseLock);
    const auto names = rows();
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(fs::path(names[0]), firstFiles.front());
    EXPECT_EQ(fs::path(names[1]).parent_path(), moved);
}

} // namespace
