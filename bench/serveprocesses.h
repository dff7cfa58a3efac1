#ifndef SERVEPROCESSES_H
#define SERVEPROCESSES_H

#include <QProcess>
#include <QStringList>

// A program of the tree, or socat, as a child process of the benchmark.
struct Child {
    QProcess process;
    // The lines it printed until it was up.
    QStringList lines;

    // Starts `program`, up once it has printed a line starting with `ready`
    // (any line when empty).
    bool start(const QString &program, const QStringList &args, const QString &ready);
    // Starts socat forwarding a free loopback port to `target`, one client at
    // a time, or each in a process of its own when `fork`; up once it takes a
    // connection.
    bool startSocat(quint16 target, bool fork);

    // The port of the printed line starting with `prefix` (any line when
    // empty), or the port socat listens on.
    quint16 port(const QString &prefix = QString()) const;
    // Processor time of all its threads so far, in nanoseconds.
    qint64 cpuNs() const;

    ~Child();

private:
    quint16 socatPort = 0;
};

// The socat program, empty when it is not installed.
QString socatProgram();

#endif
