#include "simserver.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QtTest>
#include <sys/socket.h>

namespace
{

// A plain line-oriented client, as any terminal program would be.
class Client
{
public:
    bool connectTo(quint16 port)
    {
        socket.connectToHost(QHostAddress::LocalHost, port);
        return socket.waitForConnected(5000);
    }
    void send(const QByteArray &bytes)
    {
        socket.write(bytes);
        socket.flush();
    }
    // Next complete reply line, terminator included; empty when none came in time.
    QByteArray readLine()
    {
        QElapsedTimer clock;
        clock.start();
        while (!socket.canReadLine() && clock.elapsed() < 5000 &&
               socket.state() == QAbstractSocket::ConnectedState)
            socket.waitForReadyRead(100);
        return socket.canReadLine() ? socket.readLine() : QByteArray();
    }
    QTcpSocket socket;
};

} // namespace

class SimServerTest : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void carriageReturnsAndOneReplyPerQuery();
    void partialLinesAreJoined();
    void overlongLineIsDropped();
    void reportsItsOwnPort();
    void replyOverrides();
    void noReplyFaultOnlyForPrefix();
    void emptyAndOverheatFaults();
    void splitReplyArrivesInTwoPieces();
    void delayedReplyKeepsOrder();
    void closeConnectionFault();
    void twoClientsShareOneInstrument();
    void wrongModel();
    void restartAfterStop();

private:
    std::unique_ptr<SimServer> server;
};

void SimServerTest::init()
{
    server = std::make_unique<SimServer>();
    QVERIFY(server->start(0));
    QVERIFY(server->port() != 0);
}

void SimServerTest::cleanup()
{
    server.reset();
}

void SimServerTest::carriageReturnsAndOneReplyPerQuery()
{
    Client c;
    QVERIFY(c.connectTo(server->port()));
    c.send("freq:tune 12.5\r\n*IDN?\r\nsyst:readstate?\n");
    QCOMPARE(c.readLine(), QByteArray("Ostrelin,KX4417-UDC,SN000123,2.4.1\n"));
    const QByteArray status = c.readLine();
    QVERIFY(status.startsWith("12.80000,12.5000,"));
    QVERIFY(status.endsWith("1\n") && !status.contains('\r'));
    QCOMPARE(c.socket.bytesAvailable(), 0);
    QCOMPARE(server->receivedLines(), QStringList({"freq:tune 12.5", "*IDN?", "syst:readstate?"}));

    server->clearReceived();
    c.send("enet:ip?\n");
    QCOMPARE(c.readLine(), QByteArray("127.0.0.1\n"));
    QCOMPARE(server->receivedLines(), QStringList({"enet:ip?"}));

    // A client that shuts its sending side after the last query, as `nc -N`
    // does, still gets every reply before the instrument closes the link.
    Client halfClosed;
    QVERIFY(halfClosed.connectTo(server->port()));
    halfClosed.send("*IDN?\r\nenet:ip?\n");
    QCOMPARE(::shutdown(int(halfClosed.socket.socketDescriptor()), SHUT_WR), 0);
    QCOMPARE(halfClosed.readLine(), QByteArray("Ostrelin,KX4417-UDC,SN000123,2.4.1\n"));
    QCOMPARE(halfClosed.readLine(), QByteArray("127.0.0.1\n"));
}

void SimServerTest::partialLinesAreJoined()
{
    Client c;
    QVERIFY(c.connectTo(server->port()));
    c.send("*ID");
    QTRY_COMPARE(server->connectionCount(), 1);
    c.send("N?\r");
    c.send("\n");
    QCOMPARE(c.readLine(), QByteArray("Ostrelin,KX4417-UDC,SN000123,2.4.1\n"));
    QCOMPARE(server->receivedLines(), QStringList({"*IDN?"}));
}

