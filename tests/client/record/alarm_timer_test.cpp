// Camera alarms: the H.264 alarm timer driven by ticks, and the MJPEG alarm rule.

#include "device/record/AlarmTimer.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Device::AlarmTimer;

class AlarmTimerTest : public testing::Test {
protected:
    AlarmTimer timer{{[this] { ++started; }, [this](int wParam) { posted.push_back(wParam); }}};
    int started = 0;
    std::vector<int> posted;
};

TEST_F(AlarmTimerTest, AlarmLastsItsDurationInSeconds) {
    const uint8_t alarm[4] = {1, 0, 1, 5};
    timer.onEvent(alarm, 4, 10000);
    EXPECT_EQ(started, 1);
    EXPECT_EQ(posted, std::vector<int>{0});
    EXPECT_TRUE(timer.recordOnAlarm());
    timer.poll(13999); // counts 2, 3, 4
    EXPECT_TRUE(timer.running());
    EXPECT_EQ(timer.secondsCounted(), 4);
    timer.poll(14000); // 5 = the duration
    EXPECT_FALSE(timer.running());
    EXPECT_FALSE(timer.recordOnAlarm());
    EXPECT_EQ(posted, (std::vector<int>{0, 1}));
    timer.poll(60000);
    EXPECT_EQ(posted.size(), 2u);
}

TEST_F(AlarmTimerTest, AlarmOfOneSecondOrLessEndsOnlyWithTheCamerasReport) {
    for (uint8_t duration : {uint8_t{0}, uint8_t{1}}) {
        posted.clear();
        const uint8_t alarm[4] = {1, 0, 1, duration};
        timer.onEvent(alarm, 4, 0);
        timer.poll(3600 * 1000);
        EXPECT_TRUE(timer.running()) << int{duration};
        EXPECT_EQ(posted, std::vector<int>{0});
        const uint8_t quiet[4] = {0, 0, 1, duration};
        timer.onEvent(quiet, 4, 3600 * 1000 + 1);
        EXPECT_FALSE(timer.running());
        EXPECT_EQ(posted, (std::vector<int>{0, 1}));
    }
}

// While the alarm runs, further alarm reports change nothing; one with the second state set
// ends it.
TEST_F(AlarmTimerTest, RepeatedReportsKeepTheTimerAndSecondStateEndsIt) {
    const uint8_t alarm[4] = {1, 0, 1, 30};
    timer.onEvent(alarm, 4, 0);
    timer.poll(1000);
    timer.onEvent(alarm, 4, 1500);
    EXPECT_EQ(started, 1);
    EXPECT_EQ(timer.secondsCounted(), 2);
    const uint8_t second[2] = {1, 1};
    timer.onEvent(second, 2, 1600);
    EXPECT_FALSE(timer.running());
    EXPECT_EQ(posted, (std::vector<int>{0, 1}));
}

TEST_F(AlarmTimerTest, AlarmWithoutTheRecordFlagStartsNothing) {
    const uint8_t noFlag[4] = {1, 0, 0, 30};
    timer.onEvent(noFlag, 4, 0);
    const uint8_t second[4] = {1, 1, 1, 30};
    timer.onEvent(second, 4, 0);
    EXPECT_TRUE(timer.recordOnAlarm()); // taken from the last report
    EXPECT_FALSE(timer.running());
    EXPECT_EQ(started, 0);
    EXPECT_TRUE(posted.empty());
    timer.onEvent(noFlag, 1, 0); // too short to read
    EXPECT_TRUE(timer.recordOnAlarm());
}

TEST_F(AlarmTimerTest, ShortReportMeansFlagSetAndThirtySeconds) {
    const uint8_t alarm[2] = {2, 0};
    timer.onEvent(alarm, 2, 0);
    EXPECT_TRUE(timer.running());
    EXPECT_EQ(timer.durationSeconds(), 30);
    timer.poll(28999);
    EXPECT_TRUE(timer.running());
    timer.poll(29000);
    EXPECT_FALSE(timer.running());
    EXPECT_EQ(posted, (std::vector<int>{0, 1}));
}

TEST(MjpegAlarm, FirstByteSaysStartOrEnd) {
    uint8_t report[23] = {};
    EXPECT_EQ(Device::mjpegAlarmMessage(report, 23), 1);
    for (uint8_t state : {uint8_t{1}, uint8_t{2}, uint8_t{3}}) {
        report[0] = state;
        EXPECT_EQ(Device::mjpegAlarmMessage(report, 23), 0);
    }
    report[0] = 4;
    EXPECT_EQ(Device::mjpegAlarmMessage(report, 23), -1);
    report[0] = 1;
    EXPECT_EQ(Device::mjpegAlarmMessage(report, 22), -1);
    EXPECT_EQ(Device::mjpegAlarmMessage(nullptr, 23), -1);
}

} // namespace
