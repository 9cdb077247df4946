#pragma once

#include <QByteArray>
#include <QLatin1String>
#include <QStringView>

// A flat JSON object on one line, written field by field with the bytes
// QJsonDocument's compact form gives for the same object, without building
// one. QJsonObject sorts its keys, so fields must be added in the order of
// their keys. Keys are plain names that need no escaping.
class TJsonLine {
public:
    TJsonLine();
    TJsonLine& Text(QLatin1String key, QStringView text);
    TJsonLine& Text(QLatin1String key, QLatin1String text);
    TJsonLine& Integer(QLatin1String key, qint64 number);
    TJsonLine& Number(QLatin1String key, double number);
    TJsonLine& Flag(QLatin1String key, bool value);
    // The object, closed.
    QByteArray Line() const;

private:
    void Key(QLatin1String key);

    QByteArray m_bytes;
};
