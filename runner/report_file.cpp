#include "runner/report_file.h"

#include "base/exceptions.h"
#include "base/syscall.h"
#include "base/text.h"

#include <QFile>
#include <QSaveFile>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The file behind a name, links followed; nothing when there is none.
bool StatOf(const QString& fileName, struct stat* status) {
    return !fileName.isEmpty() && ::stat(QFile::encodeName(fileName).constData(), status) == 0;
}

} // namespace

void RefuseReportOverInputs(const QString& reportFile, const QList<TInputFile>& inputs) {
    struct stat report {};
    if (!StatOf(reportFile, &report))
        return;
    for (const TInputFile& input : inputs) {
        struct stat status {};
        if (StatOf(input.fileName, &status) && status.st_dev == report.st_dev &&
            status.st_ino == report.st_ino)
            throw EConvertError("The report would overwrite the " + QByteArray(input.what) + ' ' +
                                QFile::encodeName(input.fileName));
    }
}

TReportFile::TReportFile(const QString& fileName) : m_fileName(fileName) {
    struct stat status {};
    m_inPlace = StatOf(fileName, &status) && !S_ISREG(status.st_mode);
    if (m_inPlace)
        m_file = std::make_unique<QFile>(fileName);
    else
        m_file = std::make_unique<QSaveFile>(fileName);
    if (!m_file->open(QIODevice::WriteOnly))
        throw EFOpenError(FormatMessage("Cannot create file %s", QFile::encodeName(fileName)),
                          m_file->errorString().toUtf8());
}

TReportFile::~TReportFile() = default;

void TReportFile::Commit(const QByteArray& bytes) {
    // Written and synced here rather than through QSaveFile, which commits a
    // file cut short by a full disk as a success and loses errno on the way.
    // fsync(2) fails with EINVAL on what cannot sync (a device, a pipe).
    const int fd = m_file->handle();
    int error = 0;
    for (qsizetype done = 0; error == 0 && done < bytes.size();) {
        const TCallResult wrote = RetryingOnEintr(
            [&] { return ::write(fd, bytes.constData() + done, size_t(bytes.size() - done)); });
        // A write that takes nothing would never end the loop.
        error = wrote.error != 0 || wrote.value > 0 ? wrote.error : EIO;
        done += wrote.value;
    }
    if (error == 0 && ::fsync(fd) != 0 && errno != EINVAL)
        error = errno;
    QByteArray reason = error != 0 ? QByteArray(std::strerror(error)) : QByteArray();
    if (error == 0 && !m_inPlace && !static_cast<QSaveFile&>(*m_file).commit())
        reason = m_file->errorString().toUtf8();
    // An uncommitted save file takes its temporary file with it.
    m_file.reset();
    if (!reason.isEmpty())
        throw EFOpenError(FormatMessage("Cannot write file %s", QFile::encodeName(m_fileName)),
                          reason);
}
