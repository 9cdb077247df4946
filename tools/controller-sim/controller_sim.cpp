#include "controller_sim.h"

#include <QElapsedTimer>
#include <QQueue>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <cstdio>
#include <ctime>
#include <sys/socket.h>

Q_LOGGING_CATEGORY(lcSim, "controller-sim", QtInfoMsg)

QList<QByteArray> CommandFramer::Feed(const QByteArray& bytes) {
    QList<QByteArray> commands;
    for (const char c : bytes) {
        if (c == '\r' || c == '\n')
            continue;
        m_partial.append(c);
        if (c == ']') {
            commands.append(m_partial);
            m_partial.clear();
        } else if (m_partial.size() >= kMaxCommand) {
            m_partial.clear();
        }
    }
    return commands;
}

namespace {

// Requests the controller knows (the text after "!") and what it answers.
struct KnownRequest {
    const char* request;
    const char* answer;
};

constexpr KnownRequest kKnownRequests[] = {
    {"?v", "v=1.00.11"},        // firmware version
    {"?rt", "rt=38.5"},         // temperature, degrees Celsius
    {"?psl", "psl=412"},        // light sensor level, lux
    {"?b", "b=80"},             // brightness, percent
    {"?bl", "bl=ON"},           // backlight
    {"?rv", "rv=12.1,5.0,3.3"}, // supply rails, volts
    {"?s", "s=0000"},           // fault bits, none set
    {"p", "p=ACK"},             // poll
    {"?sn", "sn=ZS-004711"},    // serial number
    {"?ut", "ut=86400"},        // uptime, seconds
    {"?fan", "fan=2400"},       // fan speed, rpm
};

QByteArray KnownAnswer(const QByteArray& request) {
    for (const KnownRequest& known : kKnownRequests) {
        if (request == known.request)
            return known.answer;
    }
    return {};
}

// Near-equal, non-empty pieces (fewer than asked when the reply is shorter).
QList<QByteArray> SplitReply(const QByteArray& reply, int pieces) {
    QList<QByteArray> result;
    const qsizetype n = reply.size();
    qsizetype start = 0;
    for (int i = 1; i <= pieces; ++i) {
        const qsizetype end = n * i / pieces;
        if (end > start)
            result.append(reply.mid(start, end - start));
        start = end;
    }
    return result;
}

// A long reply's filler: the euro sign, three bytes in UTF-8, so that a cut
// through it is a cut inside a character.
QByteArray EuroSigns(int count) {
    return QByteArray("\xe2\x82\xac").repeated(count);
}

// Four KiB per flood write; a new chunk only goes in once the socket's own
// buffer has drained, so a client that does not read costs no memory.
constexpr qsizetype kFloodChunk = 4096;

// One accepted client. Replies and the final close or reset run through one
// queue, in the order the commands came, each after its wait.
class SimConnection : public QObject {
    Q_OBJECT

public:
    SimConnection(QTcpSocket* socket, const SimBehaviour& behaviour, int id, QObject* parent)
        : QObject(parent), m_socket(socket), m_behaviour(behaviour), m_id(id),
          m_floodLeft(behaviour.floodBytes > 0 ? behaviour.floodBytes : -1) {
        m_socket->setParent(this);
        m_timer.setSingleShot(true);
        // Split and delay tests measure gaps; a coarse timer may fire early.
        m_timer.setTimerType(Qt::PreciseTimer);
        connect(&m_timer, &QTimer::timeout, this, &SimConnection::RunNextStep);
        if (!m_behaviour.hangOnAccept)
            connect(m_socket, &QTcpSocket::readyRead, this, &SimConnection::ReadCommands);
        connect(m_socket, &QTcpSocket::disconnected, this, &SimConnection::Finish);
        qCInfo(lcSim).noquote() << QStringLiteral("#%1 connected from %2:%3")
                                       .arg(m_id)
                                       .arg(m_socket->peerAddress().toString())
                                       .arg(m_socket->peerPort());
        m_clock.start();
        if (m_behaviour.greetAfterMs > 0)
            QTimer::singleShot(m_behaviour.greetAfterMs, this, &SimConnection::Greet);
        else
            Greet();
        if (m_behaviour.closeOnAccept) {
            End(StepKind::Close);
        } else if (m_behaviour.flood) {
            connect(m_socket, &QTcpSocket::bytesWritten, this, &SimConnection::Flood);
            Flood();
        }
    }

private:
    enum class StepKind { Send, SendUrgent, Close, Reset, HalfClose };
    struct Step {
        int waitMs; // after the step before
        StepKind kind;
        QByteArray bytes;
        qint64 dueMs = -1;      // when set, due then on m_clock rather than after waitMs
        bool endsReply = false; // the last piece of a reply
    };

    void Greet() {
        // A late greeting finds the connection closed or closing.
        if (!m_behaviour.greeting.isEmpty() && m_socket->state() == QAbstractSocket::ConnectedState)
            m_socket->write(m_behaviour.greeting);
    }

