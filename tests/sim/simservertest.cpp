#include "simserver.h"
#include "nativesocket.h"
#include "simconnection.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QtTest>
#include <atomic>
#include <thread>

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

// A client that sends queries as fast as it can and never reads a reply,
// through a plain socket with a small receive buffer.
class Flooder
{
public:
    explicit Flooder(quint16 port)
    {
        fd = openTcpSocket();
        const int small = 4096;
        const auto *size = reinterpret_cast<const char *>(&small);
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, size, sizeof small);
        ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, size, sizeof small);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected = ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    }
    ~Flooder() { closeSocket(fd); }

    // Sends until the instrument drops the link; false if `limit` bytes went
    // out without that happening.
    bool floodUntilDropped(qint64 limit)
    {
        const QByteArray block = QByteArray("syst:gatevolt?\n").repeated(4096);
        for (qint64 sent = 0; sent < limit;) {
            const ssize_t n = ::send(fd, block.constData(), block.size(), NoBrokenPipeSignal);
            if (n < 0)
                return true;
            sent += n;
        }
        return false;
    }

    NativeSocket fd;
    bool connected = false;
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
    void clientLeavingRepliesUnreadIsDropped();
    void receivedRecordIsBounded();
    void reportsItsOwnPort();
    void repliesFollowOverridesAndFaults_data();
    void repliesFollowOverridesAndFaults();
    void splitReplyArrivesInTwoPieces();
    void closeConnectionFault();
    void twoClientsShareOneInstrument();
    void clientsTakeTurns();
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
    // A script of many lines is answered in full too, although the instrument
    // takes only a few lines of one client at a time.
    Client halfClosed;
    QVERIFY(halfClosed.connectTo(server->port()));
    const int queries = SimConnection::LinesPerTurn * 3;
    halfClosed.send(QByteArray("*IDN?\r\nenet:ip?\n").repeated(queries / 2));
    QCOMPARE(::shutdown(NativeSocket(halfClosed.socket.socketDescriptor()), ShutdownSending), 0);
    for (int n = 0; n < queries / 2; ++n) {
        QCOMPARE(halfClosed.readLine(), QByteArray("Ostrelin,KX4417-UDC,SN000123,2.4.1\n"));
        QCOMPARE(halfClosed.readLine(), QByteArray("127.0.0.1\n"));
    }
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

void SimServerTest::clientLeavingRepliesUnreadIsDropped()
{
    Client good;
    QVERIFY(good.connectTo(server->port()));
    std::vector<std::unique_ptr<Flooder>> flooders;
    for (int n = 0; n < 4; ++n) {
        flooders.push_back(std::make_unique<Flooder>(server->port()));
        QVERIFY(flooders.back()->connected);
    }
    QTRY_COMPARE(server->connectionCount(), 5);

    // Queries worth about ten times as many bytes of replies: far more than
    // the limit, even with every kernel buffer on the way full.
    const qint64 limit = 4 * SimConnection::MaxUnreadOutput;
    std::atomic<int> dropped{0};
    std::atomic<int> running{int(flooders.size())};
    std::vector<std::thread> threads;
    for (auto &flooder : flooders) {
        threads.emplace_back([&, f = flooder.get()] {
            dropped += f->floodUntilDropped(limit) ? 1 : 0;
            --running;
        });
    }
    // The well-behaved client is answered all along.
    int answered = 0;
    do {
        good.send("*IDN?\n");
        if (good.readLine() == "Ostrelin,KX4417-UDC,SN000123,2.4.1\n")
            ++answered;
        else
            break;
    } while (running > 0);
    for (std::thread &t : threads)
        t.join();
    QVERIFY(answered > 0);
    QCOMPARE(good.socket.state(), QAbstractSocket::ConnectedState);
    QCOMPARE(dropped.load(), int(flooders.size()));
    QTRY_COMPARE(server->connectionCount(), 1);
    good.send("enet:ip?\n");
    QCOMPARE(good.readLine(), QByteArray("127.0.0.1\n"));
}

