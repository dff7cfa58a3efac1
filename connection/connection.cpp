#include "connection.h"

#include "connectionlog.h"
#include "hardwareabstractionusb.h"
#include "identification.h"
#include "instrumentcommands.h"
#include "networksettingsfile.h"
#include "startupphase.h"
#include "storedstates.h"
#include "tcpconnectattempt.h"
#include "workerstop.h"
#include "workerwait.h"

#include <QDebug>
#include <QHostInfo>
#include <QStringList>
#include <QTcpSocket>
#include <QThread>

namespace
{
const QString NotConnected = QStringLiteral("-2");
const QString NoneAccepted = QStringLiteral("-1");

// The model field of an identification reply from the expected instrument.
std::optional<QString> acceptedModel(const QString &reply)
{
    const QStringList fields = reply.split(',', Qt::KeepEmptyParts);
    if (fields.size() >= 2 &&
        fields.at(1).startsWith(QLatin1String(Connection::ExpectedModel), Qt::CaseSensitive))
        return fields.at(1);
    qCDebug(lcConnection) << "Bad reply to *IDN?: not the identification of a"
                          << Connection::ExpectedModel;
    return std::nullopt;
}

// The serial number a VISA USB resource string carries
// ("USB0::0x2012::0x4417::SN000123::INSTR"); empty for any other name.
QString serialInName(const QString &name)
{
    const QStringList fields = name.split(QStringLiteral("::"));
    return name.startsWith(QLatin1String("USB"), Qt::CaseInsensitive) && fields.size() >= 4
               ? fields.at(3).trimmed()
               : QString();
}

// The instruments that may be the one with this serial number: those whose
// names carry it, and those whose names carry none, which must be asked.
// One whose name carries another is never opened: asking it who it is would
// put a reply into the traffic of whoever is using it.
QStringList candidatesFor(const QStringList &names, const QString &serial)
{
    QStringList candidates;
    for (const QString &name : names) {
        const QString named = serialInName(name);
        if (named.isEmpty() || named.compare(serial.trimmed(), Qt::CaseInsensitive) == 0)
            candidates.append(name);
    }
    return candidates;
}

// Every request first looks whether the worker was asked to stop
// (workerstop.h): once the panel closes, the requests still queued are
// dropped, and the one in progress gives up its wait.
using WorkerWait::waitInSlices;

// Why `reply` is not an answer of the kind `mode` asks for; empty when it is
// one. Raw replies are free text; a status is judged where it is shown, an
// identification and the network settings where they are taken apart.
QString shapeProblem(const QString &reply, calling_mode_t mode)
{
    return mode == MODE_STATE_LIST ? StoredStateList(reply).fault() : QString();
}

// Sleeps `ms`; false when the worker was asked to stop meanwhile.
bool pause(int ms)
{
    waitInSlices(ms, [](int slice) {
        QThread::msleep(ulong(slice));
        return false;
    });
    return !workerStopRequested();
}
} // namespace

Connection::Connection(const ConnectionTimings &timings, QObject *parent)
    : Connection(new HardwareAbstractionUSB, timings, parent)
{
}

Connection::Connection(HardwareAbstraction *hardware, const ConnectionTimings &timings,
                       QObject *parent)
    : QObject(parent), timings(timings), hardware(hardware), socket(new QTcpSocket(this)),
      lineLink(socket, {timings.tcpWriteWaitMs, timings.tcpReplyWaitMs, timings.replyQuietGapMs}),
      ipAddress("255.255.255.255"), subnet("255.255.255.255"), gateway("255.255.255.255"),
      port(65535)
{
    hardware->setParent(this);
    qRegisterMetaType<connStatus_t>("connStatus_t");
    qRegisterMetaType<calling_mode_t>("calling_mode_t");
    qRegisterMetaType<QList<ModuleInfo>>("QList<ModuleInfo>");
    status.tcpConnected = false;
    status.usbConnected = false;
    connect(socket, &QTcpSocket::disconnected, this, &Connection::socketDisconnected);
}

void Connection::connectUSB()
{
    connectUSBSerial(QString());
}

