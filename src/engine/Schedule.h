#pragma once

// The daily schedule of automatic synchronisation: the intervals a user can choose, the times
// of the day each one gives from its first time, and how such a time reads in a list. The
// scheduler and the Options dialog's preview both take their times from ScheduledTimes, so
// that what the user sees is what will run.

#include <string>
#include <vector>

namespace dm {

struct TScheduleInterval {
    const char* Text; // as the how-often list shows it
    int StepHours;    // both steps 0: once a day
    int StepMinutes;
    // The first time a user can pick: the hours "12", "01", ... below HoursOffered, "PM" only
    // where OffersPm, the minutes "00" ... below MinutesOffered. They keep the first time within
    // the first step after midnight, except for the daily and the shortest intervals.
    int HoursOffered;
    bool OffersPm;
    int MinutesOffered;
};

// Stored interval indexes run from 1 to ScheduleIntervalCount; 0 means no schedule. The ones
// above StandardIntervalCount are offered only with HighFrequency.
constexpr int StandardIntervalCount = 6;
constexpr int ScheduleIntervalCount = 11;
extern const TScheduleInterval ScheduleIntervals[ScheduleIntervalCount];
// Null for an index outside 1 to ScheduleIntervalCount.
const TScheduleInterval* ScheduleInterval(int storedIndex);

struct TScheduleTime {
    int Hour; // 0 to 23
    int Minute;
    bool operator==(const TScheduleTime&) const = default;
};

// The first time and every step after it up to 23:59, without wrapping past midnight. Nothing
// for an index outside the list or a first time that is not a time of the day.
std::vector<TScheduleTime> ScheduledTimes(int firstHour, int firstMinute, int storedIndex);
// True when hour:minute is one of the scheduled times.
bool ScheduleMatches(int hour, int minute, int firstHour, int firstMinute, int storedIndex);
// "5:30 AM", "11:05 PM"; twelve o'clock reads "Noon" and "Midnight".
std::string ScheduleTimeText(const TScheduleTime& time);

} // namespace dm
