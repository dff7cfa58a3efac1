#ifndef SNMPAGENT_H
#define SNMPAGENT_H

#include "snmpmib.h"
#include "statussnapshot.h"

#include <QObject>
#include <QString>
#include <memory>

// The server's objects and notifications (RFCONVERTER-MIB) for the host's
// SNMP agent, snmpd, as an AgentX subagent on net-snmp's agent library:
// snmpd keeps the protocol versions, communities, users, views and trap
// destinations, and asks the subagent for the values.
//
// net-snmp runs on a thread of its own, and nothing else calls it: a master
// agent that is slow, hung or gone never holds up the server's event loop.
// Every value comes from the status snapshot as it stands, so a request
// never waits for the instrument and never adds a read. The notifications
// are judged on the server's thread at each change of the snapshot
// (RfConverterMib::NoticeWatch) and handed to that thread to send.
//
// Without a master agent, or when it goes away, the log says so once, and
// the subagent tries again every ReconnectSeconds, registering its objects
// anew once it is back; notifications due meanwhile are lost, as snmpd has
// no one to send them to.
class SnmpAgent : public QObject
{
    Q_OBJECT
public:
    static constexpr int ReconnectSeconds = 5;

    // `socket` is the master's AgentX socket as snmpd's agentXSocket names it
    // (a path, or tcp:HOST:PORT); empty for net-snmp's default.
    SnmpAgent(const StatusSnapshot &snapshot, const QString &socket, double temperatureLimit,
              QObject *parent = nullptr);
    // Closes the AgentX session and stops the thread, waiting for it at most
    // WorkerJoinBoundMs (see workerjoin.h for a thread that outlasts it).
    ~SnmpAgent() override;
    SnmpAgent(const SnmpAgent &) = delete;
    SnmpAgent &operator=(const SnmpAgent &) = delete;

    // Starts the thread, which connects to the master agent.
    void start();
    // "snmp /var/agentx/master", the socket it tries.
    QString serviceLine() const;

private:
    struct Worker;
    void snapshotChanged();

    const StatusSnapshot &snapshot;
    RfConverterMib::NoticeWatch watch;
    std::unique_ptr<Worker> worker;
};

#endif
