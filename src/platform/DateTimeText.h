#pragma once

// The date-and-time text of the settings file and the activity log: the locale's short date
// and long time, with a four-digit year and without a time-zone name, so that what is written
// reads back to the same second. The time is left out when it is exactly midnight.

#include <QDateTime>
#include <QLocale>

#include <optional>
#include <string>
#include <string_view>

namespace dm {

std::string DateTimeText(const QDateTime& when, const QLocale& locale = QLocale::system());
// Reads what DateTimeText wrote in this locale; also accepts ISO 8601 text.
std::optional<QDateTime> ParseDateTimeText(std::string_view text,
                                           const QLocale& locale = QLocale::system());

} // namespace dm
