#include "base/time_text.h"

#include <cmath>
#include <limits>

// Formatting a date and time through Qt costs thousands of instructions, and
// a run writes many lines within one second: each text is kept for the
// second it was made in, and only its milliseconds change. A zone's offset
// changes at a whole second, so a new second is formatted anew.

namespace {

struct TSecondText {
    qint64 second = std::numeric_limits<qint64>::min();
    QString text;        // as formatted at the second's first millisecond
    qsizetype msAt = -1; // where its three digits of milliseconds stand
};

QString LocalTimeTextOf(const QDateTime& time) {
    const QDateTime local = time.toLocalTime();
    const int offset = local.offsetFromUtc() / 60;
    return local.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz ")) + (offset < 0 ? '-' : '+') +
           QStringLiteral("%1:%2")
               .arg(std::abs(offset) / 60, 2, 10, QLatin1Char('0'))
               .arg(std::abs(offset) % 60, 2, 10, QLatin1Char('0'));
}

QString IsoTimeTextOf(const QDateTime& time) {
    return time.toString(Qt::ISODateWithMs);
}

QString CachedText(const QDateTime& time, TSecondText& cache, QString (*format)(const QDateTime&)) {
    // The cache is keyed by the instant alone, as the records' UTC times are.
    if (!time.isValid() || time.timeSpec() != Qt::UTC)
        return format(time);
    const qint64 ms = time.toMSecsSinceEpoch();
    const qint64 second = ms >= 0 ? ms / 1000 : (ms - 999) / 1000;
    const int milliseconds = int(ms - second * 1000);
    if (second != cache.second) {
        const QString text = format(time.addMSecs(-milliseconds));
        const qsizetype msAt = text.indexOf(QLatin1String(".000"));
        if (msAt < 0)
            return format(time);
        cache = {second, text, msAt + 1};
    }
    QString text = cache.text;
    QChar* digits = text.data() + cache.msAt;
    digits[0] = QChar(u'0' + milliseconds / 100);
    digits[1] = QChar(u'0' + milliseconds / 10 % 10);
    digits[2] = QChar(u'0' + milliseconds % 10);
    return text;
}

} // namespace

QString IsoTimeText(const QDateTime& time) {
    thread_local TSecondText cache;
    return CachedText(time, cache, IsoTimeTextOf);
}

QString LocalTimeText(const QDateTime& time) {
    thread_local TSecondText cache;
    return CachedText(time, cache, LocalTimeTextOf);
}
