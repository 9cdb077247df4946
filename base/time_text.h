#pragma once

#include <QDateTime>
#include <QString>

// An instant's text as QDateTime::toString(Qt::ISODateWithMs) gives it.
QString IsoTimeText(const QDateTime& time);
// An instant in local time, "yyyy-MM-dd HH:mm:ss.zzz +hh:mm".
QString LocalTimeText(const QDateTime& time);
