#include "sharedlink.h"
#include "simserver.h"

#include <QSignalSpy>
#include <QtTest>
#include <memory>

namespace
{
using Outcome = SharedLink::Outcome;
} // namespace

Q_DECLARE_METATYPE(SharedLink::LockWait)
Q_DECLARE_METATYPE(SimServer::Fault)

// The shared link in this process, with the simulated instrument behind it.
class SharedLinkTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<SimServer> sim;
    std::unique_ptr<SharedLink> link;

    // Starts a link to the simulator, over TCP/IP or through the test VISA
    // library; true once it is up, within seconds.
    bool startLink(const ConnectionTimings &timings = {}, const SharedLinkUpkeep &upkeep = {},
                   bool usb = false)
    {
        link.reset();
        qputenv("FAKEVISA_INSTRUMENTS", "127.0.0.1:" + QByteArray::number(sim->port()));
        link = std::make_unique<SharedLink>(
            SharedLink::Target{usb, usb ? QString() : "127.0.0.1", sim->port(), {}}, timings,
            upkeep);
        QSignalSpy up(link.get(), &SharedLink::linkChanged);
        link->start();
        const bool cameUp = up.wait(5000) && link->linkUp();
        sim->clearReceived();
        return cameUp;
    }

    // A command a quarter of a client's queue bound long.
    static QString quarterOfTheBound()
    {
        const int size = int(SharedLink::MaxQueuedBytesPerClient / 4);
        return "syst:sendstr:1 \"" + QString(size - 17, 'x') + '"';
    }

