#include "app/reply_log.h"

#include "base/exceptions.h"
#include "base/syscall.h"
#include "base/text.h"

#include <QFile>

#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

TReplyLog::TReplyLog(const QString& fileName) : m_fileName(QFile::encodeName(fileName)) {
    // O_NONBLOCK: a FIFO without a reader refuses at once (ENXIO) rather than
    // blocking start-up, and a full one refuses a write rather than the GUI
    // thread waiting on it.
    const TCallResult opened = RetryingOnEintr([&] {
        return ::open(m_fileName.constData(),
                      O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0644);
    });
    if (opened.error != 0)
        throw Exception(FormatMessage("Cannot open log file %s", m_fileName) + ": " +
                        std::strerror(opened.error));
    m_fd = int(opened.value);
}

TReplyLog::~TReplyLog() {
    if (m_fd >= 0)
        ::close(m_fd);
}

QByteArray TReplyLog::Append(const QByteArray& controller, const TReplyRecord& record) {
    if (m_fd < 0)
        return {};
    const QByteArray line = ReplyJson(controller, record) + '\n';
    const TCallResult written =
        RetryingOnEintr([&] { return ::write(m_fd, line.constData(), size_t(line.size())); });
    if (written.error == 0 && written.value == line.size())
        return {};
    ::close(std::exchange(m_fd, -1));
    const QByteArray reason = written.error != 0
                                  ? QByteArray(std::strerror(written.error))
                                  : "only " + QByteArray::number(written.value) + " of " +
                                        QByteArray::number(line.size()) + " bytes written";
    return FormatMessage("Cannot write log file %s", m_fileName) + ": " + reason +
           "; logging stopped";
}
