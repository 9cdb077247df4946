#include "runner/outage_log.h"

#include "base/text.h"
#include "sequencing/reply_record.h"

#include <QJsonArray>

namespace {

QString TimeText(const QDateTime& time) {
    return time.toString(Qt::ISODateWithMs);
}

QByteArray LengthText(int64_t ms) {
    return ms < 0 ? QByteArray("not over") : SecondsText(ms);
}

QByteArray OutageLine(const TOutage& outage) {
    return TimeText(outage.time).toUtf8() + "  " + LengthText(outage.downMs) + "  " +
           EscapedLine(outage.reason).toUtf8();
}

} // namespace

QByteArray SecondsText(int64_t ms) {
    return QByteArray::number(double(ms) / 1000, 'g', 6) + " s";
}

bool TOutageLog::Began(const QDateTime& time, int64_t sinceStartMs, const QByteArray& reason) {
    Failed(time, {}, reason);
    if (Down())
        return false;
    m_downSinceMs = sinceStartMs;
    m_outages.Add({time, reason, -1});
    return true;
}

int64_t TOutageLog::Ended(int64_t sinceStartMs) {
    const int64_t length = sinceStartMs - m_downSinceMs;
    m_downMs += length;
    m_downSinceMs = -1;
    m_outages.Latest().downMs = length;
    return length;
}

void TOutageLog::Failed(const QDateTime& time, const QByteArray& item, const QByteArray& reason) {
    m_failures.Add({time, item, reason});
}

void TOutageLog::RunEnded(int64_t sinceStartMs) {
    if (Down())
        m_downMs += sinceStartMs - std::exchange(m_downSinceMs, -1);
}

void AddOutageJson(QJsonObject& summary, const TOutageLog& log) {
    summary.insert("outages", qint64(log.Outages()));
    summary.insert("down_ms", qint64(log.DownMs()));
    QJsonArray outages;
    for (size_t i = 0; i < log.LastOutages().Size(); ++i) {
        const TOutage& outage = log.LastOutages()[i];
        outages.append(QJsonObject{
            {"time", TimeText(outage.time)},
            {"reason", EscapedLine(outage.reason)},
            {"down_ms", outage.downMs < 0 ? QJsonValue() : QJsonValue(qint64(outage.downMs))}});
    }
    summary.insert("last_outages", outages);
    QJsonArray failures;
    for (size_t i = 0; i < log.LastFailures().Size(); ++i) {
        const TFailureNote& failure = log.LastFailures()[i];
        failures.append(QJsonObject{{"time", TimeText(failure.time)},
                                    {"item", EscapedLine(failure.item)},
                                    {"reason", EscapedLine(failure.reason)}});
    }
    summary.insert("last_failures", failures);
}

QByteArrayList OutageLines(const TOutageLog& log) {
    QByteArrayList lines;
    if (log.Outages() > 0)
        lines.append(Counted(qint64(log.Outages()), "outage", "outages") + ", down " +
                     LengthText(log.DownMs()) + "; the last:");
    for (size_t i = 0; i < log.LastOutages().Size(); ++i)
        lines.append("  " + OutageLine(log.LastOutages()[i]));
    if (log.LastFailures().Size() > 0)
        lines.append("the last failures:");
    for (size_t i = 0; i < log.LastFailures().Size(); ++i) {
        const TFailureNote& failure = log.LastFailures()[i];
        lines.append("  " + TimeText(failure.time).toUtf8() + "  " +
                     (failure.item.isEmpty() ? QByteArray("connection")
                                             : EscapedLine(failure.item).toUtf8()) +
                     ": " + EscapedLine(failure.reason).toUtf8());
    }
    return lines;
}

QByteArrayList OutageDetails(const TOutageLog& log) {
    QByteArrayList details;
    for (size_t i = 0; i < log.LastOutages().Size(); ++i)
        details.append(OutageLine(log.LastOutages()[i]));
    if (log.Outages() > log.LastOutages().Size())
        details.append("and " +
                       QByteArray::number(qulonglong(log.Outages() - log.LastOutages().Size())) +
                       " earlier");
    return details;
}
