#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QLoggingCategory>
#include <QObject>
#include <QString>

#include <optional>

class QTcpServer;

// One line per connection and per command, at info level.
Q_DECLARE_LOGGING_CATEGORY(lcSim)

// How the simulated controller treats every connection. Counters are per
// connection and start at the first command; 0 switches a counter off.
struct SimBehaviour {
    int delayMs = 0;     // wait before each reply
    int split = 1;       // pieces per reply (1: whole)
    int splitGapMs = 10; // wait between two pieces of a reply
    int dropEvery = 0;   // every Nth command gets no reply
    bool silent = false; // no command gets a reply
    int closeAfter = 0;  // orderly close once the Nth command is dealt with
    int resetAfter = 0;  // abort with RST once the Nth command is dealt with
    bool flood = false;  // after connect, stream bytes that never hold "]"
    bool stampReplies =
        false;             // "reply <CLOCK_MONOTONIC ns>" on stdout as a reply's last byte goes out
    qint64 floodBytes = 0; // flood total per connection; 0: no end
    // Misbehaviours of broken controllers and networks:
    bool urgent = false;        // an urgent (MSG_OOB) NUL byte in the middle of each reply
    int dripMs = 0;             // each reply one byte at a time, this long apart; 0: off
    int resetInReply = 0;       // abort with RST halfway through the Nth command's reply
    int halfCloseInReply = 0;   // shut down sending halfway through the Nth command's reply
    bool closeOnAccept = false; // orderly close as soon as a connection is accepted
    bool hangOnAccept = false;  // accept, then never read a command nor reply
    int bracketBurst = 0;       // this many "]" after each reply, in the same write
    QByteArray greeting;        // sent when a connection is accepted
    int greetAfterMs = 0;       // the greeting waits this long after the accept
    int longReply = 0;          // this many euro signs (3 bytes each) after each reply's "["
    bool wrongReading = false;  // the temperature reads out of range (kWrongTemperature)
    // A reply's delay counts from its own command's arrival, not from the
    // reply before: every sending is answered, earlier answers or not.
    bool pipelined = false;
    int repeatAfterMs = 0; // each reply goes out again this long after it went out; 0: off
    QByteArray suffix;     // bytes right after each reply's "]", part of its last piece
};

// The bytes a command-line text stands for, written the way the runner shows
// bytes: \\, \r, \n, \t and \xNN (two hex digits); everything else as UTF-8.
// Nothing for any other backslash.
std::optional<QByteArray> UnescapedText(const QString& text);

// Cuts the byte stream of one connection into commands. A command ends at
// "]". CR and LF belong to no command, so line breaks between commands and
// inside them (the tool's "[0A!?" CR LF "psl]" CR LF) vanish. A command that
// grows past kMaxCommand bytes without its "]" is thrown away.
class CommandFramer {
public:
    static constexpr qsizetype kMaxCommand = 64 * 1024;

    // Appends bytes; returns the commands they complete, in order, each with
    // its final "]".
    QList<QByteArray> Feed(const QByteArray& bytes);

private:
    QByteArray m_partial;
};

// The controller's reply to one whole command (as Feed returns it). It names
// the unit and request of the command and always ends in "]": "[0A!?v]" gets
// "[0A!v=1.00.11]"; a request the controller does not know, or a command
// without "!", gets the command's body followed by "=OK". With `wrongReading`
// the temperature request gets kWrongTemperature instead of its usual 38.5.
inline constexpr char kWrongTemperature[] = "rt=72.5";
QByteArray ReplyTo(const QByteArray& command, bool wrongReading = false);

// A simulated display controller: a TCP server whose connections each answer
// commands as SimBehaviour says, independently of one another.
class ControllerSim : public QObject {
    Q_OBJECT

public:
    explicit ControllerSim(const SimBehaviour& behaviour, QObject* parent = nullptr);

    // Starts listening (port 0: any free port). False, with ErrorString()
    // saying why, when it cannot.
    bool Listen(const QHostAddress& address, quint16 port);
    quint16 ServerPort() const;
    QString ErrorString() const;

    // Connections accepted and not yet deleted; a closed one goes on the next
    // pass of the event loop.
    int ConnectionCount() const;

private:
    void AcceptConnections();

    SimBehaviour m_behaviour;
    QTcpServer* m_server;
    int m_lastConnectionId = 0;
};
