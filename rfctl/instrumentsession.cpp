#include "instrumentsession.h"

#include "connection.h"
#include "hardwareabstractionusb.h"
#include "instrumentcommands.h"
#include "workerjoin.h"

#include <QEventLoop>
#include <QTimer>
#include <memory>

InstrumentSession::InstrumentSession(int timeoutMs)
    : timeoutMs(timeoutMs), usb(new HardwareAbstractionUSB), connection(new Connection(usb))
{
    worker->setObjectName("connection");
    connection->moveToThread(worker);
    connect(worker, &QThread::finished, connection, &QObject::deleteLater);
    // Queued: the outcomes arrive on this thread before the end of the
    // request that produced them is reported.
    connect(connection, &Connection::connStatusChanged, this,
            [this](connStatus_t s) { linkStatus = s; });
    connect(connection, &Connection::tcpConnFinished, this,
            [this](const QString &r) { connectResult = r; });
    connect(connection, &Connection::usbConnFinished, this,
            [this](const QString &r) { connectResult = r; });
    connect(connection, &Connection::queryResponse, this,
            [this](const QString &r, calling_mode_t) { reply = r; });
    connect(connection, &Connection::commandDelivered, this,
            [this](bool delivered) { commandWentOut = delivered; });
    connect(connection, &Connection::networkSettingsReady, this,
            [this](const QString &ip, const QString &subnet, const QString &gateway, int port) {
                network = NetworkSettingsFile::Settings{ip, subnet, gateway, port};
            });
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
    QMetaObject::invokeMethod(
        connection,
        [this, job, request] {
            job();
            QMetaObject::invokeMethod(
                this,
                [this, request] {
                    finishedRequest = request;
                    emit requestFinished();
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

std::optional<QString> InstrumentSession::connectUsb()
{
    connectResult.reset();
    if (!run([c = connection] { c->connectUSB(); }))
        return std::nullopt;
    return connectResult;
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

std::optional<QString> InstrumentSession::query(const QString &text)
{
    const calling_mode_t mode =
        text.compare(InstrumentCommands::statusQuery(), Qt::CaseInsensitive) == 0 ? MODE_STATUS
                                                                                  : MODE_RAW;
    reply.reset();
    if (!run([c = connection, text, mode] { c->query(text, mode); }))
        return std::nullopt;
    return reply;
}

std::optional<QString> InstrumentSession::readStoredStates()
{
    reply.reset();
    if (!run([c = connection] {
            c->query(InstrumentCommands::storedStatesQuery(), MODE_STATE_LIST);
        }))
        return std::nullopt;
    return reply;
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
    // Shared: a worker that runs out of time still writes it afterwards.
    const auto found = std::make_shared<QList<ModuleInfo>>();
    if (!run([u = usb, found] { *found = u->inventory(); }))
        return {};
    return *found;
}

bool InstrumentSession::stuck() const
{
    return timedOut;
}
