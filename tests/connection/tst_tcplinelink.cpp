#include "simserver.h"
#include "tcplinelink.h"

#include <QTcpSocket>
#include <QtTest>

// The framing alone, against the simulator over loopback: the queries "q1",
// "q2", ... get the replies "r1", "r2", ... . Replies are waited for 500 ms;
// q1's fault makes its reply, or the rest of it, 750 ms late or leaves it out.
class TcpLineLinkTest : public QObject
{
    Q_OBJECT
private slots:
    void eachReplyGoesToItsOwnQuery_data()
    {
        QTest::addColumn<int>("fault");         // a SimServer::Fault
        QTest::addColumn<QStringList>("taken"); // "-" for none
        QTest::newRow("late reply") << int(SimServer::Fault::DelayReply) << QStringList{"-", "r2"};
        QTest::newRow("rest of a cut reply")
            << int(SimServer::Fault::SplitReply) << QStringList{"-", "r2"};
        QTest::newRow("unanswered query costs one reply")
            << int(SimServer::Fault::NoReply) << QStringList{"-", "-", "r3"};
    }

    void eachReplyGoesToItsOwnQuery()
    {
        QFETCH(int, fault);
        QFETCH(QStringList, taken);
        SimServer sim;
        QVERIFY(sim.start(0));
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, sim.port());
        QVERIFY(socket.waitForConnected(500));
        TcpLineLink link(&socket, {500, 500, 50});
        // The instrument shows that it ends its replies with a line feed.
        QVERIFY(link.exchange("*IDN?"));
        sim.setFault(SimServer::Fault(fault), 750, "q1");
        QStringList got;
        for (int i = 1; i <= taken.size(); ++i) {
            const QByteArray n = QByteArray::number(i);
            sim.setReply("q" + n, "r" + n);
            got << link.exchange("q" + n).value_or("-");
        }
        QCOMPARE(got, taken);
    }
};

QTEST_GUILESS_MAIN(TcpLineLinkTest)
#include "tst_tcplinelink.moc"
