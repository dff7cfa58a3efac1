#include "connectionharness.h"
#include "simserver.h"
#include "testworkdir.h"

#include <QMutex>
#include <QTcpServer>
#include <QtTest>
#include <optional>

namespace
{
const QString Host = QStringLiteral("127.0.0.1");
const QString Model = QStringLiteral("KX4417-UDC");
const int AnswerMs = 15000; // above every wait the connection itself may take

// Debug lines from every thread, in the order they were written.
class DebugCapture
{
public:
    DebugCapture() { previous = qInstallMessageHandler(&DebugCapture::handle); }
    ~DebugCapture() { qInstallMessageHandler(previous); }
    DebugCapture(const DebugCapture &) = delete;
    DebugCapture &operator=(const DebugCapture &) = delete;

    static QStringList lines()
    {
        QMutexLocker locker(&mutex);
        return captured;
    }

private:
    static void handle(QtMsgType type, const QMessageLogContext &, const QString &message)
    {
        if (type != QtDebugMsg)
            return;
        QMutexLocker locker(&mutex);
        captured.append(message);
    }

    static QMutex mutex;
    static QStringList captured;
    QtMessageHandler previous;
};
QMutex DebugCapture::mutex;
QStringList DebugCapture::captured;

QString modelReply(SimServer &sim, const QByteArray &query)
{
    QByteArray reply;
    sim.withModel([&](InstrumentModel &model) { reply = model.execute(query).value_or("?"); });
    return QString::fromUtf8(reply.trimmed());
}

connStatus_t statusAt(const QSignalSpy &spy, int index)
{
    return spy.at(index).at(0).value<connStatus_t>();
}

void writeFile(const QByteArray &content)
{
    QFile file("ipdata.vnf");
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

quint16 freedPort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

// Runs one connectTCP and returns what tcpConnFinished reported.
QString connectTcp(ConnectionHarness &harness)
{
    QSignalSpy finished(&harness.probe(), &ConnectionProbe::tcpConnFinished);
    emit harness.probe().connectTCP();
    if (!finished.wait(AnswerMs))
        return QStringLiteral("(no answer)");
    return finished.at(0).at(0).toString();
}

std::optional<QString> ask(ConnectionHarness &harness, const QString &query, calling_mode_t mode)
{
    QSignalSpy responses(&harness.probe(), &ConnectionProbe::queryResponse);
    emit harness.probe().query(query, mode);
    if (!responses.wait(AnswerMs))
        return std::nullopt;
    if (responses.at(0).at(1).value<calling_mode_t>() != mode)
        return QStringLiteral("(wrong mode)");
    return responses.at(0).at(0).toString();
}

// Everything the connection emitted before this returns has reached the test
// thread: queued signals arrive in the order they were sent.
bool settle(ConnectionHarness &harness)
{
    QSignalSpy marker(&harness.probe(), &ConnectionProbe::usbConnFinished);
    emit harness.probe().connectUSB();
    return marker.wait(AnswerMs);
}
} // namespace

class ConnectionTest : public QObject
{
    Q_OBJECT
private slots:
    void wiredBySignature()
    {
        ConnectionHarness harness;
        QVERIFY(harness.probe().wired);
    }

    void identification_data()
    {
        QTest::addColumn<QByteArray>("idn");
        QTest::addColumn<QString>("result");
        QTest::newRow("accepted") << QByteArray("Ostrelin,KX4417-UDC,SN000123,2.4.1") << Model;
        QTest::newRow("other variant") << QByteArray("Ostrelin,KX4417B,1,1") << "KX4417B";
        QTest::newRow("blank before model") << QByteArray("Ostrelin, KX4417-UDC,SN1,1") << "";
        QTest::newRow("lower case") << QByteArray("Ostrelin,kx4417-udc,SN1,1") << "";
        QTest::newRow("single field") << QByteArray("KX4417-UDC") << "";
        QTest::newRow("empty reply") << QByteArray() << "";
    }

