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
};

QTEST_GUILESS_MAIN(SharedLinkTest)
#include "tst_sharedlink.moc"
