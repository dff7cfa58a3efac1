#include "simserver.h"

#include "simconnection.h"

#include <QMutex>
#include <QMutexLocker>
#include <QSemaphore>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <cstdio>

namespace
{

bool startsWithCaseless(const QByteArray &text, const QByteArray &prefix)
{
    return text.left(prefix.size()).toLower() == prefix.toLower();
}

} // namespace

// The server thread: listens, owns every client and runs until asked to quit.
// Everything shared with callers on other threads sits behind `lock`.
struct SimServer::Private : public QThread {
    explicit Private(const InstrumentModel::Config &config) : model(config) {}

    mutable QMutex lock;
    InstrumentModel model;
    QList<QByteArray> received;
    int receivedBytes = 0;
    Fault fault = Fault::None;
    int faultMs = 0;
    QByteArray faultPrefix;
    QList<QPair<QByteArray, QByteArray>> replies;
    bool verbose = false;

    std::atomic<quint16> boundPort{0};
    std::atomic<int> clients{0};
    quint16 requestedPort = 0;
    bool listening = false;
    QSemaphore ready;

    void run() override
    {
        QTcpServer server;
        listening = server.listen(QHostAddress::LocalHost, requestedPort);
        if (!listening) {
            ready.release();
            return;
        }
        boundPort = server.serverPort();
        {
            QMutexLocker locker(&lock);
            model.setPort(boundPort);
        }
        QObject::connect(&server, &QTcpServer::newConnection, &server, [this, &server] {
            while (QTcpSocket *socket = server.nextPendingConnection()) {
                auto *connection = new SimConnection(
                    socket, [this](const QByteArray &line) { return answer(line); }, &server);
                ++clients;
                QObject::connect(connection, &SimConnection::finished, &server,
                                 [this](SimConnection *c) {
                                     --clients;
                                     c->deleteLater();
                                 });
            }
        });
        // Report readiness from inside the event loop, so a quit() issued right
        // after start() returns can never be lost.
        QTimer::singleShot(0, &server, [this] { ready.release(); });
        exec();
        server.close();
        clients = 0;
    }

    void record(const QByteArray &line)
    {
        received.append(line);
        receivedBytes += line.size();
        while (received.size() > RecordedLines || receivedBytes > RecordedBytes)
            receivedBytes -= received.takeFirst().size();
    }

    QList<SimConnection::Step> answer(const QByteArray &line)
    {
        QMutexLocker locker(&lock);
        record(line);
        std::optional<QByteArray> reply = model.execute(line);
        const QByteArray lowered = line.trimmed().toLower();
        for (const auto &override : replies) {
            if (override.first == lowered)
                reply = override.second;
        }
        if (verbose)
            std::fprintf(stderr, "<< %s\n>> %s\n", line.constData(),
                         reply ? reply->constData() : "(no reply)");
        if (!reply)
            return {};
        const QByteArray text = *reply + '\n';
        if (fault == Fault::None || !startsWithCaseless(line.trimmed(), faultPrefix))
            return {{0, text, false}};
        switch (fault) {
        case Fault::None:
            break;
        case Fault::NoReply:
            return {};
        case Fault::SplitReply: {
            const int half = qMax(1, text.size() / 2);
            if (half >= text.size())
                return {{0, text, false}};
            return {{0, text.left(half), false}, {faultMs, text.mid(half), false}};
        }
        case Fault::EmptyReply:
            return {{0, "\n", false}};
        case Fault::OverheatReply:
            return {{0, "OH NO!\n", false}};
        case Fault::DelayReply:
            return {{faultMs, text, false}};
        case Fault::CloseConnection:
            return {{0, {}, true}};
        case Fault::Unterminated:
            return {{0, *reply, false}};
        case Fault::ResetMidReply:
            return {{0, text.left(text.size() / 2), false}, {0, {}, true, true}};
        }
        return {{0, text, false}};
    }
};

SimServer::SimServer(const InstrumentModel::Config &config) : d(new Private(config)) {}

SimServer::~SimServer()
{
    stop();
}

bool SimServer::start(quint16 port)
{
    stop();
    d->requestedPort = port;
    d->start();
    d->ready.acquire();
    if (!d->listening) {
        d->wait();
        return false;
    }
    return true;
}

quint16 SimServer::port() const
{
    return d->boundPort;
}

void SimServer::stop()
{
    if (!d->isRunning())
        return;
    d->quit();
    d->wait();
}

QStringList SimServer::receivedLines() const
{
    QMutexLocker locker(&d->lock);
    QStringList lines;
    for (const QByteArray &line : d->received)
        lines.append(QString::fromUtf8(line));
    return lines;
}

void SimServer::clearReceived()
{
    QMutexLocker locker(&d->lock);
    d->received.clear();
    d->receivedBytes = 0;
}

int SimServer::connectionCount() const
{
    return d->clients;
}

void SimServer::setFault(Fault fault, int faultMs, const QByteArray &onlyFor)
{
    QMutexLocker locker(&d->lock);
    d->fault = fault;
    d->faultMs = faultMs;
    d->faultPrefix = onlyFor;
}

void SimServer::clearFault()
{
    setFault(Fault::None);
}

void SimServer::setReply(const QByteArray &query, const QByteArray &reply)
{
    QMutexLocker locker(&d->lock);
    d->replies.append({query.trimmed().toLower(), reply});
}

void SimServer::clearReplies()
{
    QMutexLocker locker(&d->lock);
    d->replies.clear();
}

void SimServer::withModel(const std::function<void(InstrumentModel &)> &f)
{
    QMutexLocker locker(&d->lock);
    f(d->model);
}

void SimServer::setVerbose(bool on)
{
    QMutexLocker locker(&d->lock);
    d->verbose = on;
}
