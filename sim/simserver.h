#ifndef SIMSERVER_H
#define SIMSERVER_H

#include "instrumentmodel.h"

#include <QByteArray>
#include <QStringList>
#include <functional>
#include <memory>

// The simulated instrument on a loopback TCP port. It runs on a thread of
// its own, so a test or the panel may block its own thread on the link
// without starving the instrument. Every public call is thread-safe.
class SimServer
{
public:
    // Misbehaviour on demand, applied to the replies of queries until cleared.
    enum class Fault {
        None,
        NoReply,         // the query is read but never answered
        SplitReply,      // the reply goes out in two TCP segments, faultMs apart
        EmptyReply,      // only the line feed is sent
        OverheatReply,   // "OH NO!" instead of the reply
        DelayReply,      // the reply is sent faultMs late
        CloseConnection, // the instrument closes the link instead of replying
        Unterminated,    // the reply goes out without its line feed
        ResetMidReply,   // half the reply goes out, then the link is reset
    };

    explicit SimServer(const InstrumentModel::Config &config = {});
    ~SimServer();
    SimServer(const SimServer &) = delete;
    SimServer &operator=(const SimServer &) = delete;

    // Listens on 127.0.0.1; port 0 picks a free one. False when it cannot bind.
    bool start(quint16 port = 0);
    quint16 port() const;
    void stop();

    // The lines received since start or the last clear, terminators stripped,
    // in order. Only the latest are kept, at most RecordedLines lines and
    // RecordedBytes bytes, so a long session or a flood cannot fill memory.
    static constexpr int RecordedLines = 1000;
    static constexpr int RecordedBytes = 1024 * 1024;
    QStringList receivedLines() const;
    void clearReceived();
    int connectionCount() const; // clients connected right now

    // A fault applies to queries whose text starts with `onlyFor` (case
    // insensitive; empty = every query).
    void setFault(Fault fault, int faultMs = 0, const QByteArray &onlyFor = {});
    void clearFault();

    // Replaces the model's reply to `query` (exact text, case insensitive) by
    // `reply`; the line feed is still appended. Cleared by clearReplies().
    void setReply(const QByteArray &query, const QByteArray &reply);
    void clearReplies();

    // Runs `f` on the model under the server's lock.
    void withModel(const std::function<void(InstrumentModel &)> &f);

    // Logs every received line and its reply to stderr.
    void setVerbose(bool on);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

#endif
