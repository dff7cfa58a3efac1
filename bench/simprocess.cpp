#include "simprocess.h"

#include <QDeadlineTimer>

SimProcess::~SimProcess()
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(3000))
        process.kill();
    process.waitForFinished(1000);
}

bool SimProcess::start(bool verbose)
{
    QStringList arguments{"--port", "0"};
    if (verbose)
        arguments << "--verbose";
    process.start(QStringLiteral(KXSIM_PATH), arguments);
    QDeadlineTimer deadline(5000);
    while (!process.canReadLine()) {
        if (deadline.hasExpired() || !process.waitForReadyRead(int(deadline.remainingTime())))
            return false;
    }
    bool ok = false;
    listening = quint16(process.readLine().trimmed().toUInt(&ok));
    return ok && listening != 0;
}

bool SimProcess::waitForAnswer(const QByteArray &query, int timeoutMs)
{
    const QByteArray asked = "<< " + query + '\n';
    QDeadlineTimer deadline(timeoutMs);
    process.setReadChannel(QProcess::StandardError);
    forever
    {
        log += process.readAll();
        const int at = log.indexOf(asked);
        if (at >= 0 && log.indexOf("\n>> ", at + asked.size() - 1) >= 0) {
            log.clear();
            return true;
        }
        if (deadline.hasExpired() || !process.waitForReadyRead(int(deadline.remainingTime())))
            return false;
    }
}
