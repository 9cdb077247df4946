#pragma once

#include "sequencing/reply_record.h"

#include <QByteArray>
#include <QString>

// The window's log of completed replies: one JSON line each, as the headless
// runner writes them, appended to a file named at start-up. A write never
// waits: the file is non-blocking, so a FIFO or a slow target cannot stall the
// cycle, and a line that does not go out whole ends the logging.
class TReplyLog {
public:
    // Opens (creating, mode 0644) `fileName` for appending. Throws Exception
    // with the file name and the system's reason when it cannot.
    explicit TReplyLog(const QString& fileName);
    ~TReplyLog();
    TReplyLog(const TReplyLog&) = delete;
    TReplyLog& operator=(const TReplyLog&) = delete;

    // Writes the record's line in one write(2). Returns an empty text when it
    // went out whole; otherwise the reason, and the log is closed (later
    // calls write nothing and return an empty text).
    QByteArray Append(const QByteArray& controller, const TReplyRecord& record);

private:
    QByteArray m_fileName;
    int m_fd = -1;
};
