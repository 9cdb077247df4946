#include "runner/nagios_report.h"

#include "base/text.h"
#include "runner/run_report.h"
#include "sequencing/reply_record.h"

#include <algorithm>

namespace {

const char* StatusWord(int status) {
    static const char* const words[] = {"OK", "WARNING", "CRITICAL", "UNKNOWN"};
    return words[status];
}

// Text from a controller or a file on one line, with no "|": the plugin's
// readers take what follows one for performance data.
QByteArray PluginText(const QByteArray& bytes) {
    return EscapedLine(bytes).toUtf8().replace('|', '/');
}

const char* ProblemWords(TNagiosProblem problem) {
    switch (problem) {
    case TNagiosProblem::None:
        return "";
    case TNagiosProblem::Connection:
        return "the connection failed";
    case TNagiosProblem::NoReply:
        return "no reply";
    case TNagiosProblem::CheckFailed:
        return "a reply failed its check";
    case TNagiosProblem::OutOfStep:
        return "replies out of step";
    case TNagiosProblem::TooManyResends:
        return "a reply needed more resends than allowed";
    }
    return "";
}

// Seconds as performance data writes them: plain decimals, no exponent.
QByteArray Seconds(double ms) {
    QByteArray text = QByteArray::number(ms / 1000, 'f', 6);
    while (text.endsWith('0'))
        text.chop(1);
    if (text.endsWith('.'))
        text.chop(1);
    return text;
}

QByteArray Threshold(double ms) {
    return ms < 0 ? QByteArray() : Seconds(ms);
}

// The controller's status and, when it is not OK, why.
std::pair<int, QByteArray> Judged(const TNagiosController& c, const TNagiosThresholds& limits) {
    if (c.problem != TNagiosProblem::None)
        return {kNagiosCritical,
                c.reason.isEmpty() ? QByteArray(ProblemWords(c.problem)) : c.reason};
    const auto over = [&](double limitMs, const char* which) {
        return "round trip " + QByteArray::number(c.slowestMs, 'f', 1) + " ms over the " + which +
               ' ' + QByteArray::number(limitMs) + " ms";
    };
    if (limits.criticalMs >= 0 && c.slowestMs > limits.criticalMs)
        return {kNagiosCritical, over(limits.criticalMs, "critical")};
    if (limits.warningMs >= 0 && c.slowestMs > limits.warningMs)
        return {kNagiosWarning, over(limits.warningMs, "warning")};
    if (c.resends > 0)
        return {kNagiosWarning, Counted(qsizetype(c.resends), "resend", "resends")};
    return {kNagiosOk, {}};
}

QByteArray PerformanceData(const QList<TNagiosItem>& items, const TNagiosThresholds& limits) {
    QByteArray data;
    for (const TNagiosItem& item : items) {
        // A label's quote is doubled and "=" would end it.
        QByteArray label = PluginText(item.label).replace('\'', "''").replace('=', '_');
        data += " '" + label + "'=" + (item.slowestMs < 0 ? "U" : Seconds(item.slowestMs) + 's') +
                ';' + Threshold(limits.warningMs) + ';' + Threshold(limits.criticalMs) + ";0;";
    }
    return data;
}

} // namespace

TNagiosReport NagiosReport(const QList<TNagiosController>& controllers,
                           const QList<TNagiosItem>& items, const TNagiosThresholds& thresholds) {
    int status = kNagiosOk;
    quint64 replies = 0;
    QByteArray details;
    qsizetype notOk = 0;
    for (const TNagiosController& controller : controllers) {
        replies += controller.replies;
        const auto [own, why] = Judged(controller, thresholds);
        if (own == kNagiosOk)
            continue;
        ++notOk;
        status = std::max(status, own);
        details += PluginText(controller.controller) + ' ' + StatusWord(own) + " - " +
                   PluginText(why) + '\n';
    }
    QByteArray summary = QByteArray("ZYL ") + StatusWord(status) + " - " +
                         Counted(controllers.size(), "controller", "controllers") + ", " +
                         Counted(qsizetype(replies), "reply", "replies");
    if (notOk > 0)
        summary += ", " + QByteArray::number(notOk) + " not OK";
    const QByteArray performance = PerformanceData(items, thresholds);
    if (!performance.isEmpty())
        summary += " |" + performance;
    return {summary + '\n' + details, status};
}

TNagiosReport NagiosUnknown(const QByteArray& why) {
    return {"ZYL UNKNOWN - " + PluginText(why) + '\n', kNagiosUnknown};
}
