#ifndef SERVEPROCESS_H
#define SERVEPROCESS_H

#include <QDeadlineTimer>
#include <QHash>
#include <QProcess>
#include <QStringList>
#include <QTcpSocket>

#include <csignal>
#include <memory>

// `rfctl serve` as a child process: started with the given arguments, its
// service lines read from stdout, and its log kept from stderr.
class ServeProcess
{
public:
    explicit ServeProcess(const QString &rfctl) : rfctl(rfctl) {}
    ~ServeProcess()
    {
        process.kill();
        process.waitForFinished(2000);
    }

    // True once it has printed a line starting with `service` ("raw") and
    // logged its link up (unless `linkUp` is false), within a few seconds;
    // its port is then port().
    bool start(const QStringList &args, const QString &service = QStringLiteral("raw"),
               bool linkUp = true)
    {
        process.start(rfctl, args);
        while (process.waitForReadyRead(5000)) {
            for (const QString &line : QString::fromUtf8(process.readAllStandardOutput())
                                           .split('\n', Qt::SkipEmptyParts)) {
                ports.insert(line.section(' ', 0, 0), quint16(line.section(':', -1).toUInt()));
                if (line.startsWith(service + ' '))
                    listening = ports.value(service);
            }
            if (listening)
                return !linkUp || waitForLog(QStringLiteral("link up"));
        }
        return false;
    }
    quint16 port() const { return listening; }
    // The port of another service it printed before that one ("raw").
    quint16 port(const QString &service) const { return ports.value(service); }

    // What it has printed on stdout after its service line, so far.
    QString printed() { return output += QString::fromUtf8(process.readAllStandardOutput()); }

    // Everything it has logged so far.
    QString log()
    {
        logged += QString::fromUtf8(process.readAllStandardError());
        return logged;
    }

    // Waits at most `ms` for `text` in the log, after the previous match.
    bool waitForLog(const QString &text, int ms = 5000)
    {
        QDeadlineTimer deadline(ms);
        process.setReadChannel(QProcess::StandardError);
        while (log().indexOf(text, seen) < 0 && !deadline.hasExpired())
            process.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
        const int at = log().indexOf(text, seen);
        seen = at < 0 ? seen : at + text.size();
        return at >= 0;
    }

    // The exit code after SIGTERM; -1 when it did not end within two seconds.
    int terminate()
    {
        signal(SIGTERM);
        return exitCode();
    }
    void signal(int number) { ::kill(pid_t(process.processId()), number); }
    // Once it has ended; -1 when it did not within two seconds.
    int exitCode()
    {
        if (!process.waitForFinished(2000) || process.exitStatus() != QProcess::NormalExit)
            return -1;
        return process.exitCode();
    }

    // A raw client, connected; its state tells whether it got through.
    std::unique_ptr<QTcpSocket> client() const
    {
        auto socket = std::make_unique<QTcpSocket>();
        socket->connectToHost(QStringLiteral("127.0.0.1"), listening);
        socket->waitForConnected(2000);
        return socket;
    }

private:
    const QString rfctl;
    QProcess process;
    quint16 listening = 0;
    QHash<QString, quint16> ports;
    QString logged;
    QString output;
    int seen = 0;
};

#endif
