#include "sequencing/definition_file.h"

#include "base/exceptions.h"
#include "base/syscall.h"
#include "base/text.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Closes the descriptor on every way out.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

[[noreturn]] void ThrowCannotOpen(const QString& fileName, int error) {
    throw EFOpenError(FormatMessage("Cannot open file %s", QFile::encodeName(fileName)),
                      QByteArray(std::strerror(error)));
}

} // namespace

QByteArray ReadDefinitionFile(const QString& fileName) {
    return UpToNul(ReadFileHead(fileName, kMaxDefinitionBytes));
}

QByteArray ReadFileHead(const QString& fileName, qint64 maxBytes) {
    const QByteArray path = QFile::encodeName(fileName);
    // O_NONBLOCK: a FIFO under the name must not hang the window.
    const TCallResult opened = RetryingOnEintr(
        [&] { return ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK); });
    if (opened.error != 0)
        ThrowCannotOpen(fileName, opened.error);
    const int fd = int(opened.value);
    const FileDescriptor file(fd);

    struct stat status {};
    if (::fstat(fd, &status) != 0)
        ThrowCannotOpen(fileName, errno);
    if (!S_ISREG(status.st_mode))
        ThrowCannotOpen(fileName, S_ISDIR(status.st_mode) ? EISDIR : EINVAL);

    // Deny writers where the platform allows: a writer holding a lock on the
    // file (advisory on Linux) keeps us out.
    struct flock lock {};
    lock.l_type = F_RDLCK;
    lock.l_whence = SEEK_SET;
    if (::fcntl(fd, F_SETLK, &lock) != 0 && (errno == EACCES || errno == EAGAIN))
        ThrowCannotOpen(fileName, errno);

    // One plain read; a short read is used as it is.
    QByteArray text(qMin<qint64>(status.st_size, maxBytes), Qt::Uninitialized);
    const TCallResult got =
        RetryingOnEintr([&] { return ::read(fd, text.data(), size_t(text.size())); });
    text.truncate(got.error != 0 ? 0 : got.value);
    return text;
}

TDefinitionLine SplitDefinitionLine(const QByteArray& line) {
    const qsizetype equals = line.lastIndexOf('=');
    if (equals < 0)
        return {QByteArray(), line};
    return {line.left(equals), line.mid(equals + 1)};
}

TLineBinding BindDefinitionLine(qsizetype index) {
    using K = TLineBinding::TKind;
    if (index == 0)
        return {K::Address, 0};
    if (index == 1)
        return {K::Port, 0};
    if (index >= kFirstItemLine && index <= kLastSlotLine)
        return {K::Slot, int(index - kFirstItemLine + 1)};
    return {};
}
