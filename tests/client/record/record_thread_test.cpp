// The record thread: schedule recording by the weekly plan, alarm recording between the alarm's
// start and end, the day change, the settings message, and what the queue loses.

#include "RecordTestSupport.h"

#include "device/record/RecordNames.h"
#include "sys/MessageQueue.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

using namespace recordtest;
using Device::kRecordAlarm;
using Device::kRecordSchedule;

constexpr const char* kMac = "00:11:22:33:44:55";
// Quarters 40 … 43 of a day: 10:00 to 11:00.
constexpr std::array<uint32_t, 3> kTenToEleven{0, 0x00000f00u, 0};

class RecordThread : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(h264Frames().size(), 100u); }
    void TearDown() override {
        if (fixture.recorder)
            fixture.recorder->StopPlanThread();
    }

    // Tuesday (day 2) plans `schedule` and `alarm`; every other day nothing.
    void setPlan(const std::array<uint32_t, 3>& schedule, const std::array<uint32_t, 3>& alarm) {
        std::array<db::DayMasks, 7> days{};
        days[2].schedule = schedule;
        days[2].alarm = alarm;
        db::insertEmptyRecordPlan(fixture.database, kMac);
        db::updateRecordPlan(fixture.database, kMac, days, 1, 1);
    }
    void start(int classCode, bool alarm, bool schedule) {
        fixture.session.classCodeValue = classCode;
        fixture.makeRecorder();
        recorder().SetRecordEnable(alarm, schedule);
        ASSERT_TRUE(recorder().StartPlanThread(kMac));
    }
    Device::Recorder& recorder() { return *fixture.recorder; }
    fs::path folder() const { return Device::recordFolder(fixture.recordRoot, "192.168.1.64"); }
    // Waits until the thread took everything queued and finished the pass that took it.
    void settle() {
        ASSERT_TRUE(waitFor([&] { return recorder().queuedBytes() == 0; }));
        const int target = fixture.session.passes.load() + 2;
        ASSERT_TRUE(waitFor([&] { return fixture.session.passes.load() >= target; }));
    }
    bool writtenReaches(int kind, int frames) {
        return waitFor([&] { return recorder().framesWritten(kind) >= frames; });
    }
    bool closes(int kind) {
        return waitFor(
            [&] { return !recorder().IsRecording(kind) && recorder().currentFile(kind).empty(); });
    }
    // Event codes of the log table, in order, with their types, once `count` are there (a stop
    // event follows the close it reports).
    std::vector<std::pair<std::string, int>> eventCodes(size_t count) {
        EXPECT_TRUE(waitFor([&] { return fixture.events().size() >= count; }));
        std::vector<std::pair<std::string, int>> codes;
        for (const auto& row : fixture.events()) {
            EXPECT_EQ(row.ip, "192.168.1.64");
            codes.emplace_back(row.event, row.type);
        }
        return codes;
    }
    static std::vector<std::pair<std::string, int>>
    expected(std::initializer_list<std::pair<const char*, int>> list) {
        std::vector<std::pair<std::string, int>> codes;
        for (const auto& [code, type] : list)
            codes.emplace_back(code, type);
        return codes;
    }

    RecordFixture fixture;
};

TEST_F(RecordThread, ScheduleRecordsStrictlyInsideThePlan) {
    setPlan(kTenToEleven, {0, 0, 0});
    fixture.clock.setMinute(10, 0); // on the boundary: outside
    start(19, false, true);
    feedQueue(recorder(), h264Frames(), 0, 25, 25);
    settle();
    EXPECT_EQ(fixture.session.alarmAllowed.load(), 0);
    EXPECT_FALSE(recorder().IsRecording(kRecordSchedule));
    EXPECT_TRUE(aviFiles(folder()).empty());

    fixture.clock.setMinute(10, 1);
    settle();
    feedQueue(recorder(), h264Frames(), 25, 76, 25);
    ASSERT_TRUE(writtenReaches(kRecordSchedule, 51));
    settle();
    const fs::path file = recorder().currentFile(kRecordSchedule);
    EXPECT_EQ(file, folder() / "Schedule_20261208100100.avi");

    fixture.clock.setMinute(11, 0); // the end boundary: outside
    fixture.clock.advanceMs(2000);
    ASSERT_TRUE(closes(kRecordSchedule));
    feedQueue(recorder(), h264Frames(), 76, 100, 25);
    settle();
    EXPECT_EQ(aviFiles(folder()).size(), 1u);

    expectPlayable(file, "h264", 51, 51);
    const auto rows = fixture.rows();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].filetype, 1);
    EXPECT_EQ(eventCodes(2), expected({{"10", 11}, {"11", 11}}));
}

