#include "connection.h"

#include "networksettingsfile.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QStringList>
#include <QTcpSocket>
#include <QThread>

namespace
{
const QString NotConnected = QStringLiteral("-2");
const QString ExpectedModelPrefix = QStringLiteral("KX4417");
} // namespace

Connection::Connection(QObject *parent)
    : QObject(parent), socket(new QTcpSocket(this)), ipAddress("255.255.255.255"),
      subnet("255.255.255.255"), gateway("255.255.255.255"), port(65535)
{
    qRegisterMetaType<connStatus_t>("connStatus_t");
    qRegisterMetaType<calling_mode_t>("calling_mode_t");
    status.tcpConnected = false;
    status.usbConnected = false;
    connect(socket, &QTcpSocket::disconnected, this, &Connection::socketDisconnected);
}

void Connection::connectUSB()
{
    // No USB transport is linked in, so no instrument can ever be listed.
    usbResult = NotConnected;
    emit connStatusChanged(status);
    emit usbConnFinished(usbResult);
}

void Connection::connectTCP()
{
    qDebug() << "connectTCP()";
    // A fresh attempt never reports what an earlier one found.
    tcpResult.clear();
    const std::optional<NetworkSettingsFile::Settings> settings = NetworkSettingsFile().read();
    if (!settings) {
        // Reported like any other failed attempt, so the panel re-enables its
        // connect button and tells the operator instead of waiting forever.
        qDebug() << "Network settings file cannot be read";
        tcpResult = NotConnected;
        emit connStatusChanged(status);
        emit tcpConnFinished(tcpResult);
        return;
    }
    // Reconnecting always uses the address in the file now, not an old link.
    if (socket->state() != QAbstractSocket::UnconnectedState)
        socket->abort();
    socket->connectToHost(settings->ipAddress, quint16(settings->port), QIODevice::ReadWrite,
                          QAbstractSocket::AnyIPProtocol);
    if (socket->waitForConnected(TcpConnectWaitMs)) {
        // With Nagle's algorithm a command followed by a query waits for the
        // instrument's delayed acknowledgement.
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        status.tcpConnected = true;
        query("*IDN?", MODE_IDENTIFY);
        // The instrument may drop the link while identifying; then it is not up.
        if (!status.tcpConnected)
            tcpResult = NotConnected;
        emit connStatusChanged(status);
    } else {
        qDebug() << "TCP not connected";
        socket->abort();
        tcpResult = NotConnected;
        emit connStatusChanged(status);
    }
    emit tcpConnFinished(tcpResult);
}

void Connection::query(QString q, calling_mode_t mode)
{
    if (mode == MODE_NETWORK) {
        readNetworkSettings();
        return;
    }
    const std::optional<QString> reply = tcpExchange(q);
    if (!reply)
        return;
    if (mode == MODE_IDENTIFY)
        identify(*reply);
    else
        emit queryResponse(*reply, mode);
}

void Connection::command(QString c)
{
    // Sent when the event loop runs; commands get no reply and are not waited for.
    if (tcpLinkUsable())
        writeLine(c);
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
    socket->disconnectFromHost();
    status.tcpConnected = false;
    emit connStatusChanged(status);
}

void Connection::closeUSB()
{
    if (!status.usbConnected)
        return;
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
    connectUSB();
    NetworkSettingsFile file;
    if (file.exists()) {
        qDebug() << "file exists. trying to connect Tcp";
        connectTCP();
        if (!status.tcpConnected)
            qDebug() << "Tcp connection failed";
        return;
    }
    qDebug() << "File does not exist.";
    file.write(NetworkSettingsFile::defaults());
    // Without a USB link there is no way to learn the instrument's address,
    // so start-up ends with the default file in place.
    qDebug() << "usb not connected";
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

bool Connection::writeLine(const QString &text)
{
    // Written whole, however long: a cut line would reach the instrument as
    // a different command.
    const QByteArray line = text.toUtf8() + '\n';
    return socket->write(line) == line.size();
}

std::optional<QString> Connection::tcpExchange(const QString &q)
{
    if (!tcpLinkUsable())
        return std::nullopt;
    // Bytes still here belong to an earlier query that gave up waiting;
    // they must not be taken for this query's reply. The poll also notices
    // a link the instrument has closed meanwhile.
    socket->readAll();
    if (socket->waitForReadyRead(0))
        socket->readAll();
    if (!tcpLinkUsable())
        return std::nullopt;
    if (!writeLine(q))
        return std::nullopt;
    // A short line normally goes straight out; only a full send buffer waits.
    socket->flush();
    if (socket->bytesToWrite() > 0 && !socket->waitForBytesWritten(TcpWriteWaitMs))
        return std::nullopt;

    QElapsedTimer clock;
    clock.start();
    QByteArray reply;
    for (;;) {
        const int left = TcpReplyWaitMs - int(clock.elapsed());
        const int wait = reply.isEmpty() ? left : qMin(left, ReplyQuietGapMs);
        if (wait <= 0 || !socket->waitForReadyRead(wait))
            break;
        reply += socket->readAll();
        if (reply.contains('\n') || reply.size() >= MaxReplyBytes)
            break;
    }
    if (reply.isEmpty())
        return std::nullopt;
    const int end = reply.indexOf('\n');
    if (end >= 0)
        reply.truncate(end);
    return QString::fromUtf8(reply.trimmed());
}

void Connection::identify(const QString &reply)
{
    const QStringList fields = reply.split(',', Qt::KeepEmptyParts);
    if (fields.size() >= 2 && fields.at(1).startsWith(ExpectedModelPrefix, Qt::CaseSensitive))
        tcpResult = fields.at(1);
}

void Connection::readNetworkSettings()
{
    static const char *const queries[] = {"enet:ip?", "enet:gateway?", "enet:submask?",
                                          "enet:port?"};
    QStringList replies;
    for (const char *q : queries) {
        if (!replies.isEmpty())
            QThread::msleep(NetworkReadPauseMs);
        const std::optional<QString> reply = tcpExchange(QString::fromLatin1(q));
        if (!reply)
            return;
        replies.append(*reply);
    }
    const QString newIp = replies.at(0);
    const QString newGateway = replies.at(1);
    const QString newSubnet = replies.at(2);
    const int newPort = NetworkSettingsFile::parsePort(replies.at(3));
    emit networkSettingsReady(newIp, newSubnet, newGateway, newPort);
    ipAddress = newIp;
    subnet = newSubnet;
    gateway = newGateway;
    port = newPort;
}
