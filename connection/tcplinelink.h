#ifndef TCPLINELINK_H
#define TCPLINELINK_H

#include <QByteArray>
#include <QString>
#include <optional>

class QElapsedTimer;
class QTcpSocket;

// The instrument's line framing over TCP: a query goes out as one line and
// the instrument answers every query it knows with exactly one line (one it
// does not know gets no reply at all). Runs on the connection's worker and
// blocks it; every wait gives up when the worker is asked to stop.
class TcpLineLink
{
public:
    struct Timings {
        int writeWaitMs;
        int replyWaitMs;
        // How long an instrument that has never ended a reply with a line
        // feed must be silent before its reply counts as complete.
        int quietGapMs;
    };

    // A reply is not waited for past this many bytes without a line feed.
    static constexpr int MaxReplyBytes = 64 * 1024;

    // `socket` stays the caller's, who connects and closes it.
    TcpLineLink(QTcpSocket *socket, const Timings &timings);

    // Called before each attempt to connect to `peer` (host and port): a
    // new link owes no replies, and an instrument at another address must
    // show again how it ends its replies.
    void startLink(const QString &peer);
    // Hands `text` and its line feed to the socket whole, however long (a
    // cut line would reach the instrument as a different command); false
    // when the socket did not take all of it. Does not wait for the write.
    bool writeLine(const QString &text);
    // Sends `query` and waits for its reply: the line without its line feed,
    // trimmed. Nothing when the write or the wait failed, the reply was
    // unusable (see the debug lines) or the link ended.
    std::optional<QString> exchange(const QString &query);

private:
    void forgetStaleBytes();
    bool waitWritten();
    std::optional<QByteArray> nextLine(const QElapsedTimer &clock);
    bool usable(const QByteArray &line) const;
    bool connected() const;

    QTcpSocket *const socket;
    const Timings timings;
    QString peer;
    // The instrument at `peer` has ended a reply with a line feed, so its
    // replies are complete only at their line feed.
    bool lineFeedSeen = false;
    // An earlier query gave up before its reply line came; see exchange().
    bool replyOwed = false;
};

#endif