void SimServerTest::receivedRecordIsBounded()
{
    Client c;
    QVERIFY(c.connectTo(server->port()));
    QByteArray many;
    for (int n = 0; n < SimServer::RecordedLines + 100; ++n)
        many += "syst:time " + QByteArray::number(n) + '\n';
    c.send(many + "*IDN?\n");
    QVERIFY(!c.readLine().isEmpty());
    QStringList lines = server->receivedLines();
    QCOMPARE(lines.size(), SimServer::RecordedLines);
    QCOMPARE(lines.first(), QString("syst:time 101"));
    QCOMPARE(lines.last(), QString("*IDN?"));

    // Long lines are bounded by their size.
    const QByteArray padded = "syst:time 7" + QByteArray(60000, ' ');
    for (int n = 0; n < 20; ++n)
        c.send(padded + '\n');
    c.send("*IDN?\n");
    QVERIFY(!c.readLine().isEmpty());
    lines = server->receivedLines();
    QCOMPARE(lines.last(), QString("*IDN?"));
    QVERIFY(lines.join(QString()).size() <= SimServer::RecordedBytes);
    QCOMPARE(lines.at(lines.size() - 2), QString::fromLatin1(padded));
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

void SimServerTest::repliesFollowOverridesAndFaults_data()
{
    QTest::addColumn<QByteArrayList>("overrides"); // "query=reply"
    QTest::addColumn<int>("fault");                // a SimServer::Fault
    QTest::addColumn<int>("faultMs");
    QTest::addColumn<QByteArray>("prefix");
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<QByteArrayList>("replies");
    const QByteArray idn = "Ostrelin,KX4417-UDC,SN000123,2.4.1\n";
    const int none = int(SimServer::Fault::None);
    QTest::newRow("overrides, any case")
        << QByteArrayList{"SYST:READSTATE?=1,2,3", "made:up?=yes"} << none << 0 << QByteArray()
        << QByteArray("syst:readstate?\nMADE:UP?\n*IDN?\n")
        << QByteArrayList{"1,2,3\n", "yes\n", idn};
    // The first reply to arrive is the one to the second query.
    QTest::newRow("no reply, only for its prefix")
        << QByteArrayList() << int(SimServer::Fault::NoReply) << 0 << QByteArray("*idn")
        << QByteArray("*IDN?\nenet:ip?\n") << QByteArrayList{"127.0.0.1\n"};
    QTest::newRow("empty reply") << QByteArrayList() << int(SimServer::Fault::EmptyReply) << 0
                                 << QByteArray() << QByteArray("syst:readstate?\n")
                                 << QByteArrayList{"\n"};
    // Commands have no reply to spoil.
    QTest::newRow("overheat") << QByteArrayList() << int(SimServer::Fault::OverheatReply) << 0
                              << QByteArray("syst:readstate")
                              << QByteArray(
                                     "syst:readstate?\n*IDN?\nfreq:tune 12\nsyst:readstate?\n")
                              << QByteArrayList{"OH NO!\n", idn, "OH NO!\n"};
    QTest::newRow("delayed, in order")
        << QByteArrayList() << int(SimServer::Fault::DelayReply) << 400 << QByteArray("*IDN?")
        << QByteArray("*IDN?\nenet:ip?\n") << QByteArrayList{idn, "127.0.0.1\n"};
}

void SimServerTest::repliesFollowOverridesAndFaults()
{
    QFETCH(QByteArrayList, overrides);
    QFETCH(int, fault);
    QFETCH(int, faultMs);
    QFETCH(QByteArray, prefix);
    QFETCH(QByteArray, sent);
    QFETCH(QByteArrayList, replies);
    for (const QByteArray &pair : overrides)
        server->setReply(pair.left(pair.indexOf('=')), pair.mid(pair.indexOf('=') + 1));
    server->setFault(SimServer::Fault(fault), faultMs, prefix);
    Client c;
    QVERIFY(c.connectTo(server->port()));
    QElapsedTimer clock;
    clock.start();
    c.send(sent);
    for (const QByteArray &reply : replies)
        QCOMPARE(c.readLine(), reply);
    QVERIFY2(clock.elapsed() >= faultMs - 50, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(server->receivedLines(), QString(sent).split('\n', Qt::SkipEmptyParts));

    // Cleared, the instrument answers for itself again.
    server->clearReplies();
    server->clearFault();
    c.send("*IDN?\nsyst:readstate?\n");
    QCOMPARE(c.readLine(), QByteArray("Ostrelin,KX4417-UDC,SN000123,2.4.1\n"));
    QCOMPARE(c.readLine().split(',').size(), 16);
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

// A client's backlog of lines does not hold up another client's line.
void SimServerTest::clientsTakeTurns()
{
    Client flood;
    Client other;
    QVERIFY(flood.connectTo(server->port()));
    QVERIFY(other.connectTo(server->port()));
    QTRY_COMPARE(server->connectionCount(), 2);
    const int backlog = 40 * SimConnection::LinesPerTurn;
    // Sent while the instrument is held busy, so both wait when it reads on.
    server->withModel([&](InstrumentModel &) {
        flood.send(QByteArray("syst:time 1\n").repeated(backlog));
        other.send("*IDN?\n");
    });
    QVERIFY(!other.readLine().isEmpty());
    const int served = server->receivedLines().indexOf("*IDN?");
    QVERIFY2(served >= 0 && served < backlog / 2, qPrintable(QString::number(served)));
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