void Connection::connectUSBSerial(QString serial)
{
    if (workerStopRequested())
        return;
    usbResult = NoneAccepted;
    usbIdentification.clear();
    usbSerial = serial;
    // The listing opens every instrument in turn, so one still held open here
    // would be missed; and the flag must not outlive the instrument it names.
    if (status.usbConnected) {
        hardware->closeConnection();
        status.usbConnected = false;
    }
    // The listing takes every instrument's inventory; the one wanted is
    // chosen without asking the others anything.
    const QStringList names = serial.isEmpty()
                                  ? hardware->getDeviceList().second
                                  : candidatesFor(hardware->findDeviceNames().second, serial);
    if (names.isEmpty())
        usbResult = NotConnected;
    for (const QString &name : names) {
        if (hardware->openConnection(name) != 0)
            continue;
        usbStep.reset();
        status.usbConnected = true;
        // The instrument just opened must answer the identification itself,
        // even while the TCP link is up.
        const bool tcpWasConnected = status.tcpConnected;
        status.tcpConnected = false;
        query("*IDN?", MODE_IDENTIFY);
        status.tcpConnected = tcpWasConnected;
        if (usbResult != NoneAccepted)
            break;
    }
    emit connStatusChanged(status);
    emit usbConnFinished(usbResult, usbIdentification);
}

void Connection::findUSB()
{
    if (workerStopRequested())
        return;
    closeUSB();
    const QPair<int, QStringList> found = hardware->findDeviceNames();
    emit usbFound(found.first, found.second);
}

void Connection::probeUSB(QString resource)
{
    if (workerStopRequested())
        return;
    closeUSB();
    std::optional<QString> reply;
    if (hardware->openConnection(resource) == 0) {
        usbStep.reset();
        reply = usbExchange("*IDN?", MODE_IDENTIFY);
        hardware->closeConnection();
    }
    emit usbProbed(reply.value_or(QString()));
}

void Connection::connectTCP()
{
    if (workerStopRequested())
        return;
    qCDebug(lcConnection) << "connectTCP()";
    const std::optional<NetworkSettingsFile::Settings> settings = NetworkSettingsFile().read();
    if (!settings) {
        // Reported like any other failed attempt, so the panel re-enables its
        // connect button and tells the operator instead of waiting forever.
        qCDebug(lcConnection) << "Network settings file cannot be read";
        tcpResult = NotConnected;
        emit connStatusChanged(status);
        emit tcpConnFinished(tcpResult);
        return;
    }
    connectTCPTo(settings->ipAddress, settings->port);
}

void Connection::connectTCPTo(QString host, int port)
{
    if (workerStopRequested())
        return;
    // A fresh attempt never reports what an earlier one found.
    tcpResult.clear();
    tcpIdentification.clear();
    // Reconnecting always uses the address given now, not an old link.
    if (socket->state() != QAbstractSocket::UnconnectedState)
        socket->abort();
    lineLink.startLink(host + ':' + QString::number(port));
    if (connectSocket(host, quint16(port))) {
        // With Nagle's algorithm a command followed by a query waits for the
        // instrument's delayed acknowledgement.
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        markStartupPhase(StartupPhase::TcpConnected);
        status.tcpConnected = true;
        query("*IDN?", MODE_IDENTIFY);
        // The instrument may drop the link while identifying; then it is not up.
        if (!status.tcpConnected)
            tcpResult = NotConnected;
        emit connStatusChanged(status);
    } else {
        qCDebug(lcConnection) << "TCP not connected";
        socket->abort();
        tcpResult = NotConnected;
        emit connStatusChanged(status);
    }
    emit tcpConnFinished(tcpResult, tcpIdentification);
}

bool Connection::connectSocket(const QString &host, quint16 port)
{
    // A host name is looked up here: the socket's own lookup would need this
    // thread's event loop, which must stay with the queued requests.
    return TcpConnectAttempt::connectFirst(QHostInfo::fromName(host).addresses(), port,
                                           timings.tcpConnectWaitMs, socket);
}

void Connection::query(QString q, calling_mode_t mode)
{
    if (workerStopRequested())
        return;
    if (mode == MODE_NETWORK) {
        readNetworkSettings();
        return;
    }
    const bool overTcp = status.tcpConnected;
    std::optional<QString> reply;
    if (overTcp)
        reply = tcpExchange(q);
    else if (status.usbConnected)
        reply = usbExchange(q, mode);
    if (!reply) {
        // An instrument that does not identify itself is not the one wanted.
        if (mode == MODE_IDENTIFY && !overTcp && status.usbConnected)
            identifyUsb(QString());
        return;
    }
    if (mode == MODE_IDENTIFY) {
        if (overTcp)
            identifyTcp(*reply);
        else
            identifyUsb(*reply);
        return;
    }
    const QString problem = shapeProblem(*reply, mode);
    if (!problem.isEmpty()) {
        qCDebug(lcConnection).noquote() << QString("Bad reply to %1: %2").arg(q, problem);
        return;
    }
    emit queryResponse(*reply, mode);
}

