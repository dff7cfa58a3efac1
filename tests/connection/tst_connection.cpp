#include "connectionharness.h"
#include "loopback.h"
#include "messagelog.h"
#include "simserver.h"
#include "tcpconnectattempt.h"
#include "testworkdir.h"

#include <QtTest>
#include <memory>
#include <optional>

namespace
{
const QString Host = QStringLiteral("127.0.0.1");
const QString Model = QStringLiteral("KX4417-UDC");
const int AnswerMs = ConnectionHarness::AnswerMs;
const QByteArray Status = "0,10.0000,0,0,1,1,0,0,1,0,100,2,1,35.2,1.25,1";

connStatus_t lastStatus(const QSignalSpy &spy)
{
    return spy.isEmpty() ? connStatus_t{true, true} : spy.last().at(0).value<connStatus_t>();
}

} // namespace

// Each case gets a simulator, a working folder whose settings file points at
// it, and a Connection on a worker thread, driven by queued signals.
class ConnectionTest : public QObject
{
    Q_OBJECT
private:
    std::unique_ptr<SimServer> sim;
    std::unique_ptr<TestWorkdir> workdir;
    std::unique_ptr<ConnectionHarness> harness;

    ConnectionProbe &probe() { return harness->probe(); }

private slots:
    void init()
    {
        sim = std::make_unique<SimServer>();
        QVERIFY(sim->start(0));
        workdir = std::make_unique<TestWorkdir>();
        TestWorkdir::writeSettings(Host, sim->port());
        harness = std::make_unique<ConnectionHarness>();
    }

    void cleanup()
    {
        harness.reset();
        workdir.reset();
        sim.reset();
    }

    void wiredBySignature() { QVERIFY(probe().wired); }

    void identification_data()
    {
        QTest::addColumn<QByteArray>("idn");
        QTest::addColumn<QString>("result");
        QTest::newRow("accepted") << QByteArray("Ostrelin,KX4417-UDC,SN000123,2.4.1") << Model;
        QTest::newRow("other variant") << QByteArray("Ostrelin,KX4417B,1,1") << "KX4417B";
        QTest::newRow("blank before model") << QByteArray("Ostrelin, KX4417-UDC,SN1,1") << "";
        QTest::newRow("lower case") << QByteArray("Ostrelin,kx4417-udc,SN1,1") << "";
        QTest::newRow("single field") << QByteArray("KX4417-UDC") << "";
        QTest::newRow("CR LF ending, blanks around")
            << QByteArray("  Ostrelin,KX4417-UDC \r") << Model;
        QTest::newRow("empty reply") << QByteArray() << "";
    }

    void identification()
    {
        QFETCH(QByteArray, idn);
        sim->setReply("*IDN?", idn);
        QSignalSpy statuses(&probe(), &ConnectionProbe::connStatusChanged);
        QTEST(harness->connectTcp(), "result");
        // An instrument that does not identify still leaves the link up.
        QCOMPARE(statuses.count(), 1);
        QVERIFY(lastStatus(statuses).tcpConnected);
        QVERIFY(!lastStatus(statuses).usbConnected);
        QCOMPARE(sim->receivedLines(), QStringList{"*IDN?"});
    }

    void earlierResultNeverReported()
    {
        TestWorkdir::writeSettings(Host, unusedLoopbackPort());
        QCOMPARE(harness->connectTcp(), QString("-2"));
        sim->setReply("*IDN?", "Someone,Else,1,1");
        TestWorkdir::writeSettings(Host, sim->port());
        QCOMPARE(harness->connectTcp(), QString());

        emit probe().closeTCP();
        sim->clearReplies();
        QCOMPARE(harness->connectTcp(), Model);
        emit probe().closeTCP();
        sim->setReply("*IDN?", "Someone,Else,1,1");
        QCOMPARE(harness->connectTcp(), QString());
    }

    void reconnectUsesCurrentFile()
    {
        SimServer other(InstrumentModel::Config{"Ostrelin,KX4417-DC,SN2,1"});
        QVERIFY(other.start(0));
        QCOMPARE(harness->connectTcp(), Model);
        TestWorkdir::writeSettings(Host, other.port());
        QCOMPARE(harness->connectTcp(), QString("KX4417-DC"));
        QTRY_COMPARE(sim->connectionCount(), 0);
    }

