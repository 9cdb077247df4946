#pragma once

#include "runner/run_definition.h"
#include "sequencing/reply_record.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

// How one item ended, for the JUnit report; slot 0 for the connection.
struct TCaseResult {
    enum class TKind { Passed, Failed, Error, Skipped };
    TRunItem item;
    TKind kind = TKind::Skipped;
    QByteArray message;               // why it failed, erred or was skipped
    QByteArrayList details;           // every failing pass, a line each
    std::optional<TReplyRecord> last; // its last reply
};

// One test suite of a JUnit report: one controller's run.
struct TSuiteResult {
    QString name;
    QDateTime started;
    double seconds = 0;
    QList<TCaseResult> cases;
};

// A JUnit XML report: a test suite per run, a test case per item.
QByteArray JUnitXml(const QList<TSuiteResult>& suites);
