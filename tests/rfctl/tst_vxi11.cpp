#include "rawserver.h"
#include "servelog.h"
#include "serveprocess.h"
#include "simserver.h"
#include "testworkdir.h"
#include "vxi11server.h"

#include <QtTest>
#include <algorithm>
#include <vector>

namespace
{
// Above every wait a client takes here with its own timeouts.
const int ClientMs = 15000;
const QString Lxi = QStringLiteral("lxi");
const QString Python = QStringLiteral("/usr/bin/python3");
const QString Idn = InstrumentModel::Config().idn;

QString output(const QString &program, const QStringList &args)
{
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(ClientMs)) {
        p.kill();
        p.waitForFinished();
        return QStringLiteral("(did not finish)");
    }
    const QString err = QString::fromUtf8(p.readAllStandardError());
    if (p.exitCode() != 0)
        qWarning().noquote() << program << "said:" << err;
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

QStringList pyvisa(const QString &steps)
{
    return {QStringLiteral(VXI11_CLIENT), QStringLiteral("127.0.0.1"), steps};
}

const QStringList lxiIdn{"scpi", "-a", "127.0.0.1", "*IDN?"};
} // namespace

// `rfctl serve --vxi11` in front of the simulator, reached by Debian's own
// VXI-11 clients through a portmapper of the suite's own (the suite runs in
// tests/support/netns-run.sh).
class Vxi11Test : public QObject
{
    Q_OBJECT

    SimServer sim;
    TestWorkdir dir;
    std::unique_ptr<ServeProcess> server;

    // The server gives up on a reply (1.5 s) before a client gives up on the
    // server (3 s), so that the client hears how its request ended.
    void startServer(const QStringList &options = {})
    {
        server = std::make_unique<ServeProcess>(QStringLiteral(RFCTL_PATH));
        QVERIFY(
            server->start(QStringList{"--tcp", QStringLiteral("127.0.0.1:%1").arg(sim.port()),
                                      "--timeout", "1500", "serve", "--raw-port", "0", "--vxi11"} +
                              options,
                          QStringLiteral("vxi11")));
    }

private slots:
    void initTestCase()
    {
        // Two of its replies take nearly all a link keeps for its reads.
        sim.setReply("big?", QByteArray(60000, 'y'));
        QVERIFY(sim.start());
        startServer();
    }

