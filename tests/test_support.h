#pragma once

#include "app/application.h"
#include "controls/open_dialog.h"
#include "testsupport/run_until.h"

#include <QDir>
#include <QFile>
#include <QList>
#include <QTcpServer>
#include <QTemporaryDir>

#include <deque>

// Stands in for the operator at message boxes: records every box and answers
// from a script (Yes when the script is empty).
class MessageBoxRecorder {
public:
    MessageBoxRecorder() {
        Application().messageBox = [this](const TMessageBoxRequest& request) {
            boxes.append(request);
            if (answers.empty())
                return request.buttons == TMsgButtons::YesNo ? TMsgAnswer::Yes : TMsgAnswer::Ok;
            const TMsgAnswer answer = answers.front();
            answers.pop_front();
            return answer;
        };
    }
    ~MessageBoxRecorder() { Application().RestoreDefaultRoutines(); }
    MessageBoxRecorder(const MessageBoxRecorder&) = delete;
    MessageBoxRecorder& operator=(const MessageBoxRecorder&) = delete;

    QStringList Texts() const {
        QStringList texts;
        for (const TMessageBoxRequest& box : boxes)
            texts.append(box.text);
        return texts;
    }

    QList<TMessageBoxRequest> boxes;
    std::deque<TMsgAnswer> answers;
};

// Stands in for the operator at the open dialog: picks `fileName` (or
// cancels after typing it, when `confirm` is false).
inline void AnswerOpenDialog(const QString& fileName, bool confirm = true) {
    Application().openDialog = [fileName, confirm](TOpenDialog& dialog) {
        dialog.FileName = fileName;
        return confirm;
    };
}

// A temporary working folder for the duration of a test.
class WorkingFolder {
public:
    WorkingFolder() : m_previous(QDir::currentPath()) { QDir::setCurrent(m_dir.path()); }
    ~WorkingFolder() { QDir::setCurrent(m_previous); }
    WorkingFolder(const WorkingFolder&) = delete;
    WorkingFolder& operator=(const WorkingFolder&) = delete;

    QString Write(const QString& name, const QByteArray& content) const {
        const QString path = m_dir.filePath(name);
        QFile file(path);
        if (file.open(QIODevice::WriteOnly))
            file.write(content);
        return path;
    }
    QString Path(const QString& name) const { return m_dir.filePath(name); }

private:
    QTemporaryDir m_dir;
    QString m_previous;
};

// Open descriptors of this process: a leak check.
inline qsizetype OpenDescriptorCount() {
    return QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System).size();
}

// A loopback port on which nobody listens.
inline quint16 RefusedPort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}
