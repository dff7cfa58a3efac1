#include "statussnapshot.h"

#include "instrumentcommands.h"
#include "servelog.h"
#include "statusfields.h"

#include <QDeadlineTimer>
#include <QMutexLocker>

double StatusSnapshot::Data::ageSeconds(qint64 steadyNow) const
{
    return readAt.isValid() ? (steadyNow - readAtSteadyMs) / 1000.0 : -1;
}

bool StatusSnapshot::Data::fresh(qint64 steadyNow) const
{
    return linkUp && status && readAt.isValid() &&
           steadyNow - readAtSteadyMs <= qint64(StaleIntervals) * intervalMs;
}

qint64 StatusSnapshot::steadyNowMs()
{
    return QDeadlineTimer::current().deadline();
}

StatusSnapshot::StatusSnapshot(SharedLink &link, const QString &target, int intervalMs,
                               QObject *parent)
    : QObject(parent), link(link), client(link.addOwnClient(QStringLiteral("status reader")))
{
    data.target = target;
    data.intervalMs = intervalMs;
    takeLinkState();
    timer.setInterval(intervalMs);
    connect(&timer, &QTimer::timeout, this, &StatusSnapshot::tick);
    connect(&link, &SharedLink::linkChanged, this, &StatusSnapshot::linkChanged);
    connect(&link, &SharedLink::stateChanged, this, [this] {
        QMutexLocker lock(&mutex);
        takeLinkState();
    });
}

StatusSnapshot::~StatusSnapshot()
{
    link.removeClient(client);
}

void StatusSnapshot::start()
{
    timer.start();
    tick();
}

StatusSnapshot::Data StatusSnapshot::current() const
{
    QMutexLocker lock(&mutex);
    return data;
}

void StatusSnapshot::tick()
{
    if (!reading && link.linkUp())
        read();
}

void StatusSnapshot::read()
{
    reading = true;
    link.submit(client, InstrumentCommands::statusQuery(),
                [this](const SharedLink::Outcome &o) { readEnded(o); });
    // A lock taken between reads delays this one: the reason is told now,
    // not at the lock's next change.
    QMutexLocker lock(&mutex);
    takeLinkState();
}

void StatusSnapshot::readEnded(const SharedLink::Outcome &outcome)
{
    reading = false;
    {
        QMutexLocker lock(&mutex);
        ++data.reads;
        QString problem = outcome.status == SharedLink::Outcome::LinkDown
                              ? QStringLiteral("the link went down")
                              : QStringLiteral("no status reply from the instrument");
        std::optional<StatusReply> status;
        if (outcome.status == SharedLink::Outcome::Replied)
            status = decodeStatus(outcome.reply, &problem);
        // Said when it changes, not at each read.
        if (bool(status) != readsSucceed)
            serveLog(status ? QStringLiteral("status reads succeed")
                            : QStringLiteral("status reads fail: ") + problem);
        readsSucceed = bool(status);
        if (status) {
            data.status = std::move(status);
            data.readAt = QDateTime::currentDateTimeUtc();
            data.readAtSteadyMs = steadyNowMs();
            problem.clear();
        } else {
            ++data.readFailures;
        }
        readProblem = problem;
        takeLinkState();
    }
    emit changed();
}

void StatusSnapshot::linkChanged(bool up)
{
    {
        QMutexLocker lock(&mutex);
        takeLinkState();
    }
    emit changed();
    if (up && !reading)
        read();
}

void StatusSnapshot::takeLinkState()
{
    data.linkUp = link.linkUp();
    data.identification = link.identification();
    data.lockedByClient = link.lockedByOther(client);
    data.link = link.counters();
    if (!data.linkUp)
        data.problem = link.problem();
    else if (data.lockedByClient && reading)
        data.problem = QStringLiteral("a client holds the instrument's lock");
    else
        data.problem = readProblem;
}
