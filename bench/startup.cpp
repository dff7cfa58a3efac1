#include "benchmarks.h"

#include "simprocess.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>

namespace
{
// Peak resident set of a running process, in MiB; 0 where the system does
// not tell (Linux's /proc does).
double peakRssMiB(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return 0;
}

void stop(QProcess &panel)
{
    panel.terminate();
    if (!panel.waitForFinished(5000))
        panel.kill();
    panel.waitForFinished(1000);
}

// The window is built and shown while the worker identifies the instrument,
// so its memory keeps growing a little after that; by a second after launch
// it has settled.
const int SettleMs = 1000;
} // namespace

bool measureStartUp(int runs, StartUp *result)
{
    SimProcess sim;
    if (!sim.start(true))
        return false;
    QVector<qint64> ns;
    double peak = 0;
    for (int i = 0; i < runs; ++i) {
        QTemporaryDir folder;
        if (!writeSettingsFile(folder.path(), sim.port()))
            return false;
        QProcess panel;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        panel.setProcessEnvironment(environment);
        panel.setWorkingDirectory(folder.path());
        panel.setStandardOutputFile(QProcess::nullDevice());
        panel.setStandardErrorFile(QProcess::nullDevice());

        QElapsedTimer clock;
        clock.start();
        panel.start(QStringLiteral(RFPANEL_PATH), QStringList());
        const bool identified = sim.waitForAnswer("*IDN?", 10000);
        ns.append(clock.nsecsElapsed());
        if (identified)
            QThread::msleep(std::max<qint64>(0, SettleMs - clock.elapsed()));
        peak = std::max(peak, peakRssMiB(panel.processId()));
        stop(panel);
        if (!identified)
            return false;
    }
    *result = {figuresOf(ns), peak};
    return true;
}
