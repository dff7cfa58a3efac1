#ifndef STATUSSNAPSHOT_H
#define STATUSSNAPSHOT_H

#include "sharedlink.h"
#include "statusreply.h"

#include <QDateTime>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QTimer>
#include <optional>

// The instrument's status as the server last read it, with the link's state
// and counters. The server reads the status on its own schedule, at most once
// an interval, in turn with every other client of the shared link; every
// monitoring service (the web service, the SNMP subagent) answers from the
// latest snapshot at once and never waits on the instrument.
class StatusSnapshot : public QObject
{
    Q_OBJECT
public:
    // What the monitoring services publish, copied out in one piece.
    struct Data {
        // The instrument's identification reply ("MAKER,MODEL,SERIAL,FIRMWARE")
        // from when the link last came up; empty before that.
        QString identification;
        // Where the link goes or tries to go, for the operator ("192.0.2.10:5025",
        // "USB", "USB SN000123").
        QString target;
        bool linkUp = false;
        // The last status read that succeeded, kept when the link goes down
        // or a read fails, so that its age tells how current it is; when it
        // is missing or not current, why, in words (the link's own reason
        // while it is down).
        std::optional<StatusReply> status;
        QString problem;
        // When `status` was read, for display; invalid before the first read.
        QDateTime readAt;
        // The same moment on the monotonic clock (steadyNowMs()), which
        // tells the status's age: the wall clock may be stepped back.
        qint64 readAtSteadyMs = 0;
        // A client other than the snapshot's own holds the instrument's lock.
        bool lockedByClient = false;
        // The shared link's counters of the server's clients; the snapshot's
        // own reads are not among them.
        SharedLink::Counters link;
        // The snapshot's own status reads, and those that failed.
        quint64 reads = 0;
        quint64 readFailures = 0;
        // The reading interval, and how old the status may grow before the
        // instrument counts as lost (StaleIntervals of them).
        int intervalMs = 0;

        // Seconds since the read at `steadyNow` (steadyNowMs()); negative
        // before the first read.
        double ageSeconds(qint64 steadyNow) const;
        // The link is up and the status is no older than the bound.
        bool fresh(qint64 steadyNow) const;
    };

    // Intervals a status may age before the instrument counts as lost.
    static constexpr int StaleIntervals = 3;
    static constexpr int DefaultIntervalMs = 1000;
    // Over USB a read holds the instrument for its readiness pause.
    static constexpr int DefaultUsbIntervalMs = 5000;

    StatusSnapshot(SharedLink &link, const QString &target, int intervalMs,
                   QObject *parent = nullptr);
    ~StatusSnapshot() override;
    StatusSnapshot(const StatusSnapshot &) = delete;
    StatusSnapshot &operator=(const StatusSnapshot &) = delete;

    // Now on the monotonic clock, in milliseconds; the same in every thread.
    static qint64 steadyNowMs();

    // Reads at once when the link is up, then every interval.
    void start();
    // The latest snapshot; from any thread, without waiting on the instrument.
    Data current() const;

signals:
    // On the server's thread, after each read ends and each link change.
    void changed();

private:
    void tick();
    void read();
    void readEnded(const SharedLink::Outcome &outcome);
    void linkChanged(bool up);
    // Takes what the link knows now into `data`; with `mutex` held.
    void takeLinkState();

    SharedLink &link;
    const SharedLink::ClientId client;
    QTimer timer;
    // A read is queued or under way: the next waits for it.
    bool reading = false;
    bool readsSucceed = false;
    // Why the last read gave no status; empty when it did.
    QString readProblem = QStringLiteral("no status read yet");
    mutable QMutex mutex;
    Data data;
};

#endif