    void identification()
    {
        QFETCH(QByteArray, idn);
        SimServer sim;
        QVERIFY(sim.start(0));
        sim.setReply("*IDN?", idn);
        TestWorkdir workdir;
        TestWorkdir::writeSettings(Host, sim.port());
        ConnectionHarness harness;
        QSignalSpy statuses(&harness.probe(), &ConnectionProbe::connStatusChanged);

        QTEST(connectTcp(harness), "result");
        // An instrument that does not identify still leaves the link up.
        QCOMPARE(statuses.count(), 1);
        QVERIFY(statusAt(statuses, 0).tcpConnected);
        QVERIFY(!statusAt(statuses, 0).usbConnected);
        QCOMPARE(sim.receivedLines(), QStringList{"*IDN?"});
    }

    void earlierResultNeverReported()
    {
        SimServer sim;
        QVERIFY(sim.start(0));
        TestWorkdir workdir;
        ConnectionHarness harness;

        TestWorkdir::writeSettings(Host, freedPort());
        QCOMPARE(connectTcp(harness), QString("-2"));
        sim.setReply("*IDN?", "Someone,Else,1,1");
        TestWorkdir::writeSettings(Host, sim.port());
        QCOMPARE(connectTcp(harness), QString());

        emit harness.probe().closeTCP();
        sim.clearReplies();
        QCOMPARE(connectTcp(harness), Model);
        emit harness.probe().closeTCP();
        sim.setReply("*IDN?", "Someone,Else,1,1");
        QCOMPARE(connectTcp(harness), QString());
    }

    void reconnectUsesCurrentFile()
    {
        SimServer first;
        SimServer second(InstrumentModel::Config{"Ostrelin,KX4417-DC,SN2,1"});
        QVERIFY(first.start(0));
        QVERIFY(second.start(0));
        TestWorkdir workdir;
        ConnectionHarness harness;
        TestWorkdir::writeSettings(Host, first.port());
        QCOMPARE(connectTcp(harness), Model);
        TestWorkdir::writeSettings(Host, second.port());
        QCOMPARE(connectTcp(harness), QString("KX4417-DC"));
        QTRY_COMPARE(first.connectionCount(), 0);
    }

    void unusableAddressEndsNotConnected_data()
    {
        QTest::addColumn<QByteArray>("content");
        // SIM is replaced by the simulator's port, WRAP by that port plus 65536
        // and FREED by a port nobody listens on.
        QTest::newRow("port not a number") << QByteArray("127.0.0.1\n255.0.0.0\n127.0.0.1\nabc\n");
        QTest::newRow("only one line") << QByteArray("127.0.0.1\n");
        QTest::newRow("port wrapping onto the instrument")
            << QByteArray("127.0.0.1\n255.0.0.0\n127.0.0.1\nWRAP\n");
        QTest::newRow("port just freed") << QByteArray("127.0.0.1\n255.0.0.0\n127.0.0.1\nFREED\n");
        QTest::newRow("empty host") << QByteArray("\n255.0.0.0\n127.0.0.1\nSIM\n");
    }

    void unusableAddressEndsNotConnected()
    {
        QFETCH(QByteArray, content);
        SimServer sim;
        QVERIFY(sim.start(0));
        TestWorkdir workdir;
        writeFile(content.replace("SIM", QByteArray::number(sim.port()))
                      .replace("WRAP", QByteArray::number(sim.port() + 65536))
                      .replace("FREED", QByteArray::number(freedPort())));
        ConnectionHarness harness;
        QSignalSpy statuses(&harness.probe(), &ConnectionProbe::connStatusChanged);

        QCOMPARE(connectTcp(harness), QString("-2"));
        QCOMPARE(statuses.count(), 1);
        QVERIFY(!statusAt(statuses, 0).tcpConnected);
        QCOMPARE(sim.connectionCount(), 0);
    }

    void crlfSettingsFileConnects()
    {
        SimServer sim;
        QVERIFY(sim.start(0));
        TestWorkdir workdir;
        writeFile(QString(" 127.0.0.1 \r\n255.0.0.0\r\n127.0.0.1\r\n\t%1 \r\n")
                      .arg(sim.port())
                      .toLatin1());
        ConnectionHarness harness;
        QCOMPARE(connectTcp(harness), Model);
    }

    void missingFileSendsAndReportsNothing()
    {
        SimServer sim;
        QVERIFY(sim.start(0));
        TestWorkdir workdir;
        ConnectionHarness harness;
        QSignalSpy finished(&harness.probe(), &ConnectionProbe::tcpConnFinished);
        QSignalSpy statuses(&harness.probe(), &ConnectionProbe::connStatusChanged);
        emit harness.probe().connectTCP();
        QVERIFY(settle(harness));
        QCOMPARE(finished.count(), 0);
        QCOMPARE(statuses.count(), 1); // the settling USB attempt's own report
        QCOMPARE(sim.connectionCount(), 0);
    }

