#ifndef DAEMONPROCESS_H
#define DAEMONPROCESS_H

#include <QByteArray>
#include <QDeadlineTimer>
#include <QDebug>
#include <QProcess>
#include <QStringList>
#include <memory>

// Stops a service at once when its test is done with it.
struct DaemonKill {
    void operator()(QProcess *process) const
    {
        process->kill();
        process->waitForFinished(2000);
        delete process;
    }
};
using Daemon = std::unique_ptr<QProcess, DaemonKill>;

// Starts a service (a system D-Bus, avahi) in the foreground and waits at
// most `ms` until its output (stdout and stderr together) holds `ready`. Null,
// after printing that output, when it does not. Machine-wide services run
// only inside a namespace of the suite's own (netns-run.sh).
inline Daemon startDaemon(const QString &program, const QStringList &args, const QByteArray &ready,
                          int ms)
{
    Daemon process(new QProcess);
    process->setProcessChannelMode(QProcess::MergedChannels);
    process->start(program, args);
    QByteArray output;
    const QDeadlineTimer deadline(ms);
    while (!output.contains(ready) && process->waitForReadyRead(int(deadline.remainingTime())))
        output += process->readAll();
    if (output.contains(ready))
        return process;
    qWarning().noquote() << program << "did not start:" << output;
    return nullptr;
}

#endif
