#include "serveprocess.h"
#include "simserver.h"
#include "testworkdir.h"

#include <QtTest>
#include <memory>

namespace
{
// The next reply line of `client`; empty when none comes within `ms`.
QString replyOf(QTcpSocket &client, int ms = 3000)
{
    QElapsedTimer clock;
    clock.start();
    while (!client.canReadLine() && clock.elapsed() < ms)
        client.waitForReadyRead(int(ms - clock.elapsed()));
    return QString::fromUtf8(client.readLine()).trimmed();
}
} // namespace

// The real `rfctl serve` between raw clients and the simulated instrument.
class ServeTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<SimServer> sim;
    std::unique_ptr<ServeProcess> serve;

    bool startServe(const QStringList &options = {})
    {
        serve = std::make_unique<ServeProcess>(QStringLiteral(RFCTL_PATH));
        const bool started =
            serve->start(QStringList{"--tcp", QStringLiteral("127.0.0.1:%1").arg(sim->port()),
                                     "--timeout", "500", "serve", "--raw-port", "0"} +
                         options);
        sim->clearReceived();
        return started;
    }

private slots:
    void init()
    {
        sim = std::make_unique<SimServer>();
        QVERIFY(sim->start());
    }

    void cleanup()
    {
        if (serve)
            QCOMPARE(serve->terminate(), 0);
        serve.reset();
        sim.reset();
    }

    // A query without a reply leaves its client silent, not stuck.
    void clientsInterleavedGetTheirOwnReplies()
    {
        QVERIFY(startServe());
        std::unique_ptr<QTcpSocket> clients[] = {serve->client(), serve->client()};
        sim->setFault(SimServer::Fault::NoReply, 0, "unanswered");
        clients[0]->write("unanswered?\n");
        for (int n = 0; n < 3; ++n) {
            for (int c = 0; c < 2; ++c) {
                const QString query = QStringLiteral("q%1.%2?").arg(c).arg(n);
                sim->setReply(query.toUtf8(), "r" + query.toUtf8());
                clients[c]->write(query.toUtf8() + "\n");
            }
        }
        for (int n = 0; n < 3; ++n) {
            for (int c = 0; c < 2; ++c)
                QCOMPARE(replyOf(*clients[c]), QStringLiteral("rq%1.%2?").arg(c).arg(n));
        }
    }

    // The server drops the reply to a client that went away; the other
    // clients go on being served.
    void clientKilledMidQuery()
    {
        QVERIFY(startServe());
        sim->setFault(SimServer::Fault::DelayReply, 300, "syst:readstate?");
        std::unique_ptr<QTcpSocket> killed = serve->client();
        std::unique_ptr<QTcpSocket> other = serve->client();
        killed->write("syst:readstate?\n");
        QVERIFY(killed->waitForBytesWritten(1000));
        QTRY_COMPARE(sim->receivedLines(), QStringList{"syst:readstate?"});
        killed->abort();
        other->write("*IDN?\n");
        QVERIFY(replyOf(*other).startsWith("Ostrelin,KX4417"));
        QVERIFY(serve->waitForLog("disconnected"));
    }

    // Requests fail while the instrument is away, whether it reset the link
    // or fell silent (found by the idle check); the link comes back by
    // itself and the same client is served again.
    void instrumentGoneAndBack_data()
    {
        QTest::addColumn<bool>("silent");
        QTest::newRow("restarted") << false;
        QTest::newRow("silent, then answering again") << true;
    }

    void instrumentGoneAndBack()
    {
        QFETCH(bool, silent);
        QVERIFY(startServe());
        std::unique_ptr<QTcpSocket> client = serve->client();
        const quint16 port = sim->port();
        if (silent)
            sim->setFault(SimServer::Fault::NoReply);
        else
            sim->stop();
        QVERIFY(serve->waitForLog("link down", 7000));
        client->write("lost?\n");
        QVERIFY(client->waitForBytesWritten(1000));
        if (silent)
            sim->clearFault();
        else
            QVERIFY(sim->start(port));
        QVERIFY(serve->waitForLog("link up"));
        client->write("*IDN?\n");
        QVERIFY(replyOf(*client).startsWith("Ostrelin,KX4417"));
        QVERIFY(!sim->receivedLines().contains("lost?"));
    }

    // The panel's connection identifies and polls through the server, found
    // from a settings file as the panel finds its instrument.
    void panelConnectionWorksThroughTheServer()
    {
        QVERIFY(startServe());
        TestWorkdir dir;
        QVERIFY(TestWorkdir::writeSettings("127.0.0.1", serve->port()));
        QProcess status;
        status.start(QStringLiteral(RFCTL_PATH), {"--settings", "ipdata.vnf", "status"});
        QVERIFY(status.waitForFinished(10000));
        QCOMPARE(status.exitCode(), 0);
    }

    void refusals_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("reply");
        QTest::addColumn<QString>("logged");
        QTest::addColumn<QStringList>("sent");
        QTest::newRow("read-only passes queries only") << QStringList{"--read-only"} << "Ostrelin"
                                                       << "refused from" << QStringList{"*IDN?"};
        QTest::newRow("peer outside --allow") << QStringList{"--allow", "192.0.2.0/24"} << QString()
                                              << "refused raw client" << QStringList();
        QTest::newRow("peer inside --allow")
            << QStringList{"--allow", "192.0.2.0/24", "--allow", "127.0.0.0/8"} << "Ostrelin"
            << "connected" << QStringList{"freq:tune 3.0000", "*IDN?"};
    }

    void refusals()
    {
        QFETCH(QStringList, options);
        QFETCH(QString, reply);
        QFETCH(QString, logged);
        QFETCH(QStringList, sent);
        QVERIFY(startServe(options));
        std::unique_ptr<QTcpSocket> client = serve->client();
        client->write("freq:tune 3.0000\n*IDN?\n");
        if (reply.isEmpty())
            QVERIFY(client->waitForDisconnected(2000));
        else
            QVERIFY(replyOf(*client).startsWith(reply));
        QVERIFY(serve->waitForLog(logged));
        QCOMPARE(sim->receivedLines(), sent);
    }
};

QTEST_GUILESS_MAIN(ServeTest)
#include "tst_serve.moc"
