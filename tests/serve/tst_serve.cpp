#include "rawserver.h"
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

    // One client writes a query the instrument never answers and a hundred
    // more in one go, while another keeps asking: each gets its own replies,
    // and the unanswered query leaves its client silent, not stuck.
    void pipelinedBatchBesideAnotherClient()
    {
        QVERIFY(startServe());
        std::unique_ptr<QTcpSocket> batch = serve->client();
        std::unique_ptr<QTcpSocket> other = serve->client();
        QByteArray lines = "unanswered?\n";
        for (int n = 0; n < 100; ++n) {
            const QByteArray query = "q" + QByteArray::number(n) + '?';
            sim->setReply(query, 'r' + query);
            lines += query + '\n';
        }
        batch->write(lines);
        for (int n = 0; n < 100; ++n) {
            other->write("syst:boardid?\n");
            QCOMPARE(replyOf(*other), QStringLiteral("17"));
        }
        for (int n = 0; n < 100; ++n)
            QCOMPARE(replyOf(*batch), QStringLiteral("rq%1?").arg(n));
    }

    // A client that writes hundreds of requests at once has a bounded number
    // of them queued: another client's request waits behind no more.
    void floodingClientHoldsUpOthersBoundedly()
    {
        QVERIFY(startServe());
        std::unique_ptr<QTcpSocket> flooding = serve->client();
        std::unique_ptr<QTcpSocket> other = serve->client();
        sim->setReply("slow?", "s");
        sim->setFault(SimServer::Fault::DelayReply, 300, "slow?");
        flooding->write("slow?\n" + QByteArray("*IDN?\n").repeated(300));
        QTRY_COMPARE_WITH_TIMEOUT(sim->receivedLines(), QStringList{"slow?"}, 2000);
        other->write("syst:boardid?\n");
        QCOMPARE(replyOf(*other), QStringLiteral("17"));
        QVERIFY(sim->receivedLines().indexOf("syst:boardid?") <= RawServer::MaxRequestsPerClient);
    }

    // A client that never reads its replies is dropped once they pile up
    // past the bound, instead of filling the server's memory.
    void clientNeverReadingIsDropped()
    {
        QVERIFY(startServe());
        std::unique_ptr<QTcpSocket> client = serve->client();
        client->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 4096);
        client->setReadBufferSize(4096);
        sim->setReply("big?", QByteArray(60000, 'y'));
        client->write(QByteArray("big?\n").repeated(400));
        QVERIFY(client->waitForBytesWritten(2000));
        QVERIFY(serve->waitForLog("replies unread", 10000));
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

    // A request of several units with a query among them, and another
    // client's query right behind it: each client gets its own reply, or
    // none when its request was refused.
    void severalUnitsInOneRequest_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("reply");
        QTest::newRow(";") << QByteArray("freq:tune 12;*idn?") << InstrumentModel::Config().idn;
        QTest::newRow("CR") << QByteArray("freq:tune 12\r*idn?") << QString();
    }

    void severalUnitsInOneRequest()
    {
        QFETCH(QByteArray, line);
        QFETCH(QString, reply);
        QVERIFY(startServe());
        std::unique_ptr<QTcpSocket> first = serve->client();
        std::unique_ptr<QTcpSocket> second = serve->client();
        first->write(line + '\n');
        first->flush();
        second->write("syst:sernum?\n");
        QCOMPARE(replyOf(*second), QStringLiteral("123"));
        QCOMPARE(replyOf(*first, 1000), reply);
    }

    // The identification the log shows is printable: an ESC sequence in it
    // is shown, not obeyed.
    void identificationLoggedPrintable()
    {
        sim->setReply("*IDN?", InstrumentModel::Config().idn.toUtf8() + "\x1b[2J");
        QVERIFY(startServe());
        QVERIFY2(serve->log().contains(QStringLiteral("\ufffd[2J")), qPrintable(serve->log()));
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

    // A client writes one line and then "*IDN?": the line is judged on its
    // own, and the client is served on after a refusal. No replies: the
    // client itself is refused.
    void refusals_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("crowd"); // clients connected before this one
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QStringList>("replies");
        QTest::addColumn<QString>("logged");
        QTest::addColumn<QStringList>("sent");
        const QByteArray tune = "freq:tune 3.0000";
        const QStringList ro{"--read-only"}, idn{"*IDN?"}, identified{"Ostrelin"};
        QTest::newRow("read-only passes queries only")
            << ro << 0 << tune << identified << "not a query" << idn;
        QTest::newRow("read-only: a query by its first word")
            << ro << 0 << QByteArray("fact:savegate ?") << identified << "not a query" << idn;
        QTest::newRow("read-only: a carriage return inside")
            << ro << 0 << QByteArray("*IDN?\rfreq:tune 14.0") << identified << "carriage return"
            << idn;
        QTest::newRow("read-only: a semicolon inside")
            << ro << 0 << QByteArray("syst:sernum? x;freq:tune 13.0") << identified
            << "second message unit" << idn;
        QTest::newRow("a NUL inside")
            << QStringList() << 0 << QByteArray("freq:tune 11.0") + '\0' + " junk" << identified
            << "a NUL" << idn;
        QTest::newRow("a query with an argument")
            << ro << 0 << QByteArray("syst:sernum? x") << QStringList{"123", "Ostrelin"}
            << "connected" << QStringList{"syst:sernum? x", "*IDN?"};
        QTest::newRow("an over-long line")
            << QStringList() << 0 << QByteArray(RawServer::MaxLineBytes + 10, 'x') << identified
            << "over-long" << idn;
        QTest::newRow("peer outside --allow")
            << QStringList{"--allow", "192.0.2.0/24"} << 0 << tune << QStringList()
            << "refused raw client" << QStringList();
        QTest::newRow("one client too many from one address")
            << QStringList() << RawServer::MaxClientsPerAddress << tune << QStringList()
            << "from 127.0.0.1 are open already" << QStringList();
        QTest::newRow("peer inside --allow")
            << QStringList{"--allow", "192.0.2.0/24", "--allow", "127.0.0.0/8"} << 0 << tune
            << identified << "connected" << QStringList{"freq:tune 3.0000", "*IDN?"};
    }

    void refusals()
    {
        QFETCH(QStringList, options);
        QFETCH(int, crowd);
        QFETCH(QByteArray, line);
        QFETCH(QStringList, replies);
        QFETCH(QString, logged);
        QFETCH(QStringList, sent);
        QVERIFY(startServe(options));
        std::vector<std::unique_ptr<QTcpSocket>> others;
        for (int n = 0; n < crowd; ++n)
            others.push_back(serve->client());
        std::unique_ptr<QTcpSocket> client = serve->client();
        client->write(line + "\n*IDN?\n");
        if (replies.isEmpty())
            QVERIFY(client->waitForDisconnected(2000));
        for (const QString &reply : replies)
            QVERIFY2(replyOf(*client).startsWith(reply), qPrintable(reply));
        QVERIFY(serve->waitForLog(logged));
        QCOMPARE(sim->receivedLines(), sent);
    }
};

QTEST_GUILESS_MAIN(ServeTest)
#include "tst_serve.moc"
