#include "qb/QbValues.h"

#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <ctime>
#include <cstdint>

namespace dm {

std::string FormatMoney(TMoney cents) {
    bool negative = cents < 0;
    std::uint64_t magnitude = negative ? 0 - static_cast<std::uint64_t>(cents) : static_cast<std::uint64_t>(cents);
    char buffer[32];
    char* end = buffer + sizeof buffer;
    char* p = end;
    *--p = static_cast<char>('0' + magnitude % 10);
    *--p = static_cast<char>('0' + magnitude / 10 % 10);
    *--p = '.';
    magnitude /= 100;
    do {
        *--p = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude);
    if (negative) *--p = '-';
    return std::string(p, end);
}

bool ParseMoney(std::string_view text, TMoney& cents) {
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    std::int64_t whole = 0;
    int digits = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
        if (++digits > 13) return false; // beyond any amount QuickBooks keeps
        whole = whole * 10 + (text[i++] - '0');
    }
    std::int64_t fraction = 0;
    int decimals = 0;
    bool roundUp = false;
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
            if (decimals < 2) {
                fraction = fraction * 10 + (text[i] - '0');
            } else if (decimals == 2) {
                roundUp = text[i] >= '5';
            }
            ++decimals;
            ++i;
        }
    }
    if (i != text.size() || (digits == 0 && decimals == 0)) return false;
    if (decimals == 1) fraction *= 10;
    cents = whole * 100 + fraction + (roundUp ? 1 : 0);
    if (negative) cents = -cents;
    return true;
}

bool ParseDecimal(std::string_view text, double& value) {
    // Same grammar as amounts, any number of decimals.
    size_t i = 0, digits = 0;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
    bool dot = false;
    for (; i < text.size(); ++i) {
        if (text[i] >= '0' && text[i] <= '9') {
            ++digits;
        } else if (text[i] == '.' && !dot) {
            dot = true;
        } else {
            return false;
        }
    }
    if (digits == 0 || digits > 20) return false;
    value = std::strtod(std::string(text).c_str(), nullptr);
    return std::isfinite(value);
}

std::string FormatQuantity(double value) {
    if (value == std::trunc(value) && std::fabs(value) < 1e15) return std::to_string(static_cast<long long>(value));
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.5f", value);
    std::string text = buffer;
    while (!text.empty() && text.back() == '0') text.pop_back();
    if (!text.empty() && text.back() == '.') text.pop_back();
    return text == "-0" ? "0" : text;
}

std::string FormatRate(double value) {
    double cents = value * 100.0;
    if (cents == std::trunc(cents) && std::fabs(cents) < 1e15) return FormatMoney(static_cast<TMoney>(cents));
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.5f", value);
    std::string text = buffer;
    size_t dot = text.find('.');
    while (text.size() > dot + 3 && text.back() == '0') text.pop_back();
    return text;
}

TMoney AmountOf(double quantity, double rate) {
    double cents = std::round(quantity * rate * 100.0);
    if (!std::isfinite(cents) || std::fabs(cents) > 9e15) return 0;
    return static_cast<TMoney>(cents);
}

namespace {

void CivilFromDays(std::int64_t z, int& y, unsigned& m, unsigned& d) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<int>(static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2));
}

// The local offset of the hour the time falls in; asking the C library for every record
// of a long answer costs more than writing the record.
long LocalOffset(std::int64_t epochSeconds) {
    thread_local std::int64_t cachedHour = INT64_MIN;
    thread_local long cachedOffset = 0;
    std::int64_t hour = epochSeconds >= 0 ? epochSeconds / 3600 : (epochSeconds - 3599) / 3600;
    if (hour != cachedHour) {
        std::time_t t = static_cast<std::time_t>(epochSeconds);
        std::tm local {};
        localtime_r(&t, &local);
        cachedOffset = local.tm_gmtoff;
        cachedHour = hour;
    }
    return cachedOffset;
}

} // namespace

