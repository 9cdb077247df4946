#include "base/text.h"

#include <QStringDecoder>

QString DisplayText(const QByteArray& bytes) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (utf8.hasError())
        return QString::fromLatin1(bytes);
    return text;
}

QByteArray TextBytes(const QString& text) {
    return text.toUtf8();
}

QByteArray UpToNul(const QByteArray& bytes) {
    const qsizetype nul = bytes.indexOf('\0');
    return nul < 0 ? bytes : bytes.left(nul);
}

QList<QByteArray> SplitLines(const QByteArray& text, qsizetype maxLineLength) {
    QList<QByteArray> lines;
    const qsizetype n = text.size();
    qsizetype start = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const char c = text[i];
        if (c != '\r' && c != '\n')
            continue;
        lines.append(text.mid(start, qMin(i - start, maxLineLength)));
        if (c == '\r' && i + 1 < n && text[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < n)
        lines.append(text.mid(start, qMin(n - start, maxLineLength)));
    return lines;
}

QByteArray FormatMessage(const char* format, const QByteArray& argument) {
    QByteArray message(format);
    const qsizetype at = message.indexOf("%s");
    if (at >= 0)
        message.replace(at, 2, argument);
    return message;
}