TEST_F(RecordThread, AlarmRecordsOnlyBetweenItsStartAndEnd) {
    setPlan({0, 0, 0}, kTenToEleven);
    start(19, true, false);
    feedQueue(recorder(), h264Frames(), 0, 25, 25);
    settle();
    EXPECT_EQ(fixture.session.alarmAllowed.load(), 1);
    EXPECT_TRUE(aviFiles(folder()).empty());

    ASSERT_TRUE(recorder().PostPlanMessage(Device::kMsgRecordAlarm, 0, 0));
    ASSERT_TRUE(waitFor([&] { return recorder().IsRecording(kRecordAlarm); }));
    feedQueue(recorder(), h264Frames(), 25, 76, 25);
    ASSERT_TRUE(writtenReaches(kRecordAlarm, 51));
    settle();
    const fs::path file = recorder().currentFile(kRecordAlarm);
    fixture.clock.advanceMs(2000);
    ASSERT_TRUE(recorder().PostPlanMessage(Device::kMsgRecordAlarm, 1, 0));
    ASSERT_TRUE(closes(kRecordAlarm));
    feedQueue(recorder(), h264Frames(), 76, 100, 25);
    settle();

    EXPECT_EQ(aviFiles(folder()), std::vector<fs::path>{file});
    expectPlayable(file, "h264", 51, 51);
    const auto rows = fixture.rows();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].filetype, 2);
    EXPECT_EQ(eventCodes(2), expected({{"12", 12}, {"13", 12}}));
    EXPECT_NE(fixture.appLogText().find("192.168.1.64 Alarming"), std::string::npos);
}

// An H.264 camera's alarm event starts the alarm recording (class 17 may record alarms at any
// minute) and the alarm timer, polled by the record thread, ends it.
TEST_F(RecordThread, CameraAlarmEndsWhenItsDurationRunsOut) {
    setPlan({0, 0, 0}, {0, 0, 0});
    int sounds = 0;
    fixture.session.classCodeValue = 17;
    Device::RecordServices services = fixture.services();
    services.alarmSound = [&] { ++sounds; };
    fixture.recorder = std::make_unique<Device::Recorder>(fixture.session, services);
    ASSERT_TRUE(recorder().StartPlanThread(kMac));
    EXPECT_FALSE(recorder().alarmEnabled());

    const uint8_t alarm[4] = {1, 0, 1, 3};
    recorder().onH264AlarmEvent(alarm, 4);
    EXPECT_EQ(sounds, 1);
    EXPECT_TRUE(recorder().alarmEnabled());
    EXPECT_TRUE(recorder().cameraRecordOnAlarm());
    ASSERT_TRUE(waitFor([&] { return recorder().IsRecording(kRecordAlarm); }));
    feedQueue(recorder(), h264Frames(), 0, 30, 25);
    ASSERT_TRUE(writtenReaches(kRecordAlarm, 30));
    settle();
    const fs::path file = recorder().currentFile(kRecordAlarm);

    fixture.clock.advanceMs(1999); // counts to 2 of 3
    settle();
    EXPECT_TRUE(recorder().IsRecording(kRecordAlarm));
    fixture.clock.advanceMs(1);
    ASSERT_TRUE(closes(kRecordAlarm));
    EXPECT_FALSE(recorder().cameraRecordOnAlarm());
    expectPlayable(file, "h264", 30, 30);
    EXPECT_EQ(eventCodes(2), expected({{"12", 12}, {"13", 12}}));
}

TEST_F(RecordThread, DayChangeReloadsThePlanUnlessACameraAlarmRecords) {
    setPlan(kTenToEleven, {0, 0, 0});
    start(17, true, true);
    // An alarm of duration 0 runs until the camera reports its end.
    const uint8_t alarm[4] = {1, 0, 1, 0};
    recorder().onH264AlarmEvent(alarm, 4);
    feedQueue(recorder(), h264Frames(), 0, 10, 25);
    ASSERT_TRUE(writtenReaches(kRecordSchedule, 10));
    ASSERT_TRUE(writtenReaches(kRecordAlarm, 10));

    Device::LocalTime wednesday{2026, 12, 9, 10, 15, 0, 3};
    fixture.clock.set(wednesday);
    fixture.clock.advanceMs(1000);
    settle();
    EXPECT_TRUE(recorder().IsRecording(kRecordSchedule)); // Tuesday's plan still holds

    const uint8_t quiet[4] = {0, 0, 0, 0};
    recorder().onH264AlarmEvent(quiet, 4); // ends the alarm; the flag stays as it was
    ASSERT_TRUE(closes(kRecordAlarm));
    EXPECT_TRUE(recorder().cameraRecordOnAlarm());
    settle();
    EXPECT_TRUE(recorder().IsRecording(kRecordSchedule));
    recorder().onH264AlarmEvent(quiet, 4); // a report while idle takes its flag
    EXPECT_FALSE(recorder().cameraRecordOnAlarm());
    ASSERT_TRUE(closes(kRecordSchedule)); // Wednesday plans nothing
    EXPECT_EQ(eventCodes(4), expected({{"10", 11}, {"12", 12}, {"13", 12}, {"11", 11}}));
}

