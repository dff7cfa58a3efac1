#include "sharedlink.h"

#include "servelog.h"
#include "workerjoin.h"

#include <QThread>
#include <algorithm>

namespace
{
const QString IdentifyQuery = QStringLiteral("*IDN?");

QString seconds(int ms)
{
    return QString::number(ms / 1000.0, 'f', 1);
}
} // namespace

// What one connect attempt found, reported from the worker.
struct SharedLink::Attempt {
    bool accepted = false;
    QString identification;
};

SharedLink::SharedLink(const Target &target, const ConnectionTimings &timings, QObject *parent)
    : QObject(parent), target(target), worker(new QThread), connection(new Connection(timings))
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
    idle.setInterval(IdleCheckMs);
    connect(&idle, &QTimer::timeout, this, &SharedLink::checkIdle);
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

SharedLink::ClientId SharedLink::addClient(const QString &peer)
{
    clients.insert(++lastClient, Client{peer});
    serveLog(QStringLiteral("client %1 connected").arg(peer));
    return lastClient;
}

void SharedLink::removeClient(ClientId client)
{
    const auto found = clients.find(client);
    if (found == clients.end())
        return;
    serveLog(QStringLiteral("client %1 disconnected").arg(found->peer));
    // Outcomes of its requests still on their way are no longer wanted.
    clients.erase(found);
    dropQueued(client);
    dropWaiters(client);
    unlock(client);
}

bool SharedLink::isQuery(const QString &text)
{
    return text.trimmed().endsWith('?');
}

void SharedLink::submit(ClientId client, const QString &text, const Done &done)
{
    const auto found = clients.constFind(client);
    if (found == clients.constEnd())
        return;
    if (readOnly && !isQuery(text)) {
        serveLog(QStringLiteral("refused from %1 (read-only): %2").arg(found->peer, text));
        finishLater({client, found->epoch, text, done}, Outcome::Refused);
        return;
    }
    if (!up) {
        finishLater({client, found->epoch, text, done}, Outcome::LinkDown);
        return;
    }
    queue.append({client, found->epoch, text, done});
    pump();
}

void SharedLink::clear(ClientId client)
{
    const auto found = clients.find(client);
    if (found == clients.end())
        return;
    ++found->epoch;
    dropQueued(client);
}

void SharedLink::dropQueued(ClientId client)
{
    queue.erase(std::remove_if(queue.begin(), queue.end(),
                               [client](const Request &r) { return r.client == client; }),
                queue.end());
}

bool SharedLink::stillWanted(const Request &request) const
{
    const auto found = clients.constFind(request.client);
    return found != clients.constEnd() && found->epoch == request.epoch;
}

void SharedLink::finishLater(const Request &request, Outcome::Status status)
{
    QMetaObject::invokeMethod(
        this,
        [this, request, status] {
            if (stillWanted(request))
                request.done({status, {}});
        },
        Qt::QueuedConnection);
}

void SharedLink::pump()
{
    if (inFlight || !up)
        return;
    for (int i = 0; i < queue.size(); ++i) {
        if (lockedByOther(queue.at(i).client))
            continue;
        send(queue.takeAt(i));
        return;
    }
}

// Runs the request on the worker and reports its outcome back here. The
// connection's signals for it are taken on the worker, directly, so they
// cannot mix with another request's.
void SharedLink::send(const Request &request)
{
    idle.stop();
    inFlight = request;
    const bool query = isQuery(request.text);
    QMetaObject::invokeMethod(
        connection,
        [this, c = connection, text = request.text, query] {
            heard = Heard();
            if (query)
                c->query(text, MODE_RAW);
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
    const Request request = *inFlight;
    inFlight.reset();
    Outcome told = outcome;
    // The link went down while the request was on the worker.
    if (!up && told.status == Outcome::NoReply)
        told.status = Outcome::LinkDown;
    if (request.done && (request.client == 0 || stillWanted(request)))
        request.done(told);
    // The connection takes the next line for the late reply of a query that
    // got none in time and drops it; that must not be another client's reply.
    if (up && request.client != 0 && told.status == Outcome::NoReply) {
        send({0, 0, IdentifyQuery, nullptr});
        return;
    }
    if (up && queue.isEmpty())
        idle.start();
    pump();
}

void SharedLink::checkIdle()
{
    if (inFlight || !up || !queue.isEmpty())
        return;
    send({0, 0, IdentifyQuery, [this](const Outcome &o) {
              if (o.status == Outcome::NoReply)
                  goDown(QStringLiteral("no reply to %1").arg(IdentifyQuery));
          }});
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
                c->connectUSB();
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
        if (retryMs == FirstRetryMs)
            serveLog(QStringLiteral("link down: no instrument reached; retrying every %1 s at "
                                    "most")
                         .arg(seconds(MaxRetryMs)));
        retry.start(retryMs);
        retryMs = qMin(retryMs * 2, MaxRetryMs);
        return;
    }
    up = true;
    retryMs = FirstRetryMs;
    identity = attempt.identification;
    serveLog(QStringLiteral("link up: %1").arg(identity));
    emit linkChanged(true);
    idle.start();
    pump();
}

void SharedLink::statusChanged(connStatus_t status)
{
    if (up && !status.tcpConnected && !status.usbConnected)
        goDown(QStringLiteral("the instrument closed the link"));
}

void SharedLink::goDown(const QString &reason)
{
    up = false;
    idle.stop();
    serveLog(QStringLiteral("link down: %1; reconnecting").arg(reason));
    failQueued();
    QMetaObject::invokeMethod(connection, &Connection::closeConnection, Qt::QueuedConnection);
    emit linkChanged(false);
    retryMs = FirstRetryMs;
    retry.start(retryMs);
    retryMs *= 2;
}

void SharedLink::failQueued()
{
    if (inFlight && inFlight->done) {
        finishLater(*inFlight, Outcome::LinkDown);
        inFlight->done = nullptr;
    }
    for (const Request &r : queue)
        finishLater(r, Outcome::LinkDown);
    queue.clear();
}

void SharedLink::lock(ClientId client, int waitMs, const std::function<void(bool granted)> &granted)
{
    if (!clients.contains(client))
        return;
    if (lockHolder == 0 || lockHolder == client) {
        lockHolder = client;
        grantLater(client, granted, true);
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
    pump();
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