    void clients_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("expected");
        QTest::newRow("lxi scpi") << Lxi << lxiIdn << Idn;
        QTest::newRow("lxi discover")
            << Lxi << QStringList{"discover"}
            << QStringLiteral("Found \"%1\" on address 127.0.0.1").arg(Idn);
        // A reply left unread sets the status byte's MAV bit; device_clear
        // drops it, so the next query gets its own reply.
        QTest::newRow("pyvisa query, read_stb, clear")
            << Python << pyvisa("basics") << QStringLiteral("%1\nstb 16\nstb 0\n%1").arg(Idn);
        QTest::newRow("pyvisa lock held by another link")
            << Python << pyvisa("locking")
            << QStringLiteral("VI_ERROR_RSRC_LOCKED VI_ERROR_IO\n%1").arg(Idn);
        QTest::newRow("pyvisa command and query")
            << Python << pyvisa("commanding") << QStringLiteral("16 %1").arg(Idn);
        QTest::newRow("interleaving links each get their own replies")
            << Python << pyvisa("interleaving") << QStringLiteral("[1, 1, 1] 3");
        // A write of a query and a command is two requests; the query's reply
        // waits for its own link's read.
        QTest::newRow("reply of a query inside a write")
            << Python << pyvisa("leaking") << QStringLiteral("['17 123']");
        QTest::newRow("one connection takes only its share of links")
            << Python << pyvisa("hoarding")
            << QStringLiteral("%1 %2").arg(Vxi11Links::MaxLinksPerConnection).arg(Idn);
        // Cut to the server's longest wait, not read as "no wait".
        QTest::newRow("lock wait for ever") << Python << pyvisa("waiting") << "no_error";
        QTest::newRow("replies of one write past what a link keeps")
            << Python << pyvisa("unread") << "out_of_resources";
        QTest::newRow("calls held back while replies pile up unread")
            << Python << pyvisa("flooding") << "time 3";
    }

    void clients()
    {
        QFETCH(QString, program);
        QFETCH(QStringList, args);
        QFETCH(QString, expected);
        const QString out = output(program, args);
        QVERIFY2(out.contains(expected), qPrintable(out));
    }

    // A client killed while its query waits at the instrument, with the lock
    // held: its link goes, and with it the lock.
    void killedClientMidQueryLetsGoOfItsLock()
    {
        sim.clearReceived();
        sim.setFault(SimServer::Fault::DelayReply, 1000, "enet:port");
        QProcess held;
        held.start(Python, pyvisa("held"));
        QTRY_VERIFY_WITH_TIMEOUT(sim.receivedLines().contains("ENET:PORT?"), ClientMs);
        held.kill();
        held.waitForFinished();
        sim.clearFault();
        QCOMPARE(output(Lxi, lxiIdn), Idn);
    }

    // A query the instrument leaves unanswered times out; that is no I/O error.
    void unansweredQueryTimesOut()
    {
        sim.setFault(SimServer::Fault::NoReply, 0, "enet:port");
        const QString out = output(Python, pyvisa("writes") << "ENET:PORT?");
        sim.clearFault();
        QCOMPARE(out, QStringLiteral("VI_ERROR_TMO VI_ERROR_TMO"));
    }

    // One address holding its share of a service with 300 connections
    // leaves room for a client from another; addresses that together hold
    // every slot leave none. The refusals of one address are logged once,
    // those of many addresses in a few lines and a summary.
    void oneAddressCannotTakeEverySlot_data()
    {
        QTest::addColumn<QString>("service");
        QTest::addColumn<int>("holders"); // addresses 127.0.0.2, .3, ...
        QTest::addColumn<int>("each");    // connections each opens
        QTest::addColumn<bool>("served"); // a client from 127.0.0.1
        QTest::newRow("raw") << "raw" << 1 << 300 << true;
        QTest::newRow("vxi11") << "vxi11" << 1 << 300 << true;
        QTest::newRow("vxi11, every slot held") << "vxi11" << 4 << 9 << false;
        QTest::newRow("raw, many addresses refused") << "raw" << 12 << 9 << false;
    }

    void oneAddressCannotTakeEverySlot()
    {
        QFETCH(QString, service);
        QFETCH(int, holders);
        QFETCH(int, each);
        QFETCH(bool, served);
        startServer();
        std::vector<std::unique_ptr<QTcpSocket>> held;
        for (int n = 0; n < holders * each; ++n) {
            held.push_back(std::make_unique<QTcpSocket>());
            held.back()->bind(QHostAddress(QStringLiteral("127.0.0.%1").arg(2 + n / each)));
            held.back()->connectToHost(QStringLiteral("127.0.0.1"), server->port(service));
            held.back()->waitForConnected(ClientMs);
        }
        const int cap = service == "raw" ? RawServer::MaxClientsPerAddress
                                         : Vxi11Server::MaxConnectionsPerAddress;
        const int total = service == "raw" ? RawServer::MaxClients : Vxi11Server::MaxConnections;
        QTRY_COMPARE_WITH_TIMEOUT(std::count_if(held.begin(), held.end(),
                                                [](const auto &s) {
                                                    return s->state() ==
                                                           QAbstractSocket::ConnectedState;
                                                }),
                                  std::ptrdiff_t(std::min(holders * cap, total)), ClientMs);
        QTcpSocket raw;
        raw.connectToHost(QStringLiteral("127.0.0.1"), server->port("raw"));
        raw.write("*IDN?\n");
        const bool got = service == "vxi11"
                             ? output(Lxi, lxiIdn) == Idn
                             : raw.waitForReadyRead(ClientMs) &&
                                   QString::fromUtf8(raw.readLine()).trimmed() == Idn;
        QCOMPARE(got, served);
        QCOMPARE(server->log().count("refused " + service + " client 127.0.0.2:"), 1);
        QVERIFY(server->log().count("refused " + service + " client ") <= RepeatedLinesPerPeriod);
        if (holders + 1 > RepeatedLinesPerPeriod)
            QVERIFY(server->waitForLog("more refused " + service + " clients in the last",
                                       RepeatedLinesPeriodMs + 5000));
    }

    // The instrument gone: a request fails at once with an I/O error, and
    // once it is back, requests get through again.
    void instrumentGoneAndBack()
    {
        const quint16 port = sim.port();
        sim.stop();
        QVERIFY(server->waitForLog(QStringLiteral("link down")));
        QCOMPARE(output(Python, pyvisa("commanding")), QStringLiteral("VI_ERROR_IO VI_ERROR_IO"));
        QVERIFY(sim.start(port));
        QVERIFY(server->waitForLog(QStringLiteral("link up"), 15000));
        QCOMPARE(output(Lxi, lxiIdn), Idn);
    }

    // Commands refused under --read-only, queries passed; peers outside
    // --allow refused (here one through the namespace's other interface).
    void readOnlyAndAllowRefusals()
    {
        startServer({"--read-only", "--listen", "0.0.0.0", "--allow", "127.0.0.1"});
        QCOMPARE(output(Python, pyvisa("commanding")), QStringLiteral("VI_ERROR_IO %1").arg(Idn));
        // Each line of a write is judged alone.
        sim.clearReceived();
        QCOMPARE(output(Python, pyvisa("writes") << "freq:tune 12.0\n*IDN?\n"),
                 QStringLiteral("VI_ERROR_IO VI_ERROR_TMO"));
        QCOMPARE(sim.receivedLines().filter("freq:tune"), QStringList());
        const QString outside = qEnvironmentVariable("NETNS_ADDRESS");
        QCOMPARE(output(Lxi, {"scpi", "-a", outside, "*IDN?"}), QString());
        QVERIFY(server->waitForLog(QStringLiteral("refused vxi11 client ") + outside));
    }

    // A server killed outright leaves its registration behind, which the
    // next one replaces; one stopped by SIGTERM takes its own away.
    void registration()
    {
        server.reset();
        startServer();
        QCOMPARE(output(Lxi, lxiIdn), Idn);
        QCOMPARE(server->terminate(), 0);
        QVERIFY(!output(QStringLiteral("rpcinfo"), {"-p", "127.0.0.1"}).contains("395183"));
    }
};

QTEST_GUILESS_MAIN(Vxi11Test)
#include "tst_vxi11.moc"