TEST_F(RecordThread, StopClosesRecordingsWithTheirStopEvents) {
    setPlan(kTenToEleven, kTenToEleven);
    start(19, true, true);
    ASSERT_TRUE(recorder().PostPlanMessage(Device::kMsgRecordAlarm, 0, 0));
    ASSERT_TRUE(waitFor([&] { return recorder().IsRecording(kRecordAlarm); }));
    feedQueue(recorder(), h264Frames(), 0, 10, 25);
    ASSERT_TRUE(writtenReaches(kRecordSchedule, 10));
    ASSERT_TRUE(writtenReaches(kRecordAlarm, 10));
    fixture.clock.advanceMs(1000);
    recorder().StopPlanThread();
    EXPECT_FALSE(recorder().planThreadRunning());
    EXPECT_FALSE(recorder().IsRecording(kRecordSchedule));
    EXPECT_FALSE(recorder().IsRecording(kRecordAlarm));
    EXPECT_FALSE(recorder().PostPlanMessage(Device::kMsgRecordAlarm, 0, 0));
    EXPECT_EQ(aviFiles(folder()).size(), 2u);
    EXPECT_EQ(fixture.rows().size(), 2u);
    auto codes = eventCodes(4);
    ASSERT_EQ(codes.size(), 4u);
    std::sort(codes.begin(), codes.end());
    EXPECT_EQ(codes, expected({{"10", 11}, {"11", 11}, {"12", 12}, {"13", 12}}));
}

// The queue overflows while the thread is held: the frames lost go, the recording goes on with
// the next key frame, and the file decodes without a fault.
TEST_F(RecordThread, QueueOverflowDropsAndRecordingGoesOn) {
    setPlan(kTenToEleven, {0, 0, 0});
    start(17, false, true);
    feedQueue(recorder(), h264Frames(), 0, 11, 25);
    ASSERT_TRUE(writtenReaches(kRecordSchedule, 11));
    settle();
    fixture.session.closeGate();
    ASSERT_TRUE(waitFor([&] { return fixture.session.atGate.load() > 0; }));
    // Seven pictures of 300 000 bytes do not fit into 2 MiB: six are discarded with the write
    // buffer, the seventh is refused; the eighth follows the gap. None is a key frame, and
    // written into the recording any of them would break its decoding.
    avitest::Frame junk{avitest::Bytes(300000, 0x5a), false};
    junk.data[0] = 0;
    junk.data[1] = 0;
    junk.data[2] = 1;
    junk.data[3] = 0x41;
    for (int i = 0; i < 8; ++i) {
        const FRAME_HEAD head = headOf(junk, 25);
        recorder().queueFrame(ZQ_MEDIA_VIDEO, head, junk.data.data(), 300000, 320, 180);
    }
    EXPECT_EQ(recorder().queueDroppedFrames(), 7u);
    feedQueue(recorder(), h264Frames(), 11, 60, 25);
    fixture.session.openGate();
    ASSERT_TRUE(writtenReaches(kRecordSchedule, 11 + 35));
    settle();
    const fs::path file = recorder().currentFile(kRecordSchedule);
    fixture.clock.advanceMs(3000);
    recorder().StopPlanThread();
    // 0 … 10 before the gap; 11 … 24 wait for the key frame at 25; audio is never held back.
    expectPlayable(file, "h264", 46, 60);
    EXPECT_NE(fixture.appLogText().find("frame queue full: 7 frames dropped"), std::string::npos);
}

TEST_F(RecordThread, OversizeFrameIsRefusedAndRecordingGoesOn) {
    setPlan(kTenToEleven, {0, 0, 0});
    start(17, false, true);
    feedQueue(recorder(), h264Frames(), 0, 11, 25);
    ASSERT_TRUE(writtenReaches(kRecordSchedule, 11));
    settle();
    avitest::Frame big{avitest::Bytes(1536 * 1024, 0x33), false};
    const FRAME_HEAD head = headOf(big, 25);
    recorder().queueFrame(ZQ_MEDIA_VIDEO, head, big.data.data(), head.length, 320, 180);
    feedQueue(recorder(), h264Frames(), 11, 60, 25);
    ASSERT_TRUE(writtenReaches(kRecordSchedule, 11 + 35));
    settle();
    const fs::path file = recorder().currentFile(kRecordSchedule);
    fixture.clock.advanceMs(3000);
    recorder().StopPlanThread();
    expectPlayable(file, "h264", 46, 60);
    EXPECT_EQ(recorder().queueDroppedFrames(), 0u);
    EXPECT_NE(fixture.appLogText().find("frame of 1572864 bytes refused"), std::string::npos);
}

} // namespace
