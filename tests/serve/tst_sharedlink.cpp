#include "sharedlink.h"
#include "simserver.h"

#include <QSignalSpy>
#include <QtTest>
#include <memory>

namespace
{
using Outcome = SharedLink::Outcome;
} // namespace

// The shared link in this process, with the simulated instrument behind it.
class SharedLinkTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<SimServer> sim;
    std::unique_ptr<SharedLink> link;

private slots:
    void init()
    {
        sim = std::make_unique<SimServer>();
        QVERIFY(sim->start());
        link = std::make_unique<SharedLink>(SharedLink::Target{false, "127.0.0.1", sim->port()});
        QSignalSpy up(link.get(), &SharedLink::linkChanged);
        link->start();
        QVERIFY(up.wait(5000));
        QVERIFY(link->linkUp());
        sim->clearReceived();
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
};

QTEST_GUILESS_MAIN(SharedLinkTest)
#include "tst_sharedlink.moc"