    void ReadCommands() {
        const QList<QByteArray> commands = m_framer.Feed(m_socket->readAll());
        for (const QByteArray& command : commands) {
            // Whatever comes after the last command is read and ignored, so
            // the close is a FIN and not a reset for unread data.
            if (m_ending)
                return;
            Answer(command);
        }
    }

    void Answer(const QByteArray& command) {
        ++m_commands;
        const QByteArray reply = ReplyTo(command, m_behaviour.wrongReading);
        QByteArray outcome = reply;
        if (m_behaviour.silent) {
            outcome = "no reply (silent)";
        } else if (m_behaviour.dropEvery > 0 && m_commands % m_behaviour.dropEvery == 0) {
            outcome = "no reply (dropped)";
        } else if (m_commands == m_behaviour.resetInReply) {
            outcome = EndInReply(reply, StepKind::Reset) + ", then reset";
        } else if (m_commands == m_behaviour.halfCloseInReply) {
            outcome = EndInReply(reply, StepKind::HalfClose) + ", then half-close";
        } else {
            // A drip keeps its pace from one reply to the next as well.
            const int wait = m_behaviour.delayMs + m_behaviour.dripMs;
            const QByteArray sent = reply + m_behaviour.suffix;
            EnqueueReply(sent, wait, m_behaviour.pipelined ? m_clock.elapsed() + wait : -1);
            if (m_behaviour.repeatAfterMs > 0) {
                outcome += ", again " + QByteArray::number(m_behaviour.repeatAfterMs) + " ms later";
                EnqueueReply(sent, m_behaviour.repeatAfterMs, -1);
            }
        }
        if (m_ending) {
            // The reply above already ends the connection.
        } else if (m_commands == m_behaviour.resetAfter) {
            outcome += ", then reset";
            End(StepKind::Reset);
        } else if (m_commands == m_behaviour.closeAfter) {
            outcome += ", then close";
            End(StepKind::Close);
        }
        qCInfo(lcSim).nospace() << "#" << m_id << " command " << m_commands << " " << command
                                << " -> " << outcome.constData();
    }

    void End(StepKind kind, int waitMs = 0) {
        m_ending = true;
        Enqueue({waitMs, kind, {}});
    }

    // The reply's pieces: the first after firstWaitMs (or at dueMs), each
    // further one GapMs() after the one before.
    void EnqueueReply(const QByteArray& reply, int firstWaitMs, qint64 dueMs) {
        QList<Step> steps = ReplySteps(reply);
        for (Step& step : steps)
            step.waitMs = GapMs();
        steps.first().waitMs = firstWaitMs;
        steps.first().dueMs = dueMs;
        steps.last().endsReply = true;
        for (const Step& step : steps)
            Enqueue(step);
    }

    int GapMs() const {
        return m_behaviour.dripMs > 0 ? m_behaviour.dripMs : m_behaviour.splitGapMs;
    }

    // The pieces of a reply, each sent GapMs() after the one before. An
    // urgent byte or a long filler shapes the whole reply; otherwise it drips
    // or goes in `split` pieces, a "]" burst included.
    QList<Step> ReplySteps(const QByteArray& reply) const {
        if (m_behaviour.urgent) {
            const qsizetype middle = reply.size() / 2;
            return {{0, StepKind::Send, reply.left(middle)},
                    {0, StepKind::SendUrgent, QByteArray(1, '\0')},
                    {0, StepKind::Send, reply.mid(middle)}};
        }
        if (m_behaviour.longReply > 0) {
            const qsizetype end = reply.lastIndexOf(']');
            return {{0, StepKind::Send,
                     reply.left(1) + EuroSigns(m_behaviour.longReply) + reply.mid(1, end - 1)},
                    {0, StepKind::Send, reply.mid(end)}};
        }
        const QByteArray whole = reply + QByteArray(m_behaviour.bracketBurst, ']');
        const int pieces = m_behaviour.dripMs > 0 ? int(whole.size()) : m_behaviour.split;
        QList<Step> steps;
        for (const QByteArray& piece : SplitReply(whole, pieces))
            steps.append({0, StepKind::Send, piece});
        return steps;
    }

    // Sends the first half of the reply, then ends the connection as `kind`
    // says, a split gap later. Returns what was sent.
    QByteArray EndInReply(const QByteArray& reply, StepKind kind) {
        const QByteArray half = reply.left(reply.size() / 2);
        Enqueue({m_behaviour.delayMs, StepKind::Send, half});
        End(kind, m_behaviour.splitGapMs);
        return half;
    }

    void Enqueue(const Step& step) {
        m_steps.enqueue(step);
        if (m_steps.size() == 1)
            StartNextStep();
    }

    void StartNextStep() {
        const Step& next = m_steps.head();
        m_timer.start(next.dueMs < 0 ? next.waitMs
                                     : int(qMax<qint64>(0, next.dueMs - m_clock.elapsed())));
    }

