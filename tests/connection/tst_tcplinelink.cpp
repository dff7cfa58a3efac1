#include "simserver.h"
#include "tcplinelink.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>
#include <future>

// The framing alone, against the simulator over loopback: the queries "q1",
// "q2", ... get the replies "r1", "r2", ... . Replies are waited for 500 ms;
// the fault makes the replies of the queries it names, or their rest, 750 ms
// late or leaves them out.
class TcpLineLinkTest : public QObject
{
    Q_OBJECT
private slots:
    void eachReplyGoesToItsOwnQuery_data()
    {
        QTest::addColumn<int>("fault");         // a SimServer::Fault
        QTest::addColumn<QByteArray>("faulty"); // the queries it names
        QTest::addColumn<QByteArray>("reply");  // q1's reply instead of "r1"
        QTest::addColumn<QStringList>("taken"); // "-" for none
        QTest::addColumn<QByteArray>("first");  // the query sent in q1's place
        const auto row = [](const char *name, SimServer::Fault fault, const QByteArray &faulty,
                            const QByteArray &reply, const QStringList &taken,
                            const QByteArray &first = "q1") {
            QTest::newRow(name) << int(fault) << faulty << reply << taken << first;
        };
        using F = SimServer::Fault;
        row("late reply", F::DelayReply, "q1", {}, {"-", "r2"});
        row("rest of a cut reply", F::SplitReply, "q1", {}, {"-", "r2"});
        row("unanswered query", F::NoReply, "q1", {}, {"-", "r2"});
        row("every reply late", F::DelayReply, "q", {}, {"-", "-", "-"});
        row("reply over the cap", F::None, {}, QByteArray(70000, 'x'), {"-", "r2"});
        row("reply as long as the cap", F::None, {}, QByteArray(TcpLineLink::MaxReplyBytes, 'x'),
            {QString(TcpLineLink::MaxReplyBytes, 'x'), "r2"});
        // Nothing goes out while the link cannot get back in step.
        row("marker unanswered", F::NoReply, "*idn", {}, {"-", "-"}, "*IDN?");
        // The late reply to a marker the link's user sent is owed too: while
        // the marker's replies come late, no query can be answered in step.
        row("every marker late", F::DelayReply, "*idn", {}, {"-", "-", "-"}, "*IDN?");
    }

    void eachReplyGoesToItsOwnQuery()
    {
        QFETCH(int, fault);
        QFETCH(QByteArray, faulty);
        QFETCH(QByteArray, reply);
        QFETCH(QStringList, taken);
        QFETCH(QByteArray, first);
        SimServer sim;
        QVERIFY(sim.start(0));
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, sim.port());
        QVERIFY(socket.waitForConnected(500));
        TcpLineLink link(&socket, {500, 500, 50});
        // The instrument shows how it answers the marker and ends its replies.
        QVERIFY(link.exchange("*IDN?"));
        sim.setFault(SimServer::Fault(fault), 750, faulty);
        QStringList got;
        for (int i = 1; i <= taken.size(); ++i) {
            const QByteArray n = QByteArray::number(i);
            sim.setReply("q" + n, i == 1 && !reply.isEmpty() ? reply : "r" + n);
            got << link.exchange(i == 1 ? first : "q" + n).value_or("-");
        }
        QCOMPARE(got, taken);
    }

    // An instrument that never ends a reply with a line feed starts one
    // shortly before the 500 ms deadline, so that its 100 ms quiet gap runs
    // past it, and may send its rest inside that gap: the reply is taken
    // whole or given up, never cut. The link runs on a thread of its own;
    // the test is the instrument.
    void silenceFramedReplyAtTheDeadline_data()
    {
        QTest::addColumn<int>("startMs"); // after the query
        QTest::addColumn<int>("restMs");  // -1: none
        QTest::addColumn<QString>("taken");
        QTest::newRow("all of it, then silence") << 450 << -1 << "r1";
        QTest::newRow("10 ms before, its rest after the deadline") << 490 << 530 << "-";
    }

    void silenceFramedReplyAtTheDeadline()
    {
        QFETCH(int, startMs);
        QFETCH(int, restMs);
        QFETCH(QString, taken);
        QTcpServer instrument;
        QVERIFY(instrument.listen(QHostAddress::LocalHost));
        auto exchange = std::async(std::launch::async, [port = instrument.serverPort()] {
            QTcpSocket socket;
            socket.connectToHost(QHostAddress::LocalHost, port);
            TcpLineLink link(&socket, {500, 500, 100});
            return socket.waitForConnected(2000) ? link.exchange("q1").value_or("-")
                                                 : QStringLiteral("?");
        });
        QVERIFY(instrument.waitForNewConnection(2000));
        QTcpSocket *peer = instrument.nextPendingConnection();
        while (!peer->canReadLine())
            QVERIFY(peer->waitForReadyRead(2000));
        QElapsedTimer clock;
        clock.start();
        for (const int at : {startMs, restMs}) {
            if (at < 0)
                break;
            QTest::qSleep(qMax(0, at - int(clock.elapsed())));
            peer->write("r1");
            peer->flush();
        }
        QVERIFY(exchange.wait_for(std::chrono::seconds(5)) == std::future_status::ready);
        QCOMPARE(exchange.get(), taken);
    }

    void unwrittenQueryClosesLink()
    {
        // A peer that never reads: the query cannot all go out.
        QTcpServer peer;
        QVERIFY(peer.listen(QHostAddress::LocalHost));
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, peer.serverPort());
        QVERIFY(socket.waitForConnected(500));
        TcpLineLink link(&socket, {200, 200, 50});
        QVERIFY(!link.exchange(QString(32 * 1024 * 1024, QLatin1Char('x'))));
        QCOMPARE(socket.state(), QAbstractSocket::UnconnectedState);
    }
};

QTEST_GUILESS_MAIN(TcpLineLinkTest)
#include "tst_tcplinelink.moc"