    void identifyRepliesStayInside()
    {
        SimServer sim;
        QVERIFY(sim.start(0));
        TestWorkdir workdir;
        TestWorkdir::writeSettings(Host, sim.port());
        ConnectionHarness harness;
        QCOMPARE(connectTcp(harness), Model);

        QSignalSpy responses(&harness.probe(), &ConnectionProbe::queryResponse);
        emit harness.probe().query("*IDN?", MODE_IDENTIFY);
        emit harness.probe().query("syst:readstate?", MODE_STATUS);
        QVERIFY(responses.wait(AnswerMs));
        QVERIFY(settle(harness));
        QCOMPARE(responses.count(), 1);
        QCOMPARE(responses.at(0).at(0).toString(), modelReply(sim, "syst:readstate?"));
        QCOMPARE(responses.at(0).at(1).value<calling_mode_t>(), MODE_STATUS);
        QCOMPARE(sim.receivedLines(), (QStringList{"*IDN?", "*IDN?", "syst:readstate?"}));
    }

    void closeConnectionClearsTcp()
    {
        SimServer sim;
        QVERIFY(sim.start(0));
        TestWorkdir workdir;
        TestWorkdir::writeSettings(Host, sim.port());
        ConnectionHarness harness;
        QCOMPARE(connectTcp(harness), Model);

        QSignalSpy statuses(&harness.probe(), &ConnectionProbe::connStatusChanged);
        emit harness.probe().closeConnection();
        QVERIFY(statuses.wait(AnswerMs));
        QVERIFY(!statusAt(statuses, 0).tcpConnected);
        QTRY_COMPARE(sim.connectionCount(), 0);
        QVERIFY(!ask(harness, "syst:readstate?", MODE_STATUS));
    }

    void instrumentStops()
    {
        SimServer sim;
        QVERIFY(sim.start(0));
        TestWorkdir workdir;
        TestWorkdir::writeSettings(Host, sim.port());
        ConnectionHarness harness;
        QCOMPARE(connectTcp(harness), Model);

        QSignalSpy statuses(&harness.probe(), &ConnectionProbe::connStatusChanged);
        sim.stop();
        QVERIFY(statuses.wait(AnswerMs));
        QVERIFY(!statusAt(statuses, 0).tcpConnected);
    }

    void instrumentClosesInsteadOfReplying()
    {
        SimServer sim;
        QVERIFY(sim.start(0));
        TestWorkdir workdir;
        TestWorkdir::writeSettings(Host, sim.port());
        ConnectionHarness harness;
        QCOMPARE(connectTcp(harness), Model);

        sim.setFault(SimServer::Fault::CloseConnection, 0, "syst:readstate?");
        QSignalSpy statuses(&harness.probe(), &ConnectionProbe::connStatusChanged);
        QSignalSpy responses(&harness.probe(), &ConnectionProbe::queryResponse);
        emit harness.probe().query("syst:readstate?", MODE_STATUS);
        QVERIFY(statuses.wait(AnswerMs));
        QVERIFY(!statusAt(statuses, 0).tcpConnected);
        QVERIFY(settle(harness));
        QCOMPARE(responses.count(), 0);
    }

    void linkLostWhileIdentifyingIsNotConnected()
    {
        SimServer sim;
        QVERIFY(sim.start(0));
        sim.setFault(SimServer::Fault::CloseConnection, 0, "*IDN?");
        TestWorkdir workdir;
        TestWorkdir::writeSettings(Host, sim.port());
        ConnectionHarness harness;
        QSignalSpy statuses(&harness.probe(), &ConnectionProbe::connStatusChanged);
        QCOMPARE(connectTcp(harness), QString("-2"));
        QVERIFY(!statusAt(statuses, statuses.count() - 1).tcpConnected);
    }