    void settingsFileDecidesConnection_data()
    {
        QTest::addColumn<QByteArray>("content"); // empty: no file
        QTest::addColumn<QString>("result");
        // SIM stands for the simulator's port, WRAP for that port plus 65536
        // and FREED for a port nobody listens on.
        QTest::newRow("port not a number")
            << QByteArray("127.0.0.1\n255.0.0.0\n127.0.0.1\nabc\n") << "-2";
        QTest::newRow("only one line") << QByteArray("127.0.0.1\n") << "-2";
        QTest::newRow("port wrapping onto the instrument")
            << QByteArray("127.0.0.1\n255.0.0.0\n127.0.0.1\nWRAP\n") << "-2";
        QTest::newRow("port just freed")
            << QByteArray("127.0.0.1\n255.0.0.0\n127.0.0.1\nFREED\n") << "-2";
        QTest::newRow("empty host") << QByteArray("\n255.0.0.0\n127.0.0.1\nSIM\n") << "-2";
        QTest::newRow("missing file") << QByteArray() << "-2";
        QTest::newRow("CR LF and blanks")
            << QByteArray(" 127.0.0.1 \r\n255.0.0.0\r\n127.0.0.1\r\n\tSIM \r\n") << Model;
    }

    void settingsFileDecidesConnection()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, result);
        if (content.isEmpty())
            QVERIFY(QFile::remove("ipdata.vnf"));
        else
            QVERIFY(TestWorkdir::writeSettings(
                content.replace("SIM", QByteArray::number(sim->port()))
                    .replace("WRAP", QByteArray::number(sim->port() + 65536))
                    .replace("FREED", QByteArray::number(unusedLoopbackPort()))));
        QSignalSpy statuses(&probe(), &ConnectionProbe::connStatusChanged);
        QCOMPARE(harness->connectTcp(), result);
        QCOMPARE(statuses.count(), 1);
        QCOMPARE(lastStatus(statuses).tcpConnected, result == Model);
        QCOMPARE(sim->connectionCount(), result == Model ? 1 : 0);
    }

    void identifyRepliesStayInside()
    {
        QCOMPARE(harness->connectTcp(), Model);
        QSignalSpy responses(&probe(), &ConnectionProbe::queryResponse);
        emit probe().query("*IDN?", MODE_IDENTIFY);
        emit probe().query("syst:readstate?", MODE_STATUS);
        QVERIFY(responses.wait(AnswerMs));
        QVERIFY(harness->settle());
        QCOMPARE(responses.count(), 1);
        QCOMPARE(responses.at(0).at(0).toString(), modelReply(*sim, "syst:readstate?"));
        QCOMPARE(responses.at(0).at(1).value<calling_mode_t>(), MODE_STATUS);
        QCOMPARE(sim->receivedLines(), (QStringList{"*IDN?", "*IDN?", "syst:readstate?"}));
    }

    void linkEndReportedAndNothingAnswered_data()
    {
        QTest::addColumn<int>("end");
        QTest::newRow("panel closes") << 0;
        QTest::newRow("instrument stops") << 1;
        QTest::newRow("instrument closes instead of replying") << 2;
    }

    void linkEndReportedAndNothingAnswered()
    {
        QFETCH(int, end);
        QCOMPARE(harness->connectTcp(), Model);
        QSignalSpy statuses(&probe(), &ConnectionProbe::connStatusChanged);
        QSignalSpy responses(&probe(), &ConnectionProbe::queryResponse);
        if (end == 0)
            emit probe().closeConnection();
        else if (end == 1)
            sim->stop();
        else
            sim->setFault(SimServer::Fault::CloseConnection, 0, "syst:readstate?");
        // A panel or instrument ending the link needs no query to be noticed.
        if (end == 2)
            emit probe().query("syst:readstate?", MODE_STATUS);
        QVERIFY(statuses.wait(AnswerMs));
        for (const QVariantList &status : statuses)
            QVERIFY(!status.at(0).value<connStatus_t>().tcpConnected);
        QTRY_COMPARE(sim->connectionCount(), 0);
        if (end != 2)
            emit probe().query("syst:readstate?", MODE_STATUS);
        QVERIFY(harness->settle());
        QCOMPARE(responses.count(), 0);
    }

    void linkLostWhileIdentifyingIsNotConnected()
    {
        sim->setFault(SimServer::Fault::CloseConnection, 0, "*IDN?");
        QSignalSpy statuses(&probe(), &ConnectionProbe::connStatusChanged);
        QCOMPARE(harness->connectTcp(), QString("-2"));
        QVERIFY(!lastStatus(statuses).tcpConnected);
    }

    void nothingSentWithoutLink()
    {
        QCOMPARE(harness->connectTcp(), Model);
        emit probe().closeTCP();
        QTRY_COMPARE(sim->connectionCount(), 0);
        QVERIFY(harness->settle());
        sim->clearReceived();

        QSignalSpy statuses(&probe(), &ConnectionProbe::connStatusChanged);
        QSignalSpy responses(&probe(), &ConnectionProbe::queryResponse);
        QSignalSpy settings(&probe(), &ConnectionProbe::networkSettingsReady);
        emit probe().command("freq:tune 12.5000");
        emit probe().query("syst:readstate?", MODE_STATUS);
        emit probe().query(QString(), MODE_NETWORK);
        emit probe().closeTCP();
        QVERIFY(harness->settle());
        QCOMPARE(statuses.count(), 1); // the settling USB attempt's own report
        QCOMPARE(responses.count(), 0);
        QCOMPARE(settings.count(), 0);
        QCOMPARE(sim->receivedLines(), QStringList());
    }

    void commandsArriveWholeAndInOrder()
    {
        QCOMPARE(harness->connectTcp(), Model);
        sim->clearReceived();
        const QString longCommand = "syst:note " + QString(190, QLatin1Char('x'));
        QCOMPARE(longCommand.toUtf8().size(), 200);
        emit probe().command(longCommand);
        emit probe().command("freq:tune 12.5000");
        const std::optional<QString> status = harness->ask("syst:readstate?", MODE_STATUS);
        QCOMPARE(status, modelReply(*sim, "syst:readstate?"));
        QCOMPARE(sim->receivedLines(),
                 (QStringList{longCommand, "freq:tune 12.5000", "syst:readstate?"}));
    }

    void splitReplyDeliveredWhole_data()
    {
        QTest::addColumn<int>("gapMs");
        QTest::newRow("60 ms apart") << 60;
        QTest::newRow("300 ms apart") << 300;
        QTest::newRow("1 s apart") << 1000;
    }

    void splitReplyDeliveredWhole()
    {
        QFETCH(int, gapMs);
        // The first reply, before the instrument has shown how it ends them.
        sim->setFault(SimServer::Fault::SplitReply, gapMs, "*IDN?");
        QCOMPARE(harness->connectTcp(), Model);
        sim->setFault(SimServer::Fault::SplitReply, gapMs, "syst:readstate?");
        QCOMPARE(harness->ask("syst:readstate?", MODE_STATUS), modelReply(*sim, "syst:readstate?"));
    }

    void connectTriesEachAddress_data()
    {
        QTest::addColumn<QStringList>("addresses");
        QTest::addColumn<bool>("listening");      // the port: the simulator's, or one not answered
        QTest::addColumn<int>("answeredAfterMs"); // when the latter answers; -1: never
        QTest::addColumn<int>("waitMs");
        QTest::addColumn<bool>("connected");
        QTest::newRow("first refused") << QStringList{"::1", Host} << true << -1 << 500 << true;
        QTest::newRow("handshake never completes")
            << QStringList{Host} << false << -1 << 500 << false;
        // The time the refused addresses did not use is the last one's.
        QTest::newRow("last answers after a second")
            << QStringList{"::1", "::1", Host} << false << 200 << 2000 << true;
    }

    void connectTriesEachAddress()
    {
        QFETCH(QStringList, addresses);
        QFETCH(bool, listening);
        QFETCH(int, answeredAfterMs);
        QFETCH(int, waitMs);
        UnansweredLoopbackPort unanswered;
        QVERIFY(unanswered.port);
        if (answeredAfterMs >= 0)
            unanswered.answerAfter(answeredAfterMs);
        QList<QHostAddress> tried;
        for (const QString &address : addresses)
            tried << QHostAddress(address);
        QTcpSocket socket;
        QTEST(TcpConnectAttempt::connectFirst(tried, listening ? sim->port() : unanswered.port,
                                              waitMs, &socket),
              "connected");
    }

    void numericScopeKept()
    {
        QCOMPARE(TcpConnectAttempt::scopeIndex(QHostAddress("fe80::1%2").scopeId()), 2u);
    }

    void instrumentWithoutLineFeedsAnswersBySilence()
    {
        sim->setFault(SimServer::Fault::Unterminated);
        QCOMPARE(harness->connectTcp(), Model);
        QCOMPARE(harness->ask("syst:readstate?", MODE_STATUS), modelReply(*sim, "syst:readstate?"));
    }

    void brokenReplyIsDropped_data()
    {
        QTest::addColumn<int>("fault"); // a SimServer::Fault
        QTest::addColumn<int>("faultMs");
        QTest::addColumn<QByteArray>("reply"); // empty: the instrument's own
        QTest::addColumn<QString>("why");
        QTest::newRow("reset mid-reply")
            << int(SimServer::Fault::ResetMidReply) << 0 << QByteArray()
            << "TCP reply dropped: the link ended before its line feed";
        QTest::newRow("line feed too late")
            << int(SimServer::Fault::SplitReply) << testTimings().tcpReplyWaitMs + 500
            << QByteArray() << "TCP reply dropped: no line feed within 2000 ms";
        QTest::newRow("NUL byte") << int(SimServer::Fault::None) << 0
                                  << QByteArray("0,10.0000\0,0,0", 14)
                                  << "TCP reply dropped: it holds a NUL byte";
    }

    void brokenReplyIsDropped()
    {
        QFETCH(int, fault);
        QFETCH(int, faultMs);
        QFETCH(QByteArray, reply);
        QCOMPARE(harness->connectTcp(), Model);
        sim->setFault(SimServer::Fault(fault), faultMs, "syst:readstate?");
        if (!reply.isEmpty())
            sim->setReply("syst:readstate?", reply);
        MessageLog debug;
        QSignalSpy responses(&probe(), &ConnectionProbe::queryResponse);
        emit probe().query("syst:readstate?", MODE_STATUS);
        QVERIFY(harness->settle());
        QCOMPARE(responses.count(), 0);
        QTEST(debug.startingWith("TCP reply dropped").value(0), "why");
    }

    void networkSettingsRead()
    {
        sim->setReply("enet:ip?", "10.1.2.3");
        sim->setReply("enet:gateway?", "10.1.0.1");
        sim->setReply("enet:submask?", "255.255.0.0");
        sim->setReply("enet:port?", "5025");
        QCOMPARE(harness->connectTcp(), Model);
        sim->clearReceived();

        QSignalSpy ready(&probe(), &ConnectionProbe::networkSettingsReady);
        emit probe().query(QString(), MODE_NETWORK);
        QVERIFY(ready.wait(AnswerMs));
        QCOMPARE(ready.at(0),
                 (QVariantList{"10.1.2.3", "255.255.0.0", "10.1.0.1", QVariant::fromValue(5025)}));
        QCOMPARE(sim->receivedLines(),
                 (QStringList{"enet:ip?", "enet:gateway?", "enet:submask?", "enet:port?"}));
    }

    void replyOfAnotherKindFillsNothing_data()
    {
        QTest::addColumn<QByteArray>("query"); // answered by `reply` instead (none if empty)
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("statusDelayMs");
        QTest::addColumn<QStringList>("arrived");
        const QByteArray state = "10.0000,0,1,1;";
        const QByteArray states = "syst:bootstate?";
        const QStringList noStates{"status", "network"}, noNetwork{"status", "states"};
        QTest::newRow("late status")
            << QByteArray() << QByteArray() << testTimings().tcpReplyWaitMs + 500
            << QStringList{"states", "network"};
        QTest::newRow("status for the states") << states << Status << 0 << noStates;
        QTest::newRow("state without its IF")
            << states << state.repeated(4) + "10.0000,0,1" << 0 << noStates;
        QTest::newRow("text for a number")
            << states << state.repeated(4) + "x,0,1,1" << 0 << noStates;
        QTest::newRow("port not a number")
            << QByteArray("enet:port?") << QByteArray("n/a") << 0 << noNetwork;
    }

    void replyOfAnotherKindFillsNothing()
    {
        QFETCH(QByteArray, query);
        QFETCH(QByteArray, reply);
        QFETCH(int, statusDelayMs);
        sim->setReply(query, reply);
        sim->setFault(SimServer::Fault::DelayReply, statusDelayMs, "syst:readstate?");
        QCOMPARE(harness->connectTcp(), Model);
        QStringList arrived;
        connect(&probe(), &ConnectionProbe::queryResponse, this, [&](QString, calling_mode_t mode) {
            arrived << (mode == MODE_STATUS ? "status" : "states");
        });
        connect(&probe(), &ConnectionProbe::networkSettingsReady, this,
                [&] { arrived << "network"; });
        emit probe().query("syst:readstate?", MODE_STATUS);
        emit probe().query("syst:bootstate?", MODE_STATE_LIST);
        emit probe().query(QString(), MODE_NETWORK);
        QVERIFY(harness->settle());
        QTEST(arrived, "arrived");
    }

    void lateReplyAfterGiveUpIsDiscarded()
    {
        QCOMPARE(harness->connectTcp(), Model);
        // The subnet mask arrives only after the read has given up on it.
        sim->setFault(SimServer::Fault::DelayReply, testTimings().tcpReplyWaitMs + 500,
                      "enet:submask?");
        QSignalSpy ready(&probe(), &ConnectionProbe::networkSettingsReady);
        QSignalSpy statuses(&probe(), &ConnectionProbe::connStatusChanged);
        emit probe().query(QString(), MODE_NETWORK);
        QVERIFY(harness->settle());
        QCOMPARE(ready.count(), 0);
        QVERIFY(lastStatus(statuses).tcpConnected);

        QSignalSpy lateArrived(&probe(), &ConnectionProbe::socketReadyRead);
        QVERIFY(lateArrived.wait(AnswerMs));
        sim->clearFault();
        QCOMPARE(harness->ask("syst:readstate?", MODE_STATUS), modelReply(*sim, "syst:readstate?"));
    }

    void initRoutineWithoutFileWritesDefaults()
    {
        QVERIFY(QFile::remove("ipdata.vnf"));
        MessageLog debug;
        QSignalSpy usb(&probe(), &ConnectionProbe::usbConnFinished);
        QSignalSpy tcp(&probe(), &ConnectionProbe::tcpConnFinished);
        emit probe().initConn();
        QVERIFY(usb.wait(AnswerMs));
        QCOMPARE(usb.at(0).at(0).toString(), QString("-2"));
        QVERIFY(harness->settle());
        QCOMPARE(tcp.count(), 0);

        const QStringList lines = debug.lines();
        const int missing = lines.indexOf("File does not exist.");
        QVERIFY(missing >= 0);
        QVERIFY(lines.indexOf("usb not connected") > missing);
        QCOMPARE(TestWorkdir::settings(),
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
        if (!reachable)
            TestWorkdir::writeSettings(Host, unusedLoopbackPort());
        MessageLog debug;
        QSignalSpy tcp(&probe(), &ConnectionProbe::tcpConnFinished);
        emit probe().initConn();
        QVERIFY(tcp.wait(AnswerMs));
        QVERIFY(harness->settle());
        QCOMPARE(tcp.at(0).at(0).toString(), reachable ? Model : QString("-2"));

        const QStringList lines = debug.lines();
        const int exists = lines.indexOf("file exists. trying to connect Tcp");
        QVERIFY(exists >= 0);
        QVERIFY(lines.indexOf("connectTCP()") > exists);
        QCOMPARE(lines.contains("Tcp connection failed"), !reachable);
        QCOMPARE(lines.contains("TCP not connected"), !reachable);
    }
};

QTEST_GUILESS_MAIN(ConnectionTest)
#include "tst_connection.moc"