void Connection::command(QString c)
{
    if (workerStopRequested())
        return;
    send(c);
}

void Connection::deliverCommand(QString c)
{
    if (workerStopRequested())
        return;
    emit commandDelivered(send(c));
}

// True when the command went out: into the socket, or to the USB transport.
bool Connection::send(const QString &c)
{
    // Sent when the event loop runs; commands get no reply and are not waited for.
    if (status.tcpConnected)
        return tcpLinkUsable() && lineLink.writeLine(c);
    if (status.usbConnected)
        return hardware->sendVISACommand(c) >= 0;
    return false;
}

void Connection::readInventory()
{
    if (workerStopRequested())
        return;
    emit inventoryReady(hardware->inventory());
}

void Connection::closeConnection()
{
    closeTCP();
    closeUSB();
}

void Connection::closeTCP()
{
    if (!status.tcpConnected)
        return;
    // Commands already handed to the socket go out before the link closes:
    // on closing the panel the worker's loop ends right behind this.
    socket->flush();
    socket->disconnectFromHost();
    status.tcpConnected = false;
    emit connStatusChanged(status);
}

void Connection::closeUSB()
{
    if (!status.usbConnected)
        return;
    hardware->closeConnection();
    status.usbConnected = false;
    emit connStatusChanged(status);
}

void Connection::socketDisconnected()
{
    status.tcpConnected = false;
    emit connStatusChanged(status);
}

void Connection::initRoutine()
{
    startUp();
    emit startupFinished();
}

void Connection::startUp()
{
    if (workerStopRequested())
        return;
    connectUSB();
    markStartupPhase(StartupPhase::UsbProbeDone);
    NetworkSettingsFile file;
    if (file.exists()) {
        qCDebug(lcConnection) << "file exists. trying to connect Tcp";
        connectTCP();
        if (status.tcpConnected)
            return;
        qCDebug(lcConnection) << "Tcp connection failed";
        if (!status.usbConnected)
            return;
        qCDebug(lcConnection) << "USB connected. trying to read network settings.";
        if (readNetworkSettings()) {
            qCDebug(lcConnection) << "saving network settings";
            qCDebug(lcConnection).noquote() << ipAddress;
            saveSettingsFile({ipAddress, subnet, gateway, port});
        }
        qCDebug(lcConnection) << "connecting tcp";
        connectTCP();
        return;
    }
    qCDebug(lcConnection) << "File does not exist.";
    saveSettingsFile(NetworkSettingsFile::defaults());
    // Without a USB link there is no way to learn the instrument's address,
    // so start-up ends with the default file in place.
    if (!status.usbConnected) {
        qCDebug(lcConnection) << "usb not connected";
        return;
    }
    qCDebug(lcConnection) << "USB Connected. Reading network settings.";
    if (readNetworkSettings()) {
        qCDebug(lcConnection) << "Saving network settings";
        saveSettingsFile({ipAddress, subnet, gateway, port});
    }
    qCDebug(lcConnection) << "attempting to connect tcp";
    connectTCP();
}

bool Connection::tcpLinkUsable()
{
    if (!status.tcpConnected)
        return false;
    if (socket->state() != QAbstractSocket::ConnectedState) {
        status.tcpConnected = false;
        emit connStatusChanged(status);
        return false;
    }
    return true;
}

std::optional<QString> Connection::tcpExchange(const QString &q)
{
    if (!tcpLinkUsable())
        return std::nullopt;
    return lineLink.exchange(q);
}

std::optional<QString> Connection::usbExchange(const QString &q, calling_mode_t mode)
{
    // A reply that came too late for its query would be read as this one's.
    if (!usbInStep()) {
        emit usbReplyMissing(mode);
        return std::nullopt;
    }
    if (hardware->sendVISACommand(q) < 0) {
        emit usbReplyMissing(mode);
        return std::nullopt;
    }
    if (mode == MODE_STATUS && !pause(timings.usbStatusReadDelayMs))
        return std::nullopt;
    const std::optional<QByteArray> reply = usbReply();
    usbStep.ended(q, reply);
    if (!reply) {
        emit usbReplyMissing(mode);
        return std::nullopt;
    }
    return QString::fromUtf8(*reply);
}

