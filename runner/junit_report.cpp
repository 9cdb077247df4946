#include "runner/junit_report.h"

#include <QXmlStreamWriter>

#include <algorithm>

namespace {

int CountOf(const QList<TCaseResult>& cases, TCaseResult::TKind kind) {
    return int(std::count_if(cases.begin(), cases.end(),
                             [kind](const TCaseResult& c) { return c.kind == kind; }));
}

void WriteCase(QXmlStreamWriter& xml, const QString& suiteName, const TCaseResult& result) {
    using TKind = TCaseResult::TKind;
    xml.writeStartElement("testcase");
    xml.writeAttribute("classname", suiteName);
    // Slot 0 is no item: the case of the connection itself.
    const QString label = EscapedLine(result.item.label);
    xml.writeAttribute(
        "name", result.item.slot > 0 ? QString::number(result.item.slot) + " " + label : label);
    xml.writeAttribute("time", result.last ? QString::number(result.last->rttMs / 1000, 'f', 6)
                                           : QStringLiteral("0"));
    if (result.kind != TKind::Passed) {
        xml.writeStartElement(result.kind == TKind::Failed  ? "failure"
                              : result.kind == TKind::Error ? "error"
                                                            : "skipped");
        xml.writeAttribute("message", EscapedLine(result.message));
        for (const QByteArray& detail : result.details)
            xml.writeCharacters(EscapedLine(detail) + '\n');
        xml.writeEndElement();
    }
    if (result.last)
        xml.writeTextElement("system-out", EscapedLine(result.last->reply));
    xml.writeEndElement();
}

} // namespace

QByteArray JUnitXml(const QList<TSuiteResult>& suites) {
    using TKind = TCaseResult::TKind;
    QByteArray bytes;
    QXmlStreamWriter xml(&bytes);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeStartElement("testsuites");
    for (const TSuiteResult& suite : suites) {
        const QList<TCaseResult>& cases = suite.cases;
        xml.writeStartElement("testsuite");
        xml.writeAttribute("name", suite.name);
        xml.writeAttribute("tests", QString::number(cases.size()));
        xml.writeAttribute("failures", QString::number(CountOf(cases, TKind::Failed)));
        xml.writeAttribute("errors", QString::number(CountOf(cases, TKind::Error)));
        xml.writeAttribute("skipped", QString::number(CountOf(cases, TKind::Skipped)));
        xml.writeAttribute("time", QString::number(suite.seconds, 'f', 3));
        xml.writeAttribute("timestamp", suite.started.toString(Qt::ISODate));
        for (const TCaseResult& result : cases)
            WriteCase(xml, suite.name, result);
        xml.writeEndElement();
    }
    xml.writeEndDocument();
    return bytes;
}
