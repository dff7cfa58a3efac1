#ifndef CONNECTION_H
#define CONNECTION_H

#include "connectiontypes.h"
#include "networksettingsfile.h"
#include "replystep.h"
#include "tcplinelink.h"

#include <QObject>
#include <QString>
#include <optional>

class HardwareAbstraction;
class QTcpSocket;

// How long the connection object waits on the instrument. The defaults are
// what the instrument needs; tests pass shorter ones.
struct ConnectionTimings {
    int tcpConnectWaitMs = 5000;
    int tcpWriteWaitMs = 5000;
    int tcpReplyWaitMs = 8000;
    // A reply is complete at its line feed. From an instrument that has never
    // sent one on the link, a reply is taken as complete once the instrument
    // has been silent this long: longer than the pauses of up to a second
    // that split a reply, and a lost segment's retransmission on a LAN.
    int replyQuietGapMs = 1500;
    int networkReadPauseMs = 50;
    // The instrument needs this long over USB before its status reply is ready.
    int usbStatusReadDelayMs = 3000;
    // Over USB the network settings are read with this pause between each
    // query and its reply, and between a reply and the next query.
    int usbNetworkReadPauseMs = 100;
};

// The one route to the instrument. Lives on a worker thread; every request
// arrives as a queued slot call and every outcome leaves as a signal, so the
// blocking waits below never stall the user interface.
class Connection : public QObject
{
    Q_OBJECT
public:
    // The instrument's own reply limit, which the panel also goes by.
    static constexpr int TcpReplyWaitMs = ConnectionTimings{}.tcpReplyWaitMs;
    // An instrument is accepted when the model field of its identification
    // begins with this.
    static constexpr char ExpectedModel[] = "KX4417";

    // Reaches USB instruments through a HardwareAbstractionUSB of its own.
    explicit Connection(const ConnectionTimings &timings = {}, QObject *parent = nullptr);
    // Takes ownership of `hardware`, which becomes a child so that it moves
    // to the worker thread together with this object.
    explicit Connection(HardwareAbstraction *hardware, const ConnectionTimings &timings = {},
                        QObject *parent = nullptr);

signals:
    // `identification` is the instrument's reply to the identification
    // query, trimmed; empty when it gave none. A TCP/IP result that is empty
    // means the link is up but the reply was not accepted. Over USB it is the
    // reply of the instrument taken, or, when none was, of the last one tried.
    void tcpConnFinished(QString result, QString identification = QString());
    void usbConnFinished(QString result, QString identification = QString());
    void connStatusChanged(connStatus_t status);
    void queryResponse(QString response, calling_mode_t mode);
    void networkSettingsReady(QString ipAddress, QString subnet, QString gateway, int port);
    // The start-up routine could not write the settings file.
    void settingsFileWriteFailed();
    // The start-up routine has ended; any TCP/IP attempt it made has been
    // answered with tcpConnFinished before this.
    void startupFinished();
    // A query over USB got no reply: it could not be written, or its read
    // failed or came back empty. No queryResponse follows for it.
    void usbReplyMissing(calling_mode_t mode);
    // Answers deliverCommand: false when no link was up or the write failed.
    void commandDelivered(bool delivered);
    // Answers readInventory: the USB instrument and its modules; empty
    // without a USB link.
    void inventoryReady(QList<ModuleInfo> modules);
    // Answers findUSB: `result` 0 with the instruments the transport lists
    // (none is a listing too), negative when the listing itself failed.
    void usbFound(int result, QStringList resources);
    // Answers probeUSB: the instrument's reply to the identification
    // query, trimmed; empty when it did not open or gave none.
    void usbProbed(QString identification);

public slots:
    void connectUSB();
    // As connectUSB, accepting only the instrument whose identification
    // carries this serial number; any serial number when it is empty. Later
    // calls of connectUSB forget it.
    void connectUSBSerial(QString serial);
    // Lists the USB instruments attached, opening none, and answers with
    // usbFound. Closes a USB link first.
    void findUSB();
    // Opens the USB instrument that findUSB listed as `resource`, asks it who
    // it is, closes it again and answers with usbProbed. Closes a USB link
    // first.
    void probeUSB(QString resource);
    void connectTCP();
    // As connectTCP, to the given address instead of the settings file's.
    void connectTCPTo(QString host, int port);
    void query(QString q, calling_mode_t mode);
    void command(QString c);
    // As command(), and answers with commandDelivered.
    void deliverCommand(QString c);
    // Asks the USB instrument afresh for itself and its modules, and
    // answers with inventoryReady.
    void readInventory();
    void closeConnection();
    void closeTCP();
    void closeUSB();
    void socketDisconnected();
    void initRoutine();

private:
    bool connectSocket(const QString &host, quint16 port);
    bool tcpLinkUsable();
    bool send(const QString &c);
    std::optional<QString> tcpExchange(const QString &q);
    std::optional<QString> usbExchange(const QString &q, calling_mode_t mode);
    // One USB reply, trimmed; none when the read failed or came back empty.
    std::optional<QByteArray> usbReply();
    // Whether the next USB reply will answer the next query. Once a query
    // gave up, sends the marker query first and drops the replies of earlier
    // queries up to its own; false when a reply did not come.
    bool usbInStep();
    std::optional<QString> networkExchange(const QString &q, bool overTcp);
    void identifyTcp(const QString &reply);
    void identifyUsb(const QString &reply);
    bool readNetworkSettings();
    void saveSettingsFile(const NetworkSettingsFile::Settings &settings);
    // initRoutine's steps: the USB probe, the settings file, TCP/IP.
    void startUp();

    const ConnectionTimings timings;
    HardwareAbstraction *hardware;
    QTcpSocket *socket;
    TcpLineLink lineLink;
    // Whether the USB replies answer the queries: the USB link's counterpart
    // of the line link's own account.
    ReplyStep usbStep;
    connStatus_t status;
    QString tcpResult;
    QString tcpIdentification;
    QString usbResult;
    QString usbIdentification;
    QString usbSerial;
    QString ipAddress;
    QString subnet;
    QString gateway;
    int port;
};

#endif
