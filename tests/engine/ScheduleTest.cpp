// The schedule arithmetic shared by the scheduler and the Options dialog's preview.

#include "engine/Schedule.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace dm;

namespace {

std::vector<std::string> Texts(const std::vector<TScheduleTime>& times) {
    std::vector<std::string> texts;
    for (const TScheduleTime& t : times) texts.push_back(ScheduleTimeText(t));
    return texts;
}

} // namespace

TEST(Schedule, ScheduledTimesOfTheDay) {
    struct Case {
        int firstHour, firstMinute, index;
        std::vector<std::pair<int, int>> runs, not_runs;
    } cases[] = {
        {8, 15, 3, {{8, 15}, {14, 15}, {20, 15}}, {{2, 15}, {8, 16}, {9, 15}}},
        {0, 10, 7, {{0, 10}, {0, 40}, {1, 10}, {23, 40}}, {{0, 11}, {0, 9}, {23, 41}}},
        {13, 0, 2, {{13, 0}}, {{1, 0}, {25 - 24, 0}, {0, 0}}},
        {9, 30, 1, {{9, 30}}, {{21, 30}, {9, 31}}},
        {22, 58, 11, {{22, 58}, {22, 59}, {23, 0}, {23, 59}}, {{22, 57}, {0, 0}}},
        {6, 0, 6, {{6, 0}, {7, 0}, {23, 0}}, {{5, 0}, {6, 30}}},
        {6, 0, 0, {}, {{6, 0}}},
        {6, 0, 12, {}, {{6, 0}}},
        // A first time no list can show (a settings file edited by hand) schedules nothing.
        {24, 0, 6, {}, {{0, 0}, {1, 0}}},
        {5, 75, 7, {}, {{6, 15}, {6, 45}}},
        {-1, 0, 2, {}, {{11, 0}, {23, 0}}},
    };
    for (const Case& c : cases) {
        for (auto [h, m] : c.runs)
            EXPECT_TRUE(ScheduleMatches(h, m, c.firstHour, c.firstMinute, c.index)) << c.index << " " << h << ":" << m;
        for (auto [h, m] : c.not_runs)
            EXPECT_FALSE(ScheduleMatches(h, m, c.firstHour, c.firstMinute, c.index)) << c.index << " " << h << ":" << m;
    }
}

// What the preview lists is exactly what the scheduler starts: the preview's entries are the
// times ScheduleMatches accepts, and no other minute of the day is accepted.
TEST(Schedule, PreviewListsTheScheduledMinutes) {
    struct Case {
        int firstHour, firstMinute, index;
        std::vector<std::string> first; // the preview's first entries
        std::string last;
        size_t count;
    } cases[] = {
        {5, 30, 3, {"5:30 AM", "11:30 AM", "5:30 PM", "11:30 PM"}, "11:30 PM", 4},
        {0, 0, 2, {"Midnight", "Noon"}, "Noon", 2},
        {0, 10, 8, {"12:10 AM", "12:25 AM"}, "11:55 PM", 96},
        {12, 0, 1, {"Noon"}, "Noon", 1},
        {23, 59, 11, {"11:59 PM"}, "11:59 PM", 1},
        {0, 0, 11, {"Midnight", "12:01 AM"}, "11:59 PM", 1440},
        {13, 5, 9, {"1:05 PM", "1:10 PM"}, "11:55 PM", 131},
        {0, 45, 6, {"12:45 AM", "1:45 AM"}, "11:45 PM", 24},
    };
    for (const Case& c : cases) {
        const std::vector<TScheduleTime> times = ScheduledTimes(c.firstHour, c.firstMinute, c.index);
        const std::vector<std::string> texts = Texts(times);
        ASSERT_EQ(times.size(), c.count) << c.index;
        EXPECT_EQ(std::vector<std::string>(texts.begin(), texts.begin() + c.first.size()), c.first) << c.index;
        EXPECT_EQ(texts.back(), c.last) << c.index;
        size_t matching = 0;
        for (int h = 0; h < 24; ++h)
            for (int m = 0; m < 60; ++m)
                if (ScheduleMatches(h, m, c.firstHour, c.firstMinute, c.index)) {
                    ++matching;
                    EXPECT_NE(std::find(times.begin(), times.end(), TScheduleTime{h, m}), times.end());
                }
        EXPECT_EQ(matching, times.size()) << c.index;
    }
}

TEST(Schedule, TimesReadAsTheListShowsThem) {
    struct Case {
        TScheduleTime time;
        const char* text;
    } cases[] = {
        {{0, 0}, "Midnight"}, {{12, 0}, "Noon"},     {{0, 1}, "12:01 AM"},  {{12, 30}, "12:30 PM"},
        {{9, 5}, "9:05 AM"},  {{13, 0}, "1:00 PM"},  {{23, 59}, "11:59 PM"}, {{11, 59}, "11:59 AM"},
    };
    for (const Case& c : cases) EXPECT_EQ(ScheduleTimeText(c.time), c.text) << c.time.Hour << ":" << c.time.Minute;
}

// The first-time choices keep the first time within the first step after midnight, so that a
// choice never skips a run that the step would have given before it.
TEST(Schedule, FirstTimeChoicesFitTheirStep) {
    for (int index = 1; index <= ScheduleIntervalCount; ++index) {
        const TScheduleInterval& interval = *ScheduleInterval(index);
        const int step = interval.StepHours * 60 + interval.StepMinutes;
        const int latestHour = interval.HoursOffered - 1 + (interval.OffersPm ? 12 : 0);
        const int latest = latestHour * 60 + interval.MinutesOffered - 1;
        if (index == 1 || index > 8) EXPECT_EQ(latest, 23 * 60 + 59) << index; // any time of the day
        else EXPECT_EQ(latest, step - 1) << index;
    }
    EXPECT_EQ(ScheduleInterval(0), nullptr);
    EXPECT_EQ(ScheduleInterval(12), nullptr);
    EXPECT_STREQ(ScheduleInterval(7)->Text, "48 Times Per Day - Every 30 Minutes");
}
