#ifndef SIMPROCESS_H
#define SIMPROCESS_H

#include <QByteArray>
#include <QProcess>

// The stand-alone simulator `kxsim` as a child process on a free loopback
// port, so its own work never counts in the figures of this process.
class SimProcess
{
public:
    ~SimProcess();

    // Starts it and reads the port it prints. False when it does not come up
    // within a few seconds. With `verbose`, every line it gets and every
    // reply it sends go to its standard error (see takeLog).
    bool start(bool verbose);
    quint16 port() const { return listening; }

    // Waits up to `timeoutMs` until the simulator has answered `query`
    // (logged as "<< query" then ">> reply") since the last call. True once
    // it has; the log read so far is dropped.
    bool waitForAnswer(const QByteArray &query, int timeoutMs);

private:
    QProcess process;
    quint16 listening = 0;
    QByteArray log;
};

#endif
