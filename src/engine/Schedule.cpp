#include "engine/Schedule.h"

#include "core/General.h"

#include <algorithm>

namespace dm {

const TScheduleInterval ScheduleIntervals[ScheduleIntervalCount] = {
    {"1 Time Per Day - Every 24 Hours", 0, 0, 12, true, 60},
    {"2 Times Per Day - Every 12 Hours", 12, 0, 12, false, 60},
    {"4 Times Per Day - Every 6 Hours", 6, 0, 6, false, 60},
    {"8 Times Per Day - Every 3 Hours", 3, 0, 3, false, 60},
    {"12 Times Per Day - Every 2 Hours", 2, 0, 2, false, 60},
    {"24 Times Per Day - Every Hour", 1, 0, 1, false, 60},
    {"48 Times Per Day - Every 30 Minutes", 0, 30, 1, false, 30},
    {"96 Times Per Day - Every 15 Minutes", 0, 15, 1, false, 15},
    {"288 Times Per Day - Every 5 Minutes", 0, 5, 12, true, 60},
    {"720 Times Per Day - Every 2 Minutes", 0, 2, 12, true, 60},
    {"1440 Times Per Day - Every Minute", 0, 1, 12, true, 60},
};

const TScheduleInterval* ScheduleInterval(int storedIndex) {
    if (storedIndex < 1 || storedIndex > ScheduleIntervalCount) return nullptr;
    return &ScheduleIntervals[storedIndex - 1];
}

std::vector<TScheduleTime> ScheduledTimes(int firstHour, int firstMinute, int storedIndex) {
    std::vector<TScheduleTime> times;
    const TScheduleInterval* interval = ScheduleInterval(storedIndex);
    // Only a settings file edited by hand holds such a first time; no run could be shown for it.
    if (!interval || firstHour < 0 || firstHour > 23 || firstMinute < 0 || firstMinute > 59) return times;
    int h = firstHour, m = firstMinute;
    while (h < 24) {
        times.push_back({h, m});
        if (interval->StepHours == 0 && interval->StepMinutes == 0) break;
        h += interval->StepHours;
        m += interval->StepMinutes;
        if (m >= 60) {
            m -= 60;
            h += 1;
        }
    }
    return times;
}

bool ScheduleMatches(int hour, int minute, int firstHour, int firstMinute, int storedIndex) {
    const std::vector<TScheduleTime> times = ScheduledTimes(firstHour, firstMinute, storedIndex);
    return std::find(times.begin(), times.end(), TScheduleTime{hour, minute}) != times.end();
}

std::string ScheduleTimeText(const TScheduleTime& time) {
    int h = time.Hour;
    const char* suffix = "AM";
    if (h == 0) {
        h = 12;
    } else if (h > 12) {
        h -= 12;
        suffix = "PM";
    } else if (h == 12) {
        suffix = "PM";
    }
    const std::string text = std::to_string(h) + ":" + PadLeft(std::to_string(time.Minute), 2, '0') + " " + suffix;
    if (text == "12:00 PM") return "Noon";
    if (text == "12:00 AM") return "Midnight";
    return text;
}

} // namespace dm