    void RunNextStep() {
        const Step step = m_steps.dequeue();
        switch (step.kind) {
        case StepKind::Send:
            m_socket->write(step.bytes);
            // Each piece goes out now, not coalesced with the next one.
            m_socket->flush();
            if (m_behaviour.stampReplies && step.endsReply)
                StampReply();
            break;
        case StepKind::SendUrgent:
            m_socket->flush();
            // TCP marks the last byte of an MSG_OOB send as urgent.
            ::send(Descriptor(), step.bytes.constData(), size_t(step.bytes.size()),
                   MSG_OOB | MSG_NOSIGNAL);
            break;
        case StepKind::Close:
            // Closes once everything written has gone out.
            m_socket->disconnectFromHost();
            return;
        case StepKind::Reset:
            Reset();
            return;
        case StepKind::HalfClose:
            // A FIN while commands are still read; the connection ends when
            // the client closes its side.
            m_socket->flush();
            ::shutdown(Descriptor(), SHUT_WR);
            return;
        }
        if (!m_steps.isEmpty())
            StartNextStep();
    }

    // For a benchmark in another process: the same clock as its steady clock.
    static void StampReply() {
        timespec now{};
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        std::printf("reply %lld\n", (long long)now.tv_sec * 1000000000LL + now.tv_nsec);
        std::fflush(stdout);
    }

    // What the kernel does not take at once is lost, as with any reset.
    void Reset() {
        m_socket->flush();
        // A zero linger time makes close() send RST instead of FIN (socket(7)).
        const linger abortive{1, 0};
        ::setsockopt(Descriptor(), SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
        m_socket->abort();
        Finish();
    }

    int Descriptor() const { return int(m_socket->socketDescriptor()); }

    void Flood() {
        if (m_ending || m_floodLeft == 0 || m_socket->bytesToWrite() > 0)
            return;
        const qsizetype size = m_floodLeft < 0 ? kFloodChunk : qMin(kFloodChunk, m_floodLeft);
        m_socket->write(QByteArray(size, 'x'));
        if (m_floodLeft > 0)
            m_floodLeft -= size;
    }

    void Finish() {
        if (m_finished)
            return;
        m_finished = true;
        m_timer.stop();
        qCInfo(lcSim).nospace() << "#" << m_id << " closed after " << m_commands << " commands";
        deleteLater();
    }

    QTcpSocket* m_socket;
    const SimBehaviour m_behaviour;
    const int m_id;
    CommandFramer m_framer;
    QQueue<Step> m_steps;
    QTimer m_timer;
    QElapsedTimer m_clock; // since the accept
    int m_commands = 0;
    qint64 m_floodLeft; // bytes still to flood; -1: no end
    bool m_ending = false;
    bool m_finished = false;
};

} // namespace

std::optional<QByteArray> UnescapedText(const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    // -1 past the end or for anything but a hex digit.
    const auto hexDigit = [&](qsizetype k) {
        const char c = k < utf8.size() ? utf8[k] : 'g';
        return c >= 'A' && c <= 'F' ? c - 'A' + 10 : int(QByteArray("0123456789abcdef").indexOf(c));
    };
    QByteArray bytes;
    for (qsizetype i = 0; i < utf8.size(); ++i) {
        const char escape = utf8[i] == '\\' && i + 1 < utf8.size() ? utf8[i + 1] : '\0';
        const qsizetype simple = QByteArray("\\rnt").indexOf(escape);
        if (utf8[i] != '\\') {
            bytes += utf8[i];
        } else if (simple >= 0) {
            bytes += "\\\r\n\t"[simple];
            i += 1;
        } else if (escape == 'x' && hexDigit(i + 2) >= 0 && hexDigit(i + 3) >= 0) {
            bytes += char(hexDigit(i + 2) * 16 + hexDigit(i + 3));
            i += 3;
        } else {
            return std::nullopt;
        }
    }
    return bytes;
}

QByteArray ReplyTo(const QByteArray& command, bool wrongReading) {
    QByteArray body = command.chopped(1);
    if (body.startsWith('['))
        body.remove(0, 1);
    const qsizetype bang = body.indexOf('!');
    if (bang >= 0) {
        const QByteArray request = body.mid(bang + 1);
        const QByteArray answer =
            wrongReading && request == "?rt" ? QByteArray(kWrongTemperature) : KnownAnswer(request);
        if (!answer.isEmpty())
            return '[' + body.left(bang + 1) + answer + ']';
    }
    return '[' + body + "=OK]";
}

ControllerSim::ControllerSim(const SimBehaviour& behaviour, QObject* parent)
    : QObject(parent), m_behaviour(behaviour), m_server(new QTcpServer(this)) {
    connect(m_server, &QTcpServer::newConnection, this, &ControllerSim::AcceptConnections);
}

bool ControllerSim::Listen(const QHostAddress& address, quint16 port) {
    return m_server->listen(address, port);
}

quint16 ControllerSim::ServerPort() const {
    return m_server->serverPort();
}

QString ControllerSim::ErrorString() const {
    return m_server->errorString();
}

int ControllerSim::ConnectionCount() const {
    return int(findChildren<SimConnection*>(Qt::FindDirectChildrenOnly).size());
}

void ControllerSim::AcceptConnections() {
    while (QTcpSocket* socket = m_server->nextPendingConnection())
        new SimConnection(socket, m_behaviour, ++m_lastConnectionId, this);
}

#include "controller_sim.moc"