private slots:
    void init()
    {
        sim = std::make_unique<SimServer>();
        QVERIFY(sim->start());
        QVERIFY(startLink());
    }

    void cleanup()
    {
        link.reset();
        sim.reset();
    }

    // Requests of three clients, submitted in turn, reach the instrument in
    // that order and each reply goes back to the client that asked.
    void interleavedClientsGetTheirOwnReplies()
    {
        QList<SharedLink::ClientId> ids;
        QVector<QStringList> replies(3);
        QStringList sent;
        for (int c = 0; c < 3; ++c)
            ids.append(link->addClient(QStringLiteral("client%1").arg(c)));
        for (int n = 0; n < 4; ++n) {
            for (int c = 0; c < 3; ++c) {
                const QString query = QStringLiteral("q%1:%2?").arg(c).arg(n);
                sim->setReply(query.toUtf8(), QStringLiteral("r%1.%2").arg(c).arg(n).toUtf8());
                link->submit(ids.at(c), query,
                             [&replies, c](const Outcome &o) { replies[c].append(o.reply); });
                sent.append(query);
            }
        }
        QTRY_COMPARE_WITH_TIMEOUT(replies.at(2).size(), 4, 5000);
        for (int c = 0; c < 3; ++c)
            QCOMPARE(replies.at(c),
                     QStringList({QStringLiteral("r%1.0").arg(c), QStringLiteral("r%1.1").arg(c),
                                  QStringLiteral("r%1.2").arg(c), QStringLiteral("r%1.3").arg(c)}));
        QCOMPARE(sim->receivedLines(), sent);
    }

    // A client with slow queries queued holds each other client up by one of
    // them, not by all: the clients take turns.
    void clientsTakeTurns_data()
    {
        QTest::addColumn<SimServer::Fault>("fault");
        QTest::newRow("queries never answered") << SimServer::Fault::NoReply;
        QTest::newRow("queries answered late") << SimServer::Fault::DelayReply;
    }

    void clientsTakeTurns()
    {
        QFETCH(SimServer::Fault, fault);
        ConnectionTimings timings;
        timings.tcpReplyWaitMs = 300;
        QVERIFY(startLink(timings));
        sim->setFault(fault, 200, "syst:sernum?");
        QString served;
        const SharedLink::ClientId slow = link->addClient("slow");
        for (int n = 0; n < 4; ++n)
            link->submit(slow, "syst:sernum?", [&served](const Outcome &) { served += 's'; });
        for (const QString name : {"a", "b"})
            link->submit(link->addClient(name), "*IDN?",
                         [&served, name](const Outcome &) { served += name; });
        QTRY_COMPARE_WITH_TIMEOUT(served.size(), 6, 5000);
        QCOMPARE(served, QString("sabsss"));
    }

    // Over USB too, a reply that comes after its read gave up goes to nobody.
    void lateUsbReplyGoesToNobody()
    {
        qputenv("FAKEVISA_READ_TIMEOUT_MS", "300");
        QVERIFY(startLink({}, {}, true));
        sim->setFault(SimServer::Fault::DelayReply, 700, "syst:bootstate?");
        const SharedLink::ClientId id = link->addClient("client");
        QStringList replies;
        for (const char *query : {"syst:bootstate?", "syst:sernum?"})
            link->submit(id, query, [&replies](const Outcome &o) { replies.append(o.reply); });
        QTRY_COMPARE_WITH_TIMEOUT(replies.size(), 2, 5000);
        QCOMPARE(replies, QStringList({"", "123"}));
    }

    // The lock holder goes first; the others wait until it lets go, for the
    // lock itself at most as long as they asked.
    void lockHolderExcludesOthersUntilItLetsGo()
    {
        const SharedLink::ClientId holder = link->addClient("holder");
        const SharedLink::ClientId other = link->addClient("other");
        QStringList served;
        QList<bool> grants;
        const auto record = [&served](const QString &who) {
            return [&served, who](const Outcome &o) { served.append(who + ' ' + o.reply); };
        };
        const auto grant = [&grants](bool granted) { grants.append(granted); };
        link->lock(holder, 0, grant);
        link->submit(other, "*IDN?", record("other"));
        link->submit(holder, "*IDN?", record("holder"));
        link->lock(other, 100, grant);
        QTRY_COMPARE_WITH_TIMEOUT(grants, QList<bool>({true, false}), 2000);
        QCOMPARE(served.size(), 1);
        QVERIFY(served.first().startsWith("holder Ostrelin"));
        QVERIFY(link->lockedByOther(other));

        link->lock(other, 5000, grant);
        link->removeClient(holder);
        QTRY_COMPARE_WITH_TIMEOUT(grants.size(), 3, 2000);
        QVERIFY(grants.last());
        QTRY_COMPARE_WITH_TIMEOUT(served.size(), 2, 2000);
        QVERIFY(!link->unlock(holder));
    }

    // Clients waiting for the lock get it in the order they asked.
    void lockWaitersTakeTurns()
    {
        QStringList granted;
        QList<SharedLink::ClientId> ids;
        for (const QString name : {"first", "second", "third"}) {
            ids.append(link->addClient(name));
            link->lock(ids.last(), 5000, [&granted, name](bool) { granted.append(name); });
        }
        for (const SharedLink::ClientId id : ids)
            link->unlock(id);
        QTRY_COMPARE_WITH_TIMEOUT(granted, QStringList({"first", "second", "third"}), 2000);
    }

    // Requests of 64 KiB queued behind another client's lock: a client's
    // queue bound holds exactly four, the bound of all exactly 64. A client
    // may bound its wait by the reply time; the others wait for as long as
    // the lock is held.
    void requestsBehindALock_data()
    {
        QTest::addColumn<int>("clients");
        QTest::addColumn<int>("requestsEach");
        QTest::addColumn<SharedLink::LockWait>("lockWait");
        QTest::addColumn<int>("failed"); // with NoReply when the wait is bounded, else Refused
        const auto unbounded = SharedLink::LockWait::Unbounded;
        QTest::newRow("one client past its own bound") << 1 << 5 << unbounded << 1;
        QTest::newRow("clients past the bound of all") << 18 << 4 << unbounded << 8;
        QTest::newRow("a wait bounded by the reply time")
            << 1 << 1 << SharedLink::LockWait::ReplyTime << 1;
    }

    void requestsBehindALock()
    {
        QFETCH(int, clients);
        QFETCH(int, requestsEach);
        QFETCH(SharedLink::LockWait, lockWait);
        QFETCH(int, failed);
        ConnectionTimings timings;
        timings.tcpReplyWaitMs = 200;
        QVERIFY(startLink(timings));
        link->lock(link->addClient("holder"), 0, [](bool) {});
        const Outcome::Status failure =
            lockWait == SharedLink::LockWait::Unbounded ? Outcome::Refused : Outcome::NoReply;
        int failures = 0;
        int outcomes = 0;
        for (int c = 0; c < clients; ++c) {
            const SharedLink::ClientId id = link->addClient(QString::number(c), lockWait);
            for (int n = 0; n < requestsEach; ++n)
                link->submit(id, quarterOfTheBound(), [&](const Outcome &o) {
                    failures += o.status == failure;
                    ++outcomes;
                });
        }
        QTRY_COMPARE_WITH_TIMEOUT(failures, failed, 2000);
        // Past the reply time, the requests of unbounded waits are still queued.
        QTest::qWait(2 * timings.tcpReplyWaitMs);
        QCOMPARE(outcomes, failed);
        QVERIFY(sim->receivedLines().isEmpty());
    }

    // What a client's requests took of its queue bound is its own again once
    // they went out: one after another, it may send more than the bound holds.
    void sentRequestsFreeTheirQueueBound()
    {
        const SharedLink::ClientId id = link->addClient("client");
        int sent = 0;
        std::function<void(const Outcome &)> next = [&](const Outcome &o) {
            if (o.status == Outcome::Sent && ++sent < 5)
                link->submit(id, quarterOfTheBound(), next);
        };
        link->submit(id, quarterOfTheBound(), next);
        QTRY_COMPARE_WITH_TIMEOUT(sent, 5, 2000);
    }

    // The reconnect back-off grows no further than its bound however long
    // the instrument is away (here it hangs up on every identification).
    void reconnectBackOffIsBounded()
    {
        sim->setFault(SimServer::Fault::CloseConnection, 0, "*idn?");
        link = std::make_unique<SharedLink>(SharedLink::Target{false, "127.0.0.1", sim->port(), {}},
                                            ConnectionTimings{}, SharedLinkUpkeep{10, 100, 5000});
        link->start();
        // Unbounded, the back-off would have reached 1.28 s by now.
        QTest::qWait(1500);
        sim->clearReceived();
        QTRY_VERIFY_WITH_TIMEOUT(sim->receivedLines().contains("*IDN?"), 1000);
    }

    // An instrument that falls silent right after a request is noticed by
    // the idle check that follows it, also while a client holds the lock.
    void silenceAfterARequestTakesTheLinkDown_data()
    {
        QTest::addColumn<bool>("locked");
        QTest::newRow("no lock held") << false;
        QTest::newRow("lock held") << true;
    }

    void silenceAfterARequestTakesTheLinkDown()
    {
        QFETCH(bool, locked);
        ConnectionTimings timings;
        timings.tcpReplyWaitMs = 300;
        QVERIFY(startLink(timings, SharedLinkUpkeep{500, 10000, 200}));
        QSignalSpy changed(link.get(), &SharedLink::linkChanged);
        const SharedLink::ClientId id = link->addClient("client");
        if (locked)
            link->lock(id, 0, [](bool) {});
        link->submit(id, "*IDN?",
                     [this](const Outcome &) { sim->setFault(SimServer::Fault::NoReply); });
        QVERIFY(changed.wait(3000));
        QVERIFY(!link->linkUp());
    }
};

QTEST_GUILESS_MAIN(SharedLinkTest)
#include "tst_sharedlink.moc"
