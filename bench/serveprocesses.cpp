#include "serveprocesses.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

namespace
{
const int StartWaitMs = 10000;

// A loopback port free right now. socat cannot say which one it took, so it
// is given one; another program taking it meanwhile makes the start fail.
quint16 freePort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}
} // namespace

QString socatProgram()
{
    return QStandardPaths::findExecutable(QStringLiteral("socat"));
}

bool Child::start(const QString &program, const QStringList &args, const QString &ready)
{
    process.start(program, args);
    QDeadlineTimer deadline(StartWaitMs);
    while (lines.isEmpty() || !lines.last().startsWith(ready)) {
        if (!process.canReadLine() &&
            (deadline.hasExpired() || !process.waitForReadyRead(int(deadline.remainingTime()))))
            return false;
        if (process.canReadLine())
            lines.append(QString::fromUtf8(process.readLine()).trimmed());
    }
    return true;
}

bool Child::startSocat(quint16 target, bool fork)
{
    socatPort = freePort();
    QString listen =
        QStringLiteral("TCP-LISTEN:%1,bind=127.0.0.1,reuseaddr,nodelay").arg(socatPort);
    if (fork)
        listen += QStringLiteral(",fork");
    process.start(socatProgram(), {listen, QStringLiteral("TCP:127.0.0.1:%1,nodelay").arg(target)});
    if (!process.waitForStarted(StartWaitMs))
        return false;
    // Up once it listens; a probe connection would be its one client, so the
    // listening socket is looked for instead.
    const QString wanted = QStringLiteral("0100007F:%1 00000000:0000 0A")
                               .arg(QString::number(socatPort, 16).toUpper(), 4, QChar('0'));
    QDeadlineTimer deadline(StartWaitMs);
    while (!deadline.hasExpired() && process.state() == QProcess::Running) {
        QFile table(QStringLiteral("/proc/net/tcp"));
        if (table.open(QIODevice::ReadOnly) &&
            QString::fromLatin1(table.readAll()).contains(wanted))
            return true;
        QThread::msleep(10);
    }
    return false;
}

quint16 Child::port(const QString &prefix) const
{
    if (socatPort != 0)
        return socatPort;
    for (const QString &line : lines) {
        if (line.startsWith(prefix))
            return quint16(line.section(':', -1).toUInt());
    }
    return 0;
}

qint64 Child::cpuNs() const
{
    // schedstat counts nanoseconds, where stat counts clock ticks.
    const QString tasks = QStringLiteral("/proc/%1/task").arg(process.processId());
    qint64 total = 0;
    for (const QString &task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat(tasks + '/' + task + QStringLiteral("/schedstat"));
        if (stat.open(QIODevice::ReadOnly))
            total += stat.readAll().split(' ').value(0).toLongLong();
    }
    return total;
}

Child::~Child()
{
    process.terminate();
    if (!process.waitForFinished(3000))
        process.kill();
    process.waitForFinished(1000);
}