void SimServerTest::overlongLineIsDropped()
{
    // Just over the 64 KiB limit, the line feed mostly arrives before the
    // buffered part outgrows the limit; far over it, the line is cut while
    // still incomplete. Either way the line must not run.
    const QByteArray command = "freq:tune 12.5";
    for (const int length : {64 * 1024 + 8, 200 * 1024}) {
        server->clearReceived();
        Client c;
        QVERIFY(c.connectTo(server->port()));
        c.send(command + QByteArray(length - command.size(), ' ') + "\n*IDN?\n");
        QCOMPARE(c.readLine(), QByteArray("Ostrelin,KX4417-UDC,SN000123,2.4.1\n"));
        QCOMPARE(server->receivedLines(), QStringList({"*IDN?"}));
        server->withModel([](InstrumentModel &m) { QCOMPARE(m.tuneGHz(), 10.0); });
    }
}

void SimServerTest::reportsItsOwnPort()
{
    Client c;
    QVERIFY(c.connectTo(server->port()));
    c.send("enet:port?\n");
    QCOMPARE(c.readLine(), QByteArray::number(server->port()) + '\n');
    c.send("enet:port 5025\nenet:port?\n");
    QCOMPARE(c.readLine(), QByteArray("5025\n"));
    // Writing the settings must leave the listening socket alone.
    Client second;
    QVERIFY(second.connectTo(server->port()));
}

void SimServerTest::replyOverrides()
{
    server->setReply("SYST:READSTATE?", "1,2,3");
    server->setReply("made:up?", "yes");
    Client c;
    QVERIFY(c.connectTo(server->port()));
    c.send("syst:readstate?\nMADE:UP?\n*IDN?\n");
    QCOMPARE(c.readLine(), QByteArray("1,2,3\n"));
    QCOMPARE(c.readLine(), QByteArray("yes\n"));
    QCOMPARE(c.readLine(), QByteArray("Ostrelin,KX4417-UDC,SN000123,2.4.1\n"));

    server->clearReplies();
    c.send("syst:readstate?\n");
    QVERIFY(c.readLine().startsWith("10.30000,"));
}

void SimServerTest::noReplyFaultOnlyForPrefix()
{
    server->setFault(SimServer::Fault::NoReply, 0, "*idn");
    Client c;
    QVERIFY(c.connectTo(server->port()));
    c.send("*IDN?\nenet:ip?\n");
    // The first reply to arrive is the one to the second query.
    QCOMPARE(c.readLine(), QByteArray("127.0.0.1\n"));
    QCOMPARE(server->receivedLines(), QStringList({"*IDN?", "enet:ip?"}));

    server->clearFault();
    c.send("*IDN?\n");
    QCOMPARE(c.readLine(), QByteArray("Ostrelin,KX4417-UDC,SN000123,2.4.1\n"));
}

void SimServerTest::emptyAndOverheatFaults()
{
    Client c;
    QVERIFY(c.connectTo(server->port()));
    server->setFault(SimServer::Fault::EmptyReply);
    c.send("syst:readstate?\n");
    QCOMPARE(c.readLine(), QByteArray("\n"));

    server->setFault(SimServer::Fault::OverheatReply, 0, "syst:readstate");
    c.send("syst:readstate?\n*IDN?\n");
    QCOMPARE(c.readLine(), QByteArray("OH NO!\n"));
    QCOMPARE(c.readLine(), QByteArray("Ostrelin,KX4417-UDC,SN000123,2.4.1\n"));

    // Commands have no reply to spoil.
    c.send("freq:tune 12\nsyst:readstate?\n");
    QCOMPARE(c.readLine(), QByteArray("OH NO!\n"));
}

void SimServerTest::splitReplyArrivesInTwoPieces()
{
    server->setFault(SimServer::Fault::SplitReply, 300);
    Client c;
    QVERIFY(c.connectTo(server->port()));
    c.send("*IDN?\n");
    QTRY_VERIFY(c.socket.bytesAvailable() > 0);
    const QByteArray first = c.socket.readAll();
    QVERIFY(!first.contains('\n'));
    QVERIFY(QByteArray("Ostrelin,KX4417-UDC,SN000123,2.4.1\n").startsWith(first));
    QCOMPARE(first + c.readLine(), QByteArray("Ostrelin,KX4417-UDC,SN000123,2.4.1\n"));
}

