#ifndef SHAREDLINK_H
#define SHAREDLINK_H

#include "connection.h"

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>

class QThread;

// How a SharedLink looks after itself.
struct SharedLinkUpkeep {
    // The first wait before connecting again; each failed attempt doubles it,
    // up to maxRetryMs.
    int firstRetryMs = 500;
    int maxRetryMs = 10000;
    // Without requests for this long, the link is checked with the
    // identification query; no reply means the instrument is gone.
    int idleCheckMs = 5000;
};

// One link to the instrument, shared by every client of the server. Lives on
// the server's main thread; the instrument is reached through the panel's
// Connection on a worker thread of its own, so no call here ever waits on it.
//
// Requests from all clients go to the instrument one at a time, each
// client's in the order it submitted them. Clients take turns, so one with
// many slow requests queued holds each other up by about one request. A
// client holding the lock has its requests served first; the other clients'
// requests stay queued until it lets go. What the queue holds is bounded,
// per client and in all.
//
// The link looks after itself: when the instrument goes away (the TCP link
// ends, or an idle check gets no reply), the queued requests fail at once and
// the link is tried again, with a back-off growing up to SharedLinkUpkeep::maxRetryMs.
class SharedLink : public QObject
{
    Q_OBJECT
public:
    using ClientId = quint64;

    struct Outcome {
        enum Status {
            // A query's reply is in `reply`, trimmed of its line end.
            Replied,
            // A command went out to the instrument.
            Sent,
            // A query got no reply in time, or over USB its read failed; or
            // the request waited behind another client's lock for longer
            // than its client may (see LockWait).
            NoReply,
            // The link is down, or went down before the request was served.
            LinkDown,
            // Refused by the server's own rules (see RequestText::refusal) or
            // its queue bounds; nothing was sent, and the log says why.
            Refused,
        };
        Status status;
        QString reply;
    };
    using Done = std::function<void(const Outcome &)>;

    // Where the instrument is: over USB when `usb` is set, else (or when no
    // USB instrument answers) over TCP/IP at `host`:`port` when a host is given.
    // Over USB, only the instrument with serial number `serial`, unless empty.
    struct Target {
        bool usb = false;
        QString host;
        int port = 0;
        QString serial;
    };

    // What the link has done for the server's clients, for its metrics.
    struct Counters {
        // Requests of clients that reached an outcome (Outcome::Status), and
        // those of them that failed: NoReply, LinkDown or Refused. Requests
        // dropped with their client unserved, and the link's own
        // identification checks, are not counted.
        quint64 requests = 0;
        quint64 failed = 0;
        // Clients added and not removed yet.
        quint64 clients = 0;
        // Times the link went down after it had come up.
        quint64 linkLosses = 0;
    };

    // Request text queued for one client at most, in bytes (the command
    // language is ASCII); requests beyond it are refused until some are served.
    static constexpr qint64 MaxQueuedBytesPerClient = 256 * 1024;
    // Request text queued for all clients together at most, in bytes.
    static constexpr qint64 MaxQueuedBytes = 4 * 1024 * 1024;

    // How long a client's requests may wait behind another client's lock.
    enum class LockWait {
        // As long as the lock is held: the client bounds the wait itself.
        Unbounded,
        // The reply time of the connection timings, then they fail (NoReply).
        ReplyTime,
    };

    explicit SharedLink(const Target &target, const ConnectionTimings &timings = {},
                        const SharedLinkUpkeep &upkeep = {}, QObject *parent = nullptr);
    // Closes the link and stops the worker, waiting for it at most
    // WorkerJoinBoundMs (see workerjoin.h for a worker that outlasts it).
    ~SharedLink() override;
    SharedLink(const SharedLink &) = delete;
    SharedLink &operator=(const SharedLink &) = delete;

    // Makes the first attempt to connect; later ones follow by themselves.
    void start();
    // Refuses every request that is not a query from now on.
    void setReadOnly(bool on);

    // A client came: `peer` names it in the log ("127.0.0.1:40212").
    ClientId addClient(const QString &peer, LockWait lockWait = LockWait::Unbounded);
    // The server's own client, as addClient(), but neither it nor its
    // requests are in counters(); its status queries are read over USB after
    // the instrument's status read delay, as `rfctl status` reads them.
    ClientId addOwnClient(const QString &name);
    // The client is gone: its queued requests are dropped, the reply to its
    // request in flight is thrown away, and a lock it held is released. No
    // `done` of its requests is called afterwards.
    void removeClient(ClientId client);

