#pragma once

#include "app/application.h"
#include "controls/open_dialog.h"
#include "testsupport/run_until.h"

#include <QDir>
#include <QFile>
#include <QList>
#include <QTcpServer>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <deque>
#include <sys/socket.h>
#include <unistd.h>

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

// Writes content to path, whole or not at all.
inline bool WriteFile(const QString& path, const QByteArray& content) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
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
        WriteFile(path, content);
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

// A loopback port where a connect stays in progress: it listens with a
// backlog of none, filled by a connection of its own, so the kernel drops
// every further SYN and nothing is ever accepted.
class NeverAcceptingPort {
public:
    NeverAcceptingPort() {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        const auto* any = reinterpret_cast<sockaddr*>(&address);
        ::bind(m_listener, any, length);
        ::listen(m_listener, 0);
        ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length);
        ::connect(m_filler, any, length);
        port = ntohs(address.sin_port);
    }
    ~NeverAcceptingPort() {
        ::close(m_filler);
        ::close(m_listener);
    }
    NeverAcceptingPort(const NeverAcceptingPort&) = delete;
    NeverAcceptingPort& operator=(const NeverAcceptingPort&) = delete;

    quint16 port = 0;

private:
    const int m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int m_filler = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
};
