#ifndef INSTRUMENTSESSION_H
#define INSTRUMENTSESSION_H

#include "connectiontypes.h"
#include "moduleinfo.h"
#include "networksettingsfile.h"

#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QThread>
#include <functional>
#include <optional>

class Connection;

// The panel's Connection on a worker thread of its own, driven the way the
// panel drives it, but each call waits for the outcome, at most `timeoutMs`.
// Requests run on the worker one at a time, in order; every wait also ends
// once the worker has finished the request, so a request the connection
// drops (no link, no reply within its own waits) ends the wait at once.
//
// A call that runs out of time leaves the worker blocked in one of the
// connection's own waits: the session is then stuck, and the program must
// end without destroying it (see stuck()).
class InstrumentSession : public QObject
{
    Q_OBJECT
public:
    explicit InstrumentSession(int timeoutMs);
    // Closes both links and stops the worker, waiting for it at most
    // WorkerJoinBoundMs. Never call it on a stuck session.
    ~InstrumentSession() override;
    InstrumentSession(const InstrumentSession &) = delete;
    InstrumentSession &operator=(const InstrumentSession &) = delete;

    // The connection's result string ("-2", "-1" or the model field, or
    // empty for a TCP/IP instrument that did not identify as the expected
    // model); nothing when the attempt did not end in time.
    // Over USB, only the instrument with `serial` is taken, unless it is empty.
    std::optional<QString> connectUsb(const QString &serial = QString());
    // The USB instruments attached, as Connection::usbFound gives them;
    // nothing when the listing did not end in time.
    std::optional<QPair<int, QStringList>> findUsb();
    // The identification of one of them, as Connection::usbProbed gives
    // it; nothing when it did not come in time.
    std::optional<QString> probeUsb(const QString &resource);
    std::optional<QString> connectTcp(const QString &host, int port);
    connStatus_t status() const;
    // The reply to the identification query of the last connect that ended
    // in time, trimmed; empty when the instrument gave none.
    QString identification() const;

    // The trimmed reply, taken as it is; nothing when none came in time, or,
    // over USB, when the query could not be written or its read failed or
    // came back empty.
    std::optional<QString> query(const QString &text);
    // As query, for the status query: over USB the reply is read after the
    // instrument's status read delay.
    std::optional<QString> readStatus();
    // The reply to the stored-state query; nothing when none came in time or
    // it is not a list of stored states.
    std::optional<QString> readStoredStates();
    // True once the command has been handed to the link: written into the
    // socket, or to the USB transport.
    bool command(const QString &text);
    std::optional<NetworkSettingsFile::Settings> readNetworkSettings();
    // The instrument and its modules (USB only); empty on failure.
    QList<ModuleInfo> usbInventory();

    bool stuck() const;

signals:
    void requestFinished();

private:
    // Runs `job` on the worker and waits until it is done or time is up.
    bool run(const std::function<void()> &job);
    // Sends a query of the given kind and waits for its reply.
    std::optional<QString> ask(const QString &text, calling_mode_t mode);

    int timeoutMs;
    // Left undeleted, with the connection, when it does not end in time
    // (see joinWorker).
    QThread *worker = new QThread;
    Connection *connection;
    connStatus_t linkStatus;
    bool timedOut = false;
    quint64 lastRequest = 0;
    quint64 finishedRequest = 0;

    std::optional<QString> connectResult;
    QString identity;
    std::optional<QString> reply;
    bool commandWentOut = false;
    std::optional<NetworkSettingsFile::Settings> network;
    QList<ModuleInfo> modules;
    QPair<int, QStringList> usbFound;
    QString probed;
};

#endif
