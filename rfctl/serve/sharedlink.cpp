#include "sharedlink.h"

#include "instrumentcommands.h"
#include "requestqueue.h"
#include "requesttext.h"
#include "servelog.h"
#include "workerjoin.h"

#include <QThread>

namespace
{
const QString IdentifyQuery = QStringLiteral("*IDN?");
const QString Connecting = QStringLiteral("connecting to the instrument");

// Of a request's text, the log shows this much at most.
constexpr int LoggedChars = 80;

QString seconds(int ms)
{
    return QString::number(ms / 1000.0, 'f', 1);
}

// A request as one log line shows it: shortened, control characters escaped.
QString shown(const QString &text)
{
    QString line;
    for (const QChar c : text.left(LoggedChars))
        line += c.unicode() < 0x20
                    ? QStringLiteral("\\x%1").arg(int(c.unicode()), 2, 16, QChar('0'))
                    : QString(c);
    return text.size() > LoggedChars ? line + QStringLiteral("...") : line;
}
} // namespace

// What one connect attempt found, reported from the worker.
struct SharedLink::Attempt {
    bool accepted = false;
    QString identification;
};

SharedLink::SharedLink(const Target &target, const ConnectionTimings &timings,
                       const SharedLinkUpkeep &upkeep, QObject *parent)
    : QObject(parent), target(target), replyWaitMs(timings.tcpReplyWaitMs), upkeep(upkeep),
      worker(new QThread), connection(new Connection(timings)), downReason(Connecting),
      retryMs(upkeep.firstRetryMs), queue(std::make_unique<RequestQueue>())
{
    worker->setObjectName("connection");
    connection->moveToThread(worker);
    connect(worker, &QThread::finished, connection, &QObject::deleteLater);
    connect(connection, &Connection::connStatusChanged, this, &SharedLink::statusChanged);
    // Direct: taken on the worker while the request that caused them runs.
    connect(
        connection, &Connection::queryResponse, connection,
        [this](const QString &r, calling_mode_t) { heard.reply = r; }, Qt::DirectConnection);
    connect(
        connection, &Connection::commandDelivered, connection,
        [this](bool d) { heard.delivered = d; }, Qt::DirectConnection);
    retry.setSingleShot(true);
    connect(&retry, &QTimer::timeout, this, &SharedLink::connectNow);
    idle.setSingleShot(true);
    connect(&idle, &QTimer::timeout, this, &SharedLink::checkIdle);
    lockWaits.setSingleShot(true);
    connect(&lockWaits, &QTimer::timeout, this, &SharedLink::expireLockWaits);
    clock.start();
    worker->start();
}

SharedLink::~SharedLink()
{
    // A wait on the instrument in progress gives up at its next stop check.
    worker->requestInterruption();
    QMetaObject::invokeMethod(connection, &Connection::closeConnection, Qt::QueuedConnection);
    worker->quit();
    if (joinWorker(worker))
        delete worker;
}

void SharedLink::start()
{
    connectNow();
}

void SharedLink::setReadOnly(bool on)
{
    readOnly = on;
}

SharedLink::ClientId SharedLink::addClient(const QString &peer, LockWait lockWait)
{
    clients.insert(++lastClient, Client{peer, lockWait});
    serveLog(QStringLiteral("client %1 connected").arg(peer));
    emit stateChanged();
    return lastClient;
}

SharedLink::ClientId SharedLink::addOwnClient(const QString &name)
{
    const ClientId id = addClient(name);
    clients[id].own = true;
    return id;
}

void SharedLink::removeClient(ClientId client)
{
    const auto found = clients.find(client);
    if (found == clients.end())
        return;
    serveLog(QStringLiteral("client %1 disconnected").arg(found->peer));
    queue->drop(client, true);
    // Outcomes of its requests still on their way are no longer wanted.
    clients.erase(found);
    dropWaiters(client);
    unlock(client);
    emit stateChanged();
}