std::string FormatQbDateTime(std::int64_t epochSeconds) {
    long offset = LocalOffset(epochSeconds);
    std::int64_t local = epochSeconds + offset;
    std::int64_t days = local >= 0 ? local / 86400 : (local - 86399) / 86400;
    std::int64_t secondOfDay = local - days * 86400;
    int year;
    unsigned month, day;
    CivilFromDays(days, year, month, day);
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "%04d-%02u-%02uT%02d:%02d:%02d%c%02ld:%02ld", year, month, day,
                  static_cast<int>(secondOfDay / 3600), static_cast<int>(secondOfDay / 60 % 60),
                  static_cast<int>(secondOfDay % 60), offset < 0 ? '-' : '+', std::labs(offset) / 3600,
                  (std::labs(offset) % 3600) / 60);
    return buffer;
}

std::string FormatQbDate(std::int64_t epochSeconds) {
    std::time_t t = static_cast<std::time_t>(epochSeconds);
    std::tm local {};
    localtime_r(&t, &local);
    char buffer[20];
    std::strftime(buffer, sizeof buffer, "%Y-%m-%d", &local);
    return buffer;
}

namespace {

bool Digits(std::string_view text, size_t at, size_t count, int& value) {
    if (at + count > text.size()) return false;
    value = 0;
    for (size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

bool ReadDate(std::string_view text, int& year, int& month, int& day) {
    if (text.size() < 10 || text[4] != '-' || text[7] != '-') return false;
    if (!Digits(text, 0, 4, year) || !Digits(text, 5, 2, month) || !Digits(text, 8, 2, day))
        return false;
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (year < 1900 || month < 1 || month > 12 || day < 1) return false;
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    int last = kDays[month - 1] + (month == 2 && leap ? 1 : 0);
    return day <= last;
}

std::int64_t DaysFromCivil(int y, int m, int d) {
    y -= m <= 2;
    const int era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return static_cast<std::int64_t>(era) * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

} // namespace

bool IsQbDate(std::string_view text) {
    int y, m, d;
    return text.size() == 10 && ReadDate(text, y, m, d);
}

std::optional<std::int64_t> ParseQbDateTime(std::string_view text, bool endOfDay) {
    int year, month, day;
    if (!ReadDate(text, year, month, day)) return std::nullopt;
    int hour = 0, minute = 0, second = 0;
    if (text.size() == 10) {
        if (endOfDay) hour = 23, minute = 59, second = 59;
    } else {
        if (text[10] != 'T' || text.size() < 19 || text[13] != ':' || text[16] != ':') return std::nullopt;
        if (!Digits(text, 11, 2, hour) || !Digits(text, 14, 2, minute) || !Digits(text, 17, 2, second))
            return std::nullopt;
        if (hour > 23 || minute > 59 || second > 59) return std::nullopt;
    }
    std::string_view zone = text.size() > 19 ? text.substr(19) : std::string_view();
    if (text.size() == 10 || zone.empty()) {
        std::tm local {};
        local.tm_year = year - 1900;
        local.tm_mon = month - 1;
        local.tm_mday = day;
        local.tm_hour = hour;
        local.tm_min = minute;
        local.tm_sec = second;
        local.tm_isdst = -1;
        std::time_t t = std::mktime(&local);
        if (t == static_cast<std::time_t>(-1)) return std::nullopt;
        return static_cast<std::int64_t>(t);
    }
    std::int64_t offset = 0;
    if (zone != "Z") {
        int zh, zm;
        if (zone.size() != 6 || (zone[0] != '+' && zone[0] != '-') || zone[3] != ':' ||
            !Digits(zone, 1, 2, zh) || !Digits(zone, 4, 2, zm) || zh > 14 || zm > 59)
            return std::nullopt;
        offset = (zh * 3600 + zm * 60) * (zone[0] == '-' ? -1 : 1);
    }
    return DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second - offset;
}

bool ParseBool(std::string_view text, bool& value) {
    if (text == "true" || text == "1") {
        value = true;
    } else if (text == "false" || text == "0") {
        value = false;
    } else {
        return false;
    }
    return true;
}

} // namespace dm
