#ifndef TCPLINELINK_H
#define TCPLINELINK_H

#include "replystep.h"

#include <QByteArray>
#include <QString>
#include <optional>

class QElapsedTimer;
class QTcpSocket;

// The instrument's line framing over TCP: a query goes out as one line and
// the instrument answers every query it knows with exactly one line, in the
// order of the queries (one it does not know gets no reply at all). Runs on
// the connection's worker and blocks it; every wait gives up when the worker
// is asked to stop.
class TcpLineLink
{
public:
    struct Timings {
        int writeWaitMs;
        int replyWaitMs;
        // How long an instrument that has never ended a reply with a line
        // feed must be silent before its reply counts as complete. The gap
        // may run past replyWaitMs; a reply still coming after replyWaitMs
        // gives up, so it is never taken cut.
        int quietGapMs;
    };

    // A longer reply is refused, and not waited for past this many bytes.
    static constexpr int MaxReplyBytes = 64 * 1024;

    // `socket` stays the caller's, who connects and closes it.
    TcpLineLink(QTcpSocket *socket, const Timings &timings);

    // Called before each attempt to connect to `peer` (host and port): a
    // new link owes no replies, and an instrument at another address must
    // show again how it ends its replies. The first exchange of a link
    // should be ReplyStep::MarkerQuery: its reply is how the link recognises the
    // marker's replies later.
    void startLink(const QString &peer);
    // Hands `text` and its line feed to the socket whole, however long (a
    // cut line would reach the instrument as a different command); false
    // when the socket did not take all of it, and the link is then closed.
    // Does not wait for the write.
    bool writeLine(const QString &text);
    // Sends `query` and waits for its reply: the line without its line feed,
    // trimmed. Nothing when the write or the wait failed, the reply was
    // unusable (see the debug lines) or the link ended. A query that gave up
    // leaves the link out of step: the next exchange first sends
    // ReplyStep::MarkerQuery and drops every line up to the marker's own reply, and
    // gives up without sending its query when that reply does not come in
    // time. A line that could not be written in time closes the link, so
    // that it never goes out later, or half of it in front of another.
    std::optional<QString> exchange(const QString &query);

private:
    bool catchUp();
    std::optional<QByteArray> ask(const QString &query);
    bool send(const QString &query);
    void dropUnsolicited();
    void closeUnwritten();
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
    ReplyStep step;
};

#endif