std::optional<QByteArray> Connection::usbReply()
{
    const QPair<int, QString> read = hardware->readVISAResponseString();
    const QString reply = read.second.trimmed();
    // A failed read also comes back as empty text; neither is a reply.
    if (read.first < 0 || reply.isEmpty())
        return std::nullopt;
    return reply.toUtf8();
}

bool Connection::usbInStep()
{
    if (usbStep.inStep())
        return true;
    if (hardware->sendVISACommand(QLatin1String(ReplyStep::MarkerQuery)) < 0)
        return false;
    if (usbStep.catchUp([this] { return usbReply(); }, false))
        return true;
    qCDebug(lcConnection) << "USB query not sent: the link is not back in step";
    return false;
}

std::optional<QString> Connection::networkExchange(const QString &q, bool overTcp)
{
    if (overTcp)
        return tcpExchange(q);
    if (!usbInStep())
        return std::nullopt;
    hardware->sendVISACommand(q);
    if (!pause(timings.usbNetworkReadPauseMs))
        return std::nullopt;
    const QPair<int, QString> reply = hardware->readVISAResponseString();
    // Empty text from a failed read is no setting; taking it would blank
    // the settings file and lose the instrument's address.
    if (reply.first < 0) {
        usbStep.lose();
        return std::nullopt;
    }
    return reply.second.trimmed();
}

void Connection::identifyTcp(const QString &reply)
{
    tcpIdentification = reply;
    if (const std::optional<QString> model = acceptedModel(reply)) {
        markStartupPhase(StartupPhase::Identified);
        tcpResult = *model;
    }
}

void Connection::identifyUsb(const QString &reply)
{
    usbIdentification = reply;
    const std::optional<QString> model = acceptedModel(reply);
    if (model && !usbSerial.isEmpty() && !Identification::of(reply).hasSerial(usbSerial)) {
        qCDebug(lcConnection).noquote()
            << QString("USB instrument %1 is not serial number %2").arg(reply, usbSerial);
    } else if (model) {
        markStartupPhase(StartupPhase::Identified);
        usbResult = *model;
        return;
    }
    hardware->closeConnection();
    status.usbConnected = false;
}

bool Connection::readNetworkSettings()
{
    static const char *const queries[] = {"enet:ip?", "enet:gateway?", "enet:submask?",
                                          "enet:port?"};
    const bool overTcp = status.tcpConnected;
    if (!overTcp && !status.usbConnected)
        return false;
    const int pauseMs = overTcp ? timings.networkReadPauseMs : timings.usbNetworkReadPauseMs;
    QStringList replies;
    for (const char *q : queries) {
        if (!replies.isEmpty() && !pause(pauseMs))
            return false;
        const std::optional<QString> reply = networkExchange(QString::fromLatin1(q), overTcp);
        if (!reply)
            return false;
        replies.append(*reply);
    }
    const QString newIp = replies.at(0);
    const QString newGateway = replies.at(1);
    const QString newSubnet = replies.at(2);
    // All four or none: a reply to another query in one's place must not
    // reach the dialog or the settings file.
    const QString problem =
        InstrumentCommands::networkSettingsProblem(newIp, newSubnet, newGateway, replies.at(3));
    if (!problem.isEmpty()) {
        qCDebug(lcConnection).noquote() << "Bad network settings reply:" << problem;
        return false;
    }
    const int newPort = NetworkSettingsFile::parsePort(replies.at(3));
    emit networkSettingsReady(newIp, newSubnet, newGateway, newPort);
    ipAddress = newIp;
    subnet = newSubnet;
    gateway = newGateway;
    port = newPort;
    return true;
}

// A file that cannot be written is left as it is; the operator hears of it,
// and the TCP attempt that follows reports whether the instrument can still
// be reached. Nor is it written once the worker was asked to stop: the
// program is closing, and a start-up cut short must not leave a file behind,
// least of all from a worker the bounded join left running.
void Connection::saveSettingsFile(const NetworkSettingsFile::Settings &settings)
{
    if (workerStopRequested())
        return;
    if (NetworkSettingsFile().write(settings))
        return;
    qCDebug(lcConnection) << "Network settings file could not be written";
    emit settingsFileWriteFailed();
}
