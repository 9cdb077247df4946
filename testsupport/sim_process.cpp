#include "testsupport/sim_process.h"

#include <QRegularExpression>

quint16 SimProcess::Start(const QStringList& options) {
    process.start(m_program, QStringList{"--port", "0"} + options);
    if (!process.waitForStarted(kWaitMs))
        return 0;
    while (!process.canReadLine() && process.waitForReadyRead(kWaitMs)) {
    }
    firstLine = QString::fromLatin1(process.readLine()).trimmed();
    const QRegularExpressionMatch match =
        QRegularExpression("^listening on 127\\.0\\.0\\.1:(\\d+)$").match(firstLine);
    return match.hasMatch() ? match.captured(1).toUShort() : 0;
}
