// The weekly plan: day values to intervals, and the strict inside test.

#include "device/record/RecordPlan.h"

#include <gtest/gtest.h>

namespace {

using Device::PlanInterval;

TEST(RecordPlan, AllOnesScheduleIsTheWholeDayAndZeroAlarmIsNothing) {
    const auto day = Device::dayIntervals("4294967295,4294967295,4294967295-0,0,0");
    ASSERT_EQ(day.schedule.size(), 1u);
    EXPECT_EQ(day.schedule[0], (PlanInterval{0, 1440}));
    EXPECT_TRUE(day.alarm.empty());
}

TEST(RecordPlan, RunsOfQuartersBecomeIntervalsAcrossWordBoundaries) {
    // Quarters 0-1 (00:00-00:30), 31-33 crossing into word 1 (07:45-08:30), 95 (23:45-24:00).
    const std::array<uint32_t, 3> words{0x80000003u, 0x00000003u, 0x80000000u};
    const std::vector<PlanInterval> expected{{0, 30}, {465, 510}, {1425, 1440}};
    EXPECT_EQ(Device::intervalsOfWords(words), expected);
    // The alarm half reads the same way.
    const auto day = Device::dayIntervals("0,0,0-2147483651,3,2147483648");
    EXPECT_TRUE(day.schedule.empty());
    EXPECT_EQ(day.alarm, expected);
}

TEST(RecordPlan, MinutesOnABoundaryAreOutside) {
    const std::vector<PlanInterval> plan{{600, 660}, {1425, 1440}};
    EXPECT_FALSE(Device::insideAny(plan, 600));
    EXPECT_TRUE(Device::insideAny(plan, 601));
    EXPECT_TRUE(Device::insideAny(plan, 659));
    EXPECT_FALSE(Device::insideAny(plan, 660));
    EXPECT_FALSE(Device::insideAny(plan, 1425));
    EXPECT_TRUE(Device::insideAny(plan, 1439));
    EXPECT_FALSE(Device::insideAny({}, 700));
    // A whole day leaves out its first minute (00:00).
    EXPECT_FALSE(Device::insideAny({{0, 1440}}, 0));
}

TEST(RecordPlan, NumbersAreReadAs64BitAndKeepTheirLow32Bits) {
    using Words = std::array<uint32_t, 6>;
    EXPECT_EQ(Device::parseDayWords("4294967296,4294967297,8589934595-1,2,3"),
              (Words{0, 1, 3, 1, 2, 3}));
    // Beyond 64 bits the reading saturates: all ones in the low half.
    EXPECT_EQ(Device::parseDayWords("99999999999999999999999,0,0-0,0,0")[0], 0xffffffffu);
    // Blanks before a number, text after it, empty pieces and missing words.
    EXPECT_EQ(Device::parseDayWords(" 5x,,7-8"), (Words{5, 7, 8, 0, 0, 0}));
    EXPECT_EQ(Device::parseDayWords(""), (Words{}));
    EXPECT_EQ(Device::parseDayWords("garbage"), (Words{}));
}

} // namespace