    // Judges `text` (RequestText: a query, a command, or refused) and queues
    // it. `done` is called exactly once, on this thread, after submit() has
    // returned (also for a request refused or failed at once), unless the
    // client is removed or cleared first. No `done` runs inside submit(),
    // and none inside another `done`, so either may be called from the other.
    void submit(ClientId client, const QString &text, const Done &done);
    // Drops the client's queued requests and the reply to its request in
    // flight, without calling their `done`.
    void clear(ClientId client);

    // Takes the lock, or when another client holds it, waits at most `waitMs`
    // (0: not at all). `granted` is called once, on this thread: true when
    // the client now holds the lock (also when it already did).
    void lock(ClientId client, int waitMs, const std::function<void(bool granted)> &granted);
    // False when the client did not hold the lock.
    bool unlock(ClientId client);
    // True when a client other than `client` holds the lock.
    bool lockedByOther(ClientId client) const;

    bool linkUp() const;
    // The instrument's reply to the identification query when the link last
    // came up; empty before that.
    QString identification() const;
    // Why the link is down, in words for the operator; empty while it is up.
    QString problem() const;
    // Since the link was made; `clients` is as of now.
    Counters counters() const;

signals:
    // The link came up or went down.
    void linkChanged(bool up);
    // The counters, the clients or the lock's holder changed.
    void stateChanged();

private:
    struct Request {
        ClientId client;
        quint64 epoch;
        QString text;
        Done done;
        // When it began to wait behind another client's lock; -1: it does not.
        qint64 blockedSince = -1;
    };
    struct Client {
        QString peer;
        LockWait lockWait = LockWait::Unbounded;
        // Raised by clear(): outcomes of requests made before it are dropped.
        quint64 epoch = 0;
        // Its requests are being refused for the queue bounds; logged once.
        bool overBounds = false;
        // The server's own (addOwnClient).
        bool own = false;
    };
    struct LockWaiter {
        ClientId client;
        std::function<void(bool)> granted;
        QTimer *deadline;
    };
    struct Attempt;
    class RequestQueue;

    bool stillWanted(const Request &request) const;
    void finishLater(const Request &request, Outcome::Status status);
    void tally(const Request &request, Outcome::Status status);
    bool withinBounds(ClientId id, Client &client, const QString &text);
    void expireLockWaits();
    void pumpLater();
    void pump();
    void send(Request request);
    void requestEnded(const Outcome &outcome);
    void checkIdle();
    void connectNow();
    void attemptEnded(const Attempt &attempt);
    void statusChanged(connStatus_t status);
    void goDown(const QString &reason);
    void failQueued();
    void passLock();
    void grantLater(ClientId client, const std::function<void(bool)> &granted, bool yes);
    void dropWaiters(ClientId client);

    // What the connection said during the request on the worker; touched
    // only there.
    struct Heard {
        std::optional<QString> reply;
        bool delivered = false;
    };

    const Target target;
    const int replyWaitMs;
    const SharedLinkUpkeep upkeep;
    QThread *worker;
    Connection *connection;
    Heard heard;
    bool up = false;
    bool readOnly = false;
    QString identity;
    QString downReason;
    int retryMs;
    QTimer retry;
    QTimer idle;
    // When the last request ended, on `clock`.
    qint64 lastActive = 0;
    ClientId lastClient = 0;
    QHash<ClientId, Client> clients;
    std::unique_ptr<RequestQueue> queue;
    // Counters::clients is taken from `clients` when asked for.
    Counters counted;
    // A pump() is on its way through the event loop.
    bool pumpQueued = false;
    // Fires when the next request waiting behind a lock has waited too long.
    QTimer lockWaits;
    QElapsedTimer clock;
    // The request on the worker: set from send() until its outcome is back.
    // Its `done` is dropped when the client goes or clears, or the link fails.
    std::optional<Request> inFlight;
    ClientId lockHolder = 0;
    QList<LockWaiter> waiters;
};

#endif
