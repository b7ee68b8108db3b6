#include "platform/DateTimeText.h"

#include <QRegularExpression>

namespace dm {

namespace {

QString DateFormat(const QLocale& locale) {
    QString format = locale.dateFormat(QLocale::ShortFormat);
    // Any run of "y" becomes exactly four, so the century is never lost.
    static const QRegularExpression years(QStringLiteral("y+"));
    format.replace(years, QStringLiteral("yyyy"));
    return format;
}

QString TimeFormat(const QLocale& locale) {
    QString format = locale.timeFormat(QLocale::LongFormat);
    // Zone names do not read back reliably; the text is local time anyway.
    static const QRegularExpression zone(QStringLiteral("\\s*\\(?t+\\)?"));
    format.remove(zone);
    format = format.trimmed();
    if (!format.contains(QLatin1Char('s'))) format += QStringLiteral(":ss");
    return format;
}

} // namespace

std::string DateTimeText(const QDateTime& when, const QLocale& locale) {
    QString text = locale.toString(when.date(), DateFormat(locale));
    if (when.time() != QTime(0, 0)) text += QLatin1Char(' ') + locale.toString(when.time(), TimeFormat(locale));
    return text.toStdString();
}

std::optional<QDateTime> ParseDateTimeText(std::string_view text, const QLocale& locale) {
    const QString s = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())).trimmed();
    if (s.isEmpty()) return std::nullopt;
    QDateTime full = locale.toDateTime(s, DateFormat(locale) + QLatin1Char(' ') + TimeFormat(locale));
    if (full.isValid()) return full;
    QDate date = locale.toDate(s, DateFormat(locale));
    if (date.isValid()) return QDateTime(date, QTime(0, 0));
    QDateTime iso = QDateTime::fromString(s, Qt::ISODate);
    if (iso.isValid()) return iso.toLocalTime();
    return std::nullopt;
}

} // namespace dm