void SharedLink::submit(ClientId client, const QString &text, const Done &done)
{
    const auto found = clients.find(client);
    if (found == clients.end())
        return;
    const Request request{client, found->epoch, text, done};
    const QString refusal = RequestText::refusal(text, readOnly);
    if (!refusal.isEmpty()) {
        serveLog(QStringLiteral("refused from %1 (%2): %3").arg(found->peer, refusal, shown(text)));
        finishLater(request, Outcome::Refused);
    } else if (!up) {
        finishLater(request, Outcome::LinkDown);
    } else if (!withinBounds(client, *found, text)) {
        finishLater(request, Outcome::Refused);
    } else {
        queue->push(request);
        if (lockedByOther(client))
            expireLockWaits();
        // Only hands the request to the worker: its outcome comes back
        // through the event loop.
        pump();
    }
}

// Whether `text` still fits the queue bounds; the first refusal of a run is
// logged.
bool SharedLink::withinBounds(ClientId id, Client &client, const QString &text)
{
    const qint64 size = text.size();
    const qint64 own = queue->bytes(id) + size;
    const qint64 all = queue->bytes() + size;
    const bool fits = own <= MaxQueuedBytesPerClient && all <= MaxQueuedBytes;
    if (!fits && !client.overBounds)
        serveLog(QStringLiteral("refusing requests from %1: its queued requests would reach "
                                "%2 bytes, those of all clients %3")
                     .arg(client.peer)
                     .arg(own)
                     .arg(all));
    client.overBounds = !fits;
    return fits;
}

// Fails the requests of LockWait::ReplyTime clients that have waited behind
// another client's lock for the reply time, and wakes up when the next one
// will have.
void SharedLink::expireLockWaits()
{
    const qint64 now = clock.elapsed();
    qint64 next = -1;
    const QList<Request> expired = queue->takeIf([&](Request &r) {
        const auto found = clients.constFind(r.client);
        if (found == clients.constEnd() || found->lockWait == LockWait::Unbounded ||
            !lockedByOther(r.client)) {
            r.blockedSince = -1;
            return false;
        }
        if (r.blockedSince < 0)
            r.blockedSince = now;
        const qint64 due = r.blockedSince + replyWaitMs;
        if (due <= now)
            return true;
        next = next < 0 ? due : qMin(next, due);
        return false;
    });
    for (const Request &r : expired)
        finishLater(r, Outcome::NoReply);
    if (next < 0)
        lockWaits.stop();
    else
        lockWaits.start(int(next - now));
}

void SharedLink::clear(ClientId client)
{
    const auto found = clients.find(client);
    if (found == clients.end())
        return;
    ++found->epoch;
    queue->drop(client);
}

bool SharedLink::stillWanted(const Request &request) const
{
    const auto found = clients.constFind(request.client);
    return found != clients.constEnd() && found->epoch == request.epoch;
}

void SharedLink::finishLater(const Request &request, Outcome::Status status)
{
    tally(request, status);
    QMetaObject::invokeMethod(
        this,
        [this, request, status] {
            if (stillWanted(request))
                request.done({status, {}});
        },
        Qt::QueuedConnection);
}

void SharedLink::tally(const Request &request, Outcome::Status status)
{
    const auto found = clients.constFind(request.client);
    if (request.client == 0 || (found != clients.constEnd() && found->own))
        return;
    ++counted.requests;
    if (status != Outcome::Replied && status != Outcome::Sent)
        ++counted.failed;
    emit stateChanged();
}

// From the event loop, for a queue that moves on inside a caller's call (a
// client that goes, a lock let go). Whoever pumps, one request at most is
// ever on the worker.
void SharedLink::pumpLater()
{
    if (pumpQueued)
        return;
    pumpQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            pumpQueued = false;
            pump();
        },
        Qt::QueuedConnection);
}

// Sends the next request (RequestQueue::takeNext); the server's own
// (client 0) are never held back by a lock.
void SharedLink::pump()
{
    if (inFlight || !up)
        return;
    std::optional<Request> next = queue->takeNext(lockHolder);
    if (next)
        send(std::move(*next));
}

