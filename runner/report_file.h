#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <memory>

class QFileDevice;

// A file the run reads, named the way messages name it.
struct TInputFile {
    const char* what; // "definition", "hosts file", ...
    QString fileName; // empty, or a file that does not exist: nothing to guard
};

// Refuses a report that would replace one of the inputs, by whatever path or
// link it names it (the same file system and inode): EConvertError "The
// report would overwrite the <what> <file name>".
void RefuseReportOverInputs(const QString& reportFile, const QList<TInputFile>& inputs);

// The file a report goes to, opened before the run so that a name that
// cannot be written is refused before anything connects. A regular file is
// written aside and renamed into place only when written whole, so a reader
// never sees half of one and a run that cannot write its report keeps the
// last one. A device or pipe under the name (/dev/stdout) is written as it
// is: there is nothing to rename.
class TReportFile {
public:
    // Throws EFOpenError "Cannot create file <name>" with the system's reason.
    explicit TReportFile(const QString& fileName);
    ~TReportFile();
    TReportFile(const TReportFile&) = delete;
    TReportFile& operator=(const TReportFile&) = delete;

    // Writes the report and puts it in place. A short write, an error on
    // flushing or syncing it (a full disk, an I/O error) or a failed rename
    // throws EFOpenError "Cannot write file <name>" with the reason, and leaves
    // nothing of the new report behind. Call once.
    void Commit(const QByteArray& bytes);

private:
    QString m_fileName;
    bool m_inPlace;
    std::unique_ptr<QFileDevice> m_file;
};
