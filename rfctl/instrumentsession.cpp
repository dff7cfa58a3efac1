#include "instrumentsession.h"

#include "connection.h"
#include "instrumentcommands.h"
#include "workerjoin.h"

#include <QEventLoop>
#include <QPointer>
#include <QTimer>

InstrumentSession::InstrumentSession(int timeoutMs)
    : timeoutMs(timeoutMs), connection(new Connection)
{
    worker->setObjectName("connection");
    connection->moveToThread(worker);
    connect(worker, &QThread::finished, connection, &QObject::deleteLater);
    // Queued: the outcomes arrive on this thread before the end of the
    // request that produced them is reported.
    connect(connection, &Connection::connStatusChanged, this,
            [this](connStatus_t s) { linkStatus = s; });
    const auto connectFinished = [this](const QString &result, const QString &identification) {
        connectResult = result;
        identity = identification;
    };
    connect(connection, &Connection::tcpConnFinished, this, connectFinished);
    connect(connection, &Connection::usbConnFinished, this, connectFinished);
    connect(connection, &Connection::queryResponse, this,
            [this](const QString &r, calling_mode_t) { reply = r; });
    connect(connection, &Connection::commandDelivered, this,
            [this](bool delivered) { commandWentOut = delivered; });
    connect(connection, &Connection::networkSettingsReady, this,
            [this](const QString &ip, const QString &subnet, const QString &gateway, int port) {
                network = NetworkSettingsFile::Settings{ip, subnet, gateway, port};
            });
    connect(connection, &Connection::inventoryReady, this,
            [this](const QList<ModuleInfo> &found) { modules = found; });
    connect(connection, &Connection::usbFound, this, [this](int result, const QStringList &found) {
        usbFound = {result, found};
    });
    connect(connection, &Connection::usbProbed, this,
            [this](const QString &identification) { probed = identification; });
    worker->start();
}

InstrumentSession::~InstrumentSession()
{
    if (!timedOut)
        run([c = connection] { c->closeConnection(); });
    worker->quit();
    if (joinWorker(worker))
        delete worker;
}

bool InstrumentSession::run(const std::function<void()> &job)
{
    // The worker is still busy with the request that ran out of time.
    if (timedOut)
        return false;
    const quint64 request = ++lastRequest;
    // A request may end after the session is gone: a close that runs out of
    // time leaves the worker running. So its end is posted to the worker's
    // thread object, which lives on this thread and is never deleted while
    // the worker runs, and reaches the session only while that exists.
    QMetaObject::invokeMethod(
        connection,
        [session = QPointer<InstrumentSession>(this), thread = worker, job, request] {
            job();
            QMetaObject::invokeMethod(
                thread,
                [session, request] {
                    if (!session)
                        return;
                    session->finishedRequest = request;
                    emit session->requestFinished();
                },
                Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
    QEventLoop loop;
    connect(this, &InstrumentSession::requestFinished, &loop, &QEventLoop::quit);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    timedOut = finishedRequest != request;
    return !timedOut;
}

std::optional<QString> InstrumentSession::connectUsb(const QString &serial)
{
    connectResult.reset();
    if (!run([c = connection, serial] { c->connectUSBSerial(serial); }))
        return std::nullopt;
    return connectResult;
}

std::optional<QPair<int, QStringList>> InstrumentSession::findUsb()
{
    if (!run([c = connection] { c->findUSB(); }))
        return std::nullopt;
    return usbFound;
}

std::optional<QString> InstrumentSession::probeUsb(const QString &resource)
{
    probed.clear();
    if (!run([c = connection, resource] { c->probeUSB(resource); }))
        return std::nullopt;
    return probed;
}

std::optional<QString> InstrumentSession::connectTcp(const QString &host, int port)
{
    connectResult.reset();
    if (!run([c = connection, host, port] { c->connectTCPTo(host, port); }))
        return std::nullopt;
    return connectResult;
}

connStatus_t InstrumentSession::status() const
{
    return linkStatus;
}

QString InstrumentSession::identification() const
{
    return identity;
}

std::optional<QString> InstrumentSession::query(const QString &text)
{
    return ask(text, MODE_RAW);
}

std::optional<QString> InstrumentSession::readStatus()
{
    return ask(InstrumentCommands::statusQuery(), MODE_STATUS);
}

std::optional<QString> InstrumentSession::ask(const QString &text, calling_mode_t mode)
{
    reply.reset();
    if (!run([c = connection, text, mode] { c->query(text, mode); }))
        return std::nullopt;
    return reply;
}

std::optional<QString> InstrumentSession::readStoredStates()
{
    return ask(InstrumentCommands::storedStatesQuery(), MODE_STATE_LIST);
}

bool InstrumentSession::command(const QString &text)
{
    commandWentOut = false;
    return run([c = connection, text] { c->deliverCommand(text); }) && commandWentOut;
}

std::optional<NetworkSettingsFile::Settings> InstrumentSession::readNetworkSettings()
{
    network.reset();
    if (!run([c = connection] { c->query(QString(), MODE_NETWORK); }))
        return std::nullopt;
    return network;
}

QList<ModuleInfo> InstrumentSession::usbInventory()
{
    modules.clear();
    if (!run([c = connection] { c->readInventory(); }))
        return {};
    return modules;
}

bool InstrumentSession::stuck() const
{
    return timedOut;
}