// Runs the request on the worker and reports its outcome back here. The
// connection's signals for it are taken on the worker, directly, so they
// cannot mix with another request's.
void SharedLink::send(Request request)
{
    inFlight = std::move(request);
    const bool query = RequestText::isQuery(inFlight->text);
    const auto found = clients.constFind(inFlight->client);
    const calling_mode_t mode = found != clients.constEnd() && found->own &&
                                        inFlight->text == InstrumentCommands::statusQuery()
                                    ? MODE_STATUS
                                    : MODE_RAW;
    QMetaObject::invokeMethod(
        connection,
        [this, c = connection, text = inFlight->text, query, mode] {
            heard = Heard();
            if (query)
                c->query(text, mode);
            else
                c->deliverCommand(text);
            Outcome outcome{Outcome::NoReply, {}};
            if (heard.reply)
                outcome = {Outcome::Replied, *heard.reply};
            else if (!query)
                outcome.status = heard.delivered ? Outcome::Sent : Outcome::LinkDown;
            QMetaObject::invokeMethod(
                this, [this, outcome] { requestEnded(outcome); }, Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
}

void SharedLink::requestEnded(const Outcome &outcome)
{
    const Request request = std::move(*inFlight);
    inFlight.reset();
    lastActive = clock.elapsed();
    Outcome told = outcome;
    // The link went down while the request was on the worker.
    if (!up && told.status == Outcome::NoReply)
        told.status = Outcome::LinkDown;
    // The connection takes the next line for the late reply of a query that
    // got none in time and drops it; that must not be another client's
    // reply, so the server's own query goes next.
    // The server's own reads keep the link from ever being idle long enough
    // for its check, so one that gets no reply stands for that check.
    const auto found = clients.constFind(request.client);
    const bool gone =
        up && told.status == Outcome::NoReply && found != clients.constEnd() && found->own;
    if (up && !gone && request.client != 0 && told.status == Outcome::NoReply)
        queue->push({0, 0, IdentifyQuery, nullptr}, true);
    // Without its `done`, the request was failed already (failQueued).
    if (request.done)
        tally(request, told.status);
    if (request.done && (request.client == 0 || stillWanted(request)))
        request.done(told);
    if (gone && up)
        goDown(QStringLiteral("no reply to %1").arg(shown(request.text)));
    // Called from the event loop, and the `done` has returned.
    pump();
}

// Looks again once the link has been without requests for the idle time;
// the timer is not moved on each request, which would cost it a stop and a
// start every time.
void SharedLink::checkIdle()
{
    if (!up)
        return;
    const qint64 quiet = clock.elapsed() - lastActive;
    if (inFlight || quiet < upkeep.idleCheckMs) {
        idle.start(inFlight ? upkeep.idleCheckMs : int(upkeep.idleCheckMs - quiet));
        return;
    }
    idle.start(upkeep.idleCheckMs);
    queue->push({0, 0, IdentifyQuery,
                 [this](const Outcome &o) {
                     if (o.status == Outcome::NoReply)
                         goDown(QStringLiteral("no reply to %1").arg(IdentifyQuery));
                 }},
                true);
    pumpLater();
}

void SharedLink::connectNow()
{
    QMetaObject::invokeMethod(
        connection,
        [this, c = connection, target = target] {
            Attempt attempt;
            const auto took = [&attempt](const QString &result, const QString &identification) {
                attempt.accepted = !result.isEmpty() && result != QLatin1String("-1") &&
                                   result != QLatin1String("-2");
                attempt.identification = identification;
            };
            const QMetaObject::Connection usb =
                connect(c, &Connection::usbConnFinished, c, took, Qt::DirectConnection);
            const QMetaObject::Connection tcp =
                connect(c, &Connection::tcpConnFinished, c, took, Qt::DirectConnection);
            if (target.usb)
                c->connectUSBSerial(target.serial);
            if (!attempt.accepted && !target.host.isEmpty())
                c->connectTCPTo(target.host, target.port);
            disconnect(usb);
            disconnect(tcp);
            // A TCP/IP instrument that did not identify keeps its link up.
            if (!attempt.accepted)
                c->closeConnection();
            QMetaObject::invokeMethod(
                this, [this, attempt] { attemptEnded(attempt); }, Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
}

void SharedLink::attemptEnded(const Attempt &attempt)
{
    if (!attempt.accepted) {
        // After a loss, its reason still tells the most.
        if (downReason == Connecting) {
            downReason = QStringLiteral("no instrument reached");
            emit stateChanged();
        }
        if (retryMs == upkeep.firstRetryMs)
            serveLog(QStringLiteral("link down: no instrument reached; retrying every %1 s at "
                                    "most")
                         .arg(seconds(upkeep.maxRetryMs)));
        retry.start(retryMs);
        retryMs = qMin(retryMs * 2, upkeep.maxRetryMs);
        return;
    }
    up = true;
    downReason.clear();
    retryMs = upkeep.firstRetryMs;
    identity = attempt.identification;
    serveLog(QStringLiteral("link up: %1").arg(identity));
    emit linkChanged(true);
    lastActive = clock.elapsed();
    idle.start(upkeep.idleCheckMs);
    pumpLater();
}

void SharedLink::statusChanged(connStatus_t status)
{
    if (up && !status.tcpConnected && !status.usbConnected)
        goDown(QStringLiteral("the instrument closed the link"));
}

void SharedLink::goDown(const QString &reason)
{
    up = false;
    downReason = reason;
    ++counted.linkLosses;
    idle.stop();
    serveLog(QStringLiteral("link down: %1; reconnecting").arg(reason));
    failQueued();
    QMetaObject::invokeMethod(connection, &Connection::closeConnection, Qt::QueuedConnection);
    emit linkChanged(false);
    retryMs = upkeep.firstRetryMs;
    retry.start(retryMs);
    retryMs = qMin(retryMs * 2, upkeep.maxRetryMs);
}

void SharedLink::failQueued()
{
    if (inFlight && inFlight->done) {
        finishLater(*inFlight, Outcome::LinkDown);
        inFlight->done = nullptr;
    }
    for (const Request &r : queue->takeIf([](const Request &) { return true; }))
        finishLater(r, Outcome::LinkDown);
    lockWaits.stop();
}

void SharedLink::lock(ClientId client, int waitMs, const std::function<void(bool granted)> &granted)
{
    if (!clients.contains(client))
        return;
    if (lockHolder == 0 || lockHolder == client) {
        lockHolder = client;
        emit stateChanged();
        grantLater(client, granted, true);
        expireLockWaits();
        return;
    }
    if (waitMs <= 0) {
        grantLater(client, granted, false);
        return;
    }
    auto *deadline = new QTimer(this);
    deadline->setSingleShot(true);
    connect(deadline, &QTimer::timeout, this, [this, deadline] {
        for (int i = 0; i < waiters.size(); ++i) {
            if (waiters.at(i).deadline == deadline) {
                const LockWaiter late = waiters.takeAt(i);
                late.granted(false);
                break;
            }
        }
        deadline->deleteLater();
    });
    waiters.append({client, granted, deadline});
    deadline->start(waitMs);
}

bool SharedLink::unlock(ClientId client)
{
    if (client == 0 || lockHolder != client)
        return false;
    lockHolder = 0;
    passLock();
    emit stateChanged();
    expireLockWaits();
    pumpLater();
    return true;
}

bool SharedLink::lockedByOther(ClientId client) const
{
    return lockHolder != 0 && lockHolder != client;
}

// The first client still waiting gets the lock.
void SharedLink::passLock()
{
    if (waiters.isEmpty())
        return;
    const LockWaiter next = waiters.takeFirst();
    delete next.deadline;
    lockHolder = next.client;
    grantLater(next.client, next.granted, true);
}

void SharedLink::grantLater(ClientId client, const std::function<void(bool)> &granted, bool yes)
{
    QMetaObject::invokeMethod(
        this,
        [this, client, granted, yes] {
            if (clients.contains(client))
                granted(yes);
        },
        Qt::QueuedConnection);
}

void SharedLink::dropWaiters(ClientId client)
{
    for (int i = waiters.size() - 1; i >= 0; --i) {
        if (waiters.at(i).client == client)
            delete waiters.takeAt(i).deadline;
    }
}

bool SharedLink::linkUp() const
{
    return up;
}

QString SharedLink::identification() const
{
    return identity;
}

QString SharedLink::problem() const
{
    return downReason;
}

SharedLink::Counters SharedLink::counters() const
{
    Counters now = counted;
    for (const Client &client : clients)
        now.clients += client.own ? 0 : 1;
    return now;
}
