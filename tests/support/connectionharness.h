#ifndef CONNECTIONHARNESS_H
#define CONNECTIONHARNESS_H

#include "connection.h"

#include <QObject>
#include <QTcpSocket>
#include <QThread>
#include <optional>

// Stands where the main window stands: asks through its own signals and hears
// the answers on the test thread, both wired by signature as the window does.
class ConnectionProbe : public QObject
{
    Q_OBJECT
public:
    explicit ConnectionProbe(Connection *connection)
    {
        wired = connect(this, SIGNAL(connectUSB()), connection, SLOT(connectUSB())) &&
                connect(this, SIGNAL(connectTCP()), connection, SLOT(connectTCP())) &&
                connect(this, SIGNAL(query(QString, calling_mode_t)), connection,
                        SLOT(query(QString, calling_mode_t))) &&
                connect(this, SIGNAL(command(QString)), connection, SLOT(command(QString))) &&
                connect(this, SIGNAL(deliverCommand(QString)), connection,
                        SLOT(deliverCommand(QString))) &&
                connect(this, SIGNAL(closeConnection()), connection, SLOT(closeConnection())) &&
                connect(this, SIGNAL(closeTCP()), connection, SLOT(closeTCP())) &&
                connect(this, SIGNAL(closeUSB()), connection, SLOT(closeUSB())) &&
                connect(this, SIGNAL(initConn()), connection, SLOT(initRoutine())) &&
                connect(connection, SIGNAL(tcpConnFinished(QString)), this,
                        SIGNAL(tcpConnFinished(QString))) &&
                connect(connection, SIGNAL(usbConnFinished(QString)), this,
                        SIGNAL(usbConnFinished(QString))) &&
                connect(connection, SIGNAL(connStatusChanged(connStatus_t)), this,
                        SIGNAL(connStatusChanged(connStatus_t))) &&
                connect(connection, SIGNAL(queryResponse(QString, calling_mode_t)), this,
                        SIGNAL(queryResponse(QString, calling_mode_t))) &&
                connect(connection, SIGNAL(networkSettingsReady(QString, QString, QString, int)),
                        this, SIGNAL(networkSettingsReady(QString, QString, QString, int))) &&
                connect(connection, SIGNAL(usbReplyMissing(calling_mode_t)), this,
                        SIGNAL(usbReplyMissing(calling_mode_t))) &&
                connect(connection, SIGNAL(commandDelivered(bool)), this,
                        SIGNAL(commandDelivered(bool))) &&
                connect(connection, SIGNAL(settingsFileWriteFailed()), this,
                        SIGNAL(settingsFileWriteFailed()));
        // Lets a test wait until stray bytes have reached the panel's socket.
        if (auto *socket = connection->findChild<QTcpSocket *>())
            connect(socket, &QTcpSocket::readyRead, this, &ConnectionProbe::socketReadyRead);
        else
            wired = false;
    }

    bool wired = false;

signals:
    void connectUSB();
    void connectTCP();
    void query(QString q, calling_mode_t mode);
    void command(QString c);
    void deliverCommand(QString c);
    void closeConnection();
    void closeTCP();
    void closeUSB();
    void initConn();

    void tcpConnFinished(QString result);
    void usbConnFinished(QString result);
    void connStatusChanged(connStatus_t status);
    void queryResponse(QString response, calling_mode_t mode);
    void networkSettingsReady(QString ipAddress, QString subnet, QString gateway, int port);
    void usbReplyMissing(calling_mode_t mode);
    void commandDelivered(bool delivered);
    void settingsFileWriteFailed();
    void socketReadyRead();
};

class SimServer;

// The simulated instrument's own reply to `query`, without its line end.
QString modelReply(SimServer &sim, const QByteArray &query);

// The instrument's waits cut to what loopback and the simulator need, so a
// silent instrument costs a test a second or two instead of eight.
inline ConnectionTimings testTimings()
{
    ConnectionTimings timings;
    timings.tcpConnectWaitMs = 1000;
    timings.tcpWriteWaitMs = 1000;
    timings.tcpReplyWaitMs = 2000;
    timings.usbStatusReadDelayMs = 300;
    return timings;
}

// A Connection on a worker thread of its own, as the panel runs it, with the
// requests a test makes of it and a record of what it reports. Each wait
// gives up after AnswerMs, above every wait of the connection with the test
// timings.
class ConnectionHarness
{
public:
    static constexpr int AnswerMs = 5000;

    ConnectionHarness() : ConnectionHarness(new Connection(testTimings())) {}
    // Takes ownership of a Connection made by the test, e.g. with its own USB access.
    explicit ConnectionHarness(Connection *made);
    ~ConnectionHarness();
    ConnectionHarness(const ConnectionHarness &) = delete;
    ConnectionHarness &operator=(const ConnectionHarness &) = delete;

    ConnectionProbe &probe() { return panelSide; }

    // What one connect attempt reported, or "(no answer)".
    QString connectTcp();
    QString connectUsb();
    // The reply to one query; "(wrong mode)" when it came back for another caller.
    std::optional<QString> ask(const QString &query, calling_mode_t mode);
    // Whether one command went out, as the connection reports it.
    std::optional<bool> deliver(const QString &command);
    // Afterwards everything the connection emitted before has reached this
    // thread: queued signals arrive in the order they were sent. Costs one
    // USB connect attempt.
    bool settle();

    // Everything reported since the start or the last clear, one line each:
    // "status TU" (the TCP/IP and USB flags as 0/1), "usb RESULT", "tcp RESULT",
    // "net IP,SUBNET,GATEWAY,PORT", "reply TEXT", "no reply", "file not written".
    QStringList events;

private:
    void record();

    static constexpr int StopWaitMs = 10000;
    QThread thread;
    Connection *connection; // deleted on its own thread when the thread ends
    ConnectionProbe panelSide;
};

#endif