    void nothingSentWithoutLink()
    {
        SimServer sim;
        QVERIFY(sim.start(0));
        TestWorkdir workdir;
        TestWorkdir::writeSettings(Host, sim.port());
        ConnectionHarness harness;
        QCOMPARE(connectTcp(harness), Model);
        emit harness.probe().closeTCP();
        QTRY_COMPARE(sim.connectionCount(), 0);
        QVERIFY(settle(harness));
        sim.clearReceived();

        QSignalSpy statuses(&harness.probe(), &ConnectionProbe::connStatusChanged);
        QSignalSpy responses(&harness.probe(), &ConnectionProbe::queryResponse);
        QSignalSpy settings(&harness.probe(), &ConnectionProbe::networkSettingsReady);
        emit harness.probe().command("freq:tune 12.5000");
        emit harness.probe().query("syst:readstate?", MODE_STATUS);
        emit harness.probe().query(QString(), MODE_NETWORK);
        emit harness.probe().closeTCP();
        QVERIFY(settle(harness));
        QCOMPARE(statuses.count(), 1); // the settling USB attempt's own report
        QCOMPARE(responses.count(), 0);
        QCOMPARE(settings.count(), 0);
        QCOMPARE(sim.receivedLines(), QStringList());
    }

    void commandArrivesWholeAndAlone()
    {
        SimServer sim;
        QVERIFY(sim.start(0));
        TestWorkdir workdir;
        TestWorkdir::writeSettings(Host, sim.port());
        ConnectionHarness harness;
        QCOMPARE(connectTcp(harness), Model);
        sim.clearReceived();

        const QString longCommand = "syst:note " + QString(190, QLatin1Char('x'));
        QCOMPARE(longCommand.toUtf8().size(), 200);
        emit harness.probe().command(longCommand);
        emit harness.probe().command("freq:tune 12.5000");
        const std::optional<QString> status = ask(harness, "syst:readstate?", MODE_STATUS);
        QCOMPARE(status, modelReply(sim, "syst:readstate?"));
        QCOMPARE(sim.receivedLines(),
                 (QStringList{longCommand, "freq:tune 12.5000", "syst:readstate?"}));
    }

    void splitReplyDeliveredWhole()
    {
        SimServer sim;
        QVERIFY(sim.start(0));
        TestWorkdir workdir;
        TestWorkdir::writeSettings(Host, sim.port());
        ConnectionHarness harness;
        QCOMPARE(connectTcp(harness), Model);

        sim.setFault(SimServer::Fault::SplitReply, 60, "syst:readstate?");
        QCOMPARE(ask(harness, "syst:readstate?", MODE_STATUS), modelReply(sim, "syst:readstate?"));
        QCOMPARE(ask(harness, "syst:bootstate?", MODE_STATE_LIST),
                 modelReply(sim, "syst:bootstate?"));
    }

    void unterminatedReplyDeliveredAfterSilence()
    {
        SimServer sim;
        QVERIFY(sim.start(0));
        TestWorkdir workdir;
        TestWorkdir::writeSettings(Host, sim.port());
        ConnectionHarness harness;
        QCOMPARE(connectTcp(harness), Model);
        const QString status = modelReply(sim, "syst:readstate?");

        // The rest of the line comes far too late to count as the same reply.
        sim.setFault(SimServer::Fault::SplitReply, 2000, "syst:readstate?");
        const std::optional<QString> head = ask(harness, "syst:readstate?", MODE_STATUS);
        QVERIFY(head);
        QVERIFY(!head->isEmpty());
        QVERIFY(head->size() < status.size());
        QVERIFY(status.startsWith(*head));

        QSignalSpy tailArrived(&harness.probe(), &ConnectionProbe::socketReadyRead);
        QVERIFY(tailArrived.wait(AnswerMs));
        sim.clearFault();
        QCOMPARE(ask(harness, "syst:bootstate?", MODE_STATE_LIST),
                 modelReply(sim, "syst:bootstate?"));
    }

