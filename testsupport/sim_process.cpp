#include "testsupport/sim_process.h"

#include <QFileInfo>
#include <QRegularExpression>

QString SimProcess::Program() {
    const QString named = qEnvironmentVariable("CONTROLLER_SIM");
    const QString program = named.isEmpty() ? QStringLiteral(ZYL_CONTROLLER_SIM_PATH) : named;
    if (!QFileInfo(program).isExecutable())
        qFatal("controller-sim is not at %s: build it, or name it in CONTROLLER_SIM",
               qPrintable(program));
    return program;
}

quint16 SimProcess::Start(const QStringList& options) {
    process.start(Program(), QStringList{"--port", "0"} + options);
    if (!process.waitForStarted(kWaitMs))
        return 0;
    while (!process.canReadLine() && process.waitForReadyRead(kWaitMs)) {
    }
    firstLine = QString::fromLatin1(process.readLine()).trimmed();
    const QRegularExpressionMatch match =
        QRegularExpression("^listening on 127\\.0\\.0\\.1:(\\d+)$").match(firstLine);
    return match.hasMatch() ? match.captured(1).toUShort() : 0;
}
