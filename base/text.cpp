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

TLineSpan FindLineEnd(const QByteArray& text, qsizetype start) {
    const qsizetype n = text.size();
    for (qsizetype i = start; i < n; ++i) {
        if (text[i] == '\n')
            return {i, i + 1};
        if (text[i] == '\r')
            return {i, (i + 1 < n && text[i + 1] == '\n') ? i + 2 : i + 1};
    }
    return {n, n};
}

QList<QByteArray> SplitLines(const QByteArray& text, qsizetype maxLineLength,
                             QList<qsizetype>* cutLines) {
    QList<QByteArray> lines;
    for (qsizetype start = 0; start < text.size();) {
        const TLineSpan span = FindLineEnd(text, start);
        if (cutLines && span.end - start > maxLineLength)
            cutLines->append(lines.size());
        lines.append(text.mid(start, qMin(span.end - start, maxLineLength)));
        start = span.next;
    }
    return lines;
}

QByteArray FormatMessage(const char* format, const QByteArray& argument) {
    QByteArray message(format);
    const qsizetype at = message.indexOf("%s");
    if (at >= 0)
        message.replace(at, 2, argument);
    return message;
}

QByteArray Counted(qsizetype count, const char* one, const char* many) {
    return QByteArray::number(count) + ' ' + (count == 1 ? one : many);
}