void SimServerTest::delayedReplyKeepsOrder()
{
    server->setFault(SimServer::Fault::DelayReply, 400, "*IDN?");
    Client c;
    QVERIFY(c.connectTo(server->port()));
    QElapsedTimer clock;
    clock.start();
    c.send("*IDN?\nenet:ip?\n");
    QCOMPARE(c.readLine(), QByteArray("Ostrelin,KX4417-UDC,SN000123,2.4.1\n"));
    QVERIFY2(clock.elapsed() >= 350, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(c.readLine(), QByteArray("127.0.0.1\n"));
}

void SimServerTest::closeConnectionFault()
{
    server->setFault(SimServer::Fault::CloseConnection, 0, "syst:readstate");
    Client c;
    QVERIFY(c.connectTo(server->port()));
    c.send("*IDN?\n");
    QCOMPARE(c.readLine(), QByteArray("Ostrelin,KX4417-UDC,SN000123,2.4.1\n"));
    QTRY_COMPARE(server->connectionCount(), 1);

    QSignalSpy closed(&c.socket, &QTcpSocket::disconnected);
    c.send("syst:readstate?\n*IDN?\n");
    QVERIFY(closed.count() == 1 || closed.wait(5000));
    QCOMPARE(c.socket.bytesAvailable(), 0);
    QTRY_COMPARE(server->connectionCount(), 0);

    // The instrument itself stays up for the next client.
    server->clearFault();
    Client again;
    QVERIFY(again.connectTo(server->port()));
    again.send("syst:readstate?\n");
    QVERIFY(again.readLine().startsWith("10.30000,"));
}

void SimServerTest::twoClientsShareOneInstrument()
{
    Client a;
    Client b;
    QVERIFY(a.connectTo(server->port()));
    QVERIFY(b.connectTo(server->port()));
    QTRY_COMPARE(server->connectionCount(), 2);

    a.send("fact:rfatten 9\n");
    QTRY_COMPARE(server->receivedLines().size(), 1);
    b.send("syst:readstate?\n");
    QCOMPARE(b.readLine().split(',').value(2), QByteArray("9"));
    a.send("*IDN?\n");
    QCOMPARE(a.readLine(), QByteArray("Ostrelin,KX4417-UDC,SN000123,2.4.1\n"));
    QCOMPARE(server->receivedLines(), QStringList({"fact:rfatten 9", "syst:readstate?", "*IDN?"}));

    a.socket.disconnectFromHost();
    QTRY_COMPARE(server->connectionCount(), 1);
}

void SimServerTest::wrongModel()
{
    server->withModel([](InstrumentModel &m) { m.config().idn = "Acme,SG-1,42,1.0"; });
    Client c;
    QVERIFY(c.connectTo(server->port()));
    c.send("*IDN?\n");
    QCOMPARE(c.readLine(), QByteArray("Acme,SG-1,42,1.0\n"));
}

void SimServerTest::restartAfterStop()
{
    Client c;
    QVERIFY(c.connectTo(server->port()));
    QTRY_COMPARE(server->connectionCount(), 1);
    QSignalSpy closed(&c.socket, &QTcpSocket::disconnected);
    server->stop();
    QCOMPARE(server->connectionCount(), 0);
    QVERIFY(closed.count() == 1 || closed.wait(5000));

    QVERIFY(server->start(0));
    Client again;
    QVERIFY(again.connectTo(server->port()));
    again.send("enet:port?\n");
    QCOMPARE(again.readLine(), QByteArray::number(server->port()) + '\n');
    server->stop();
    server->stop();
}

QTEST_GUILESS_MAIN(SimServerTest)
#include "simservertest.moc"
