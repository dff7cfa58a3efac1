// The panel's start beside the floor's, launched in turn so that a machine
// busy with other work slows both alike: the panel until the simulator has
// answered its identification query, the floor until its first frame.
#include "benchmarks.h"

#include "peakrss.h"
#include "simprocess.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <chrono>
#include <cstdio>

namespace
{
// The window is built and shown while the worker identifies the instrument,
// so its memory keeps growing a little after that; by a second after launch
// it has settled.
const int SettleMs = 1000;
const int LaunchWaitMs = 10000;

qint64 monotonicNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void stop(QProcess &process)
{
    process.terminate();
    if (!process.waitForFinished(5000))
        process.kill();
    process.waitForFinished(1000);
}

void startOffscreen(QProcess &process, const QString &program, const QString &loggingRules)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    if (!loggingRules.isEmpty())
        environment.insert("QT_LOGGING_RULES", loggingRules);
    process.setProcessEnvironment(environment);
    process.start(program, QStringList());
}

// One launch of the floor: the time until it printed its line, and the
// peak memory it printed.
bool launchFloor(QVector<qint64> *ns, double *peak)
{
    QProcess floor;
    floor.setStandardErrorFile(QProcess::nullDevice());
    QElapsedTimer clock;
    clock.start();
    startOffscreen(floor, QStringLiteral(BENCH_FLOOR_PATH), QString());
    while (!floor.canReadLine()) {
        if (!floor.waitForReadyRead(LaunchWaitMs)) {
            stop(floor);
            return false;
        }
    }
    ns->append(clock.nsecsElapsed());
    *peak = std::max(*peak, floor.readLine().trimmed().toDouble());
    floor.waitForFinished(LaunchWaitMs);
    return true;
}

// Adds the phases the panel wrote to `log` (see startupphase.h), as times
// after `launchedNs`, to `phases`.
void collectPhases(const QString &log, qint64 launchedNs, StartUpPhases *phases)
{
    QFile file(log);
    if (!file.open(QIODevice::ReadOnly))
        return;
    static const QRegularExpression line(QStringLiteral("phase \"([^\"]+)\" at ([0-9.]+) ms"));
    for (QRegularExpressionMatchIterator it = line.globalMatch(QString::fromUtf8(file.readAll()));
         it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        const qint64 at = qint64(match.captured(2).toDouble() * 1e6) - launchedNs;
        auto phase = std::find_if(phases->begin(), phases->end(),
                                  [&](const auto &p) { return p.first == match.captured(1); });
        if (phase == phases->end())
            phases->append({match.captured(1), {at}});
        else
            phase->second.append(at);
    }
}

// One launch of the panel against `sim`, with its start-up phases written
// into `folder`.
bool launchPanel(SimProcess &sim, const QTemporaryDir &folder, QVector<qint64> *ns, double *peak,
                 StartUpPhases *phases)
{
    if (!writeSettingsFile(folder.path(), sim.port()))
        return false;
    QProcess panel;
    panel.setWorkingDirectory(folder.path());
    panel.setStandardOutputFile(QProcess::nullDevice());
    const QString log = folder.filePath("phases.log");
    panel.setStandardErrorFile(log);

    QElapsedTimer clock;
    clock.start();
    const qint64 launchedNs = monotonicNs();
    startOffscreen(panel, QStringLiteral(RFPANEL_PATH), "rfpanel.startup.debug=true");
    const bool identified = sim.waitForAnswer("*IDN?", LaunchWaitMs);
    ns->append(clock.nsecsElapsed());
    if (identified)
        QThread::msleep(std::max<qint64>(0, SettleMs - clock.elapsed()));
    *peak = std::max(*peak, peakRssMiB(panel.processId()));
    stop(panel);
    collectPhases(log, launchedNs, phases);
    return identified;
}

QString ms(double us)
{
    return QString::number(us / 1000.0, 'f', 2) + " ms";
}

QString mib(double value)
{
    return QString::number(value, 'f', 1) + " MiB";
}
} // namespace

bool measureStartUp(int runs, StartUp *result)
{
    SimProcess sim;
    if (!sim.start(true))
        return false;
    QVector<qint64> panelNs;
    QVector<qint64> floorNs;
    for (int i = 0; i < runs; ++i) {
        QTemporaryDir folder;
        if (!launchFloor(&floorNs, &result->floorPeakRssMiB) ||
            !launchPanel(sim, folder, &panelNs, &result->peakRssMiB, &result->phases))
            return false;
    }
    result->toIdentified = figuresOf(panelNs);
    result->floorFirstPaint = figuresOf(floorNs);
    return true;
}

void printStartUpFigures(const StartUp &start, int launches)
{
    std::printf("%-30s %10.1f %10.1f   (%d launches)\n", "launch to identified",
                start.toIdentified.medianUs, start.toIdentified.p99Us, launches);
    std::printf("%-30s %10.1f %10.1f   (%d launches)\n", "floor: launch to first paint",
                start.floorFirstPaint.medianUs, start.floorFirstPaint.p99Us, launches);
    std::printf("panel start-up phases, median after launch\n");
    for (const auto &phase : start.phases)
        std::printf("  %-28s %10.1f\n", qPrintable(phase.first), figuresOf(phase.second).medianUs);
}

void printStartUpTargets(const StartUp &start)
{
    const double floorUs = start.floorFirstPaint.medianUs;
    const double ratio = start.toIdentified.medianUs / floorUs;
    printTarget("launch to identified", "<= 2x floor",
                QString::number(ratio, 'f', 2) + "x (" + ms(start.toIdentified.medianUs) + " vs " +
                    ms(floorUs) + ")",
                ratio <= 2);
    if (start.peakRssMiB <= 0 || start.floorPeakRssMiB <= 0) {
        std::printf("%-30s %-14s %s\n", "peak RSS", "<= floor+12MiB", "not known on this system");
        return;
    }
    const double above = start.peakRssMiB - start.floorPeakRssMiB;
    printTarget("peak RSS", "<= floor+12MiB",
                "floor+" + mib(above) + " (" + mib(start.peakRssMiB) + " vs " +
                    mib(start.floorPeakRssMiB) + ")",
                above <= 12);
}
