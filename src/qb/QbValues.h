#pragma once

// Amounts, dates and times as qbXML writes them.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace dm {

// Amounts are kept in cents.
using TMoney = std::int64_t;

// "-55.00", "1234.50".
std::string FormatMoney(TMoney cents);
// An optional sign, digits and at most one ".": "12", "-5.5", "129.43"; more than two
// decimals are rounded. False for anything else (also for commas and currency signs).
bool ParseMoney(std::string_view text, TMoney& cents);
// A decimal number for quantities and rates; false when the text is not one.
bool ParseDecimal(std::string_view text, double& value);
// Quantities without needless decimals ("2", "1.5"); rates with at least two ("39.00").
std::string FormatQuantity(double value);
std::string FormatRate(double value);
// The amount of a quantity at a rate, rounded to the cent.
TMoney AmountOf(double quantity, double rate);

// "2014-07-30T21:11:20-05:00" in the local time zone.
std::string FormatQbDateTime(std::int64_t epochSeconds);
// "2014-07-30" in the local time zone.
std::string FormatQbDate(std::int64_t epochSeconds);
// "YYYY-MM-DD" that names a real day.
bool IsQbDate(std::string_view text);
// A date, or a date and time with an optional "Z" or "+hh:mm"; without a zone the local time.
// A date alone is the start of the day, or its last second when endOfDay is set.
std::optional<std::int64_t> ParseQbDateTime(std::string_view text, bool endOfDay = false);

// "true"/"false" as qbXML writes booleans; reading also takes "1" and "0".
inline const char* FormatBool(bool value) { return value ? "true" : "false"; }
bool ParseBool(std::string_view text, bool& value);

} // namespace dm