    void networkSettingsRead()
    {
        SimServer sim;
        QVERIFY(sim.start(0));
        sim.setReply("enet:ip?", "10.1.2.3");
        sim.setReply("enet:gateway?", "10.1.0.1");
        sim.setReply("enet:submask?", "255.255.0.0");
        sim.setReply("enet:port?", "5025");
        TestWorkdir workdir;
        TestWorkdir::writeSettings(Host, sim.port());
        ConnectionHarness harness;
        QCOMPARE(connectTcp(harness), Model);
        sim.clearReceived();

        QSignalSpy ready(&harness.probe(), &ConnectionProbe::networkSettingsReady);
        emit harness.probe().query(QString(), MODE_NETWORK);
        QVERIFY(ready.wait(AnswerMs));
        QCOMPARE(ready.at(0),
                 (QVariantList{"10.1.2.3", "255.255.0.0", "10.1.0.1", QVariant::fromValue(5025)}));
        QCOMPARE(sim.receivedLines(),
                 (QStringList{"enet:ip?", "enet:gateway?", "enet:submask?", "enet:port?"}));

        sim.setReply("enet:port?", "n/a");
        emit harness.probe().query(QString(), MODE_NETWORK);
        QVERIFY(ready.wait(AnswerMs));
        QCOMPARE(ready.at(1).at(3).toInt(), 0);
    }

    void lateReplyAfterGiveUpIsDiscarded()
    {
        SimServer sim;
        QVERIFY(sim.start(0));
        TestWorkdir workdir;
        TestWorkdir::writeSettings(Host, sim.port());
        ConnectionHarness harness;
        QCOMPARE(connectTcp(harness), Model);

        // The subnet mask arrives only after the read has given up on it.
        sim.setFault(SimServer::Fault::DelayReply, Connection::TcpReplyWaitMs + 500,
                     "enet:submask?");
        QSignalSpy ready(&harness.probe(), &ConnectionProbe::networkSettingsReady);
        QSignalSpy statuses(&harness.probe(), &ConnectionProbe::connStatusChanged);
        emit harness.probe().query(QString(), MODE_NETWORK);
        QVERIFY(settle(harness));
        QCOMPARE(ready.count(), 0);
        QVERIFY(statusAt(statuses, statuses.count() - 1).tcpConnected);

        QSignalSpy lateArrived(&harness.probe(), &ConnectionProbe::socketReadyRead);
        QVERIFY(lateArrived.wait(AnswerMs));
        sim.clearFault();
        QCOMPARE(ask(harness, "syst:readstate?", MODE_STATUS), modelReply(sim, "syst:readstate?"));
    }

    void initRoutineWithoutFileWritesDefaults()
    {
        TestWorkdir workdir;
        DebugCapture debug;
        ConnectionHarness harness;
        QSignalSpy usb(&harness.probe(), &ConnectionProbe::usbConnFinished);
        QSignalSpy tcp(&harness.probe(), &ConnectionProbe::tcpConnFinished);
        emit harness.probe().initConn();
        QVERIFY(usb.wait(AnswerMs));
        QCOMPARE(usb.at(0).at(0).toString(), QString("-2"));
        QVERIFY(settle(harness));
        QCOMPARE(tcp.count(), 0);

        const QStringList lines = DebugCapture::lines();
        const int missing = lines.indexOf("File does not exist.");
        QVERIFY(missing >= 0);
        QVERIFY(lines.indexOf("usb not connected") > missing);
        QFile file("ipdata.vnf");
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(),
                 QByteArray("255.255.255.255\n255.255.255.255\n255.255.255.255\n65535\n"));
    }

    void initRoutineWithFile_data()
    {
        QTest::addColumn<bool>("reachable");
        QTest::newRow("instrument reachable") << true;
        QTest::newRow("instrument unreachable") << false;
    }

    void initRoutineWithFile()
    {
        QFETCH(bool, reachable);
        SimServer sim;
        QVERIFY(sim.start(0));
        TestWorkdir workdir;
        TestWorkdir::writeSettings(Host, reachable ? sim.port() : freedPort());
        DebugCapture debug;
        ConnectionHarness harness;
        QSignalSpy tcp(&harness.probe(), &ConnectionProbe::tcpConnFinished);
        emit harness.probe().initConn();
        QVERIFY(tcp.wait(AnswerMs));
        QVERIFY(settle(harness));
        QCOMPARE(tcp.at(0).at(0).toString(), reachable ? Model : QString("-2"));

        const QStringList lines = DebugCapture::lines();
        const int exists = lines.indexOf("file exists. trying to connect Tcp");
        QVERIFY(exists >= 0);
        QVERIFY(lines.indexOf("connectTCP()") > exists);
        QCOMPARE(lines.contains("Tcp connection failed"), !reachable);
        QCOMPARE(lines.contains("TCP not connected"), !reachable);
    }
};

QTEST_GUILESS_MAIN(ConnectionTest)
#include "tst_connection.moc"
