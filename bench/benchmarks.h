#ifndef BENCHMARKS_H
#define BENCHMARKS_H

#include <QPair>
#include <QString>
#include <QVector>

// Median and 99th percentile of a set of samples, in microseconds.
struct Figures {
    double medianUs = 0;
    double p99Us = 0;
};

Figures figuresOf(QVector<qint64> nanoseconds);

// CPU time (user + system) this process has used so far, in nanoseconds.
qint64 processCpuNs();

// Writes a settings file that points the panel at the simulator on `port`
// into `folder`. False when it cannot be written.
bool writeSettingsFile(const QString &folder, quint16 port);

// One row of the closing table: the figure, its target, what was measured.
void printTarget(const char *figure, const QString &target, const QString &measured, bool met);

// One way of asking: its latency and the CPU time it costs per request.
struct Way {
    Figures latency;
    double cpuUs = 0;
};

struct RoundTrips {
    Way panelQuery, rawQuery;
    Way panelPair, rawPair;
};

// A status query, and a command followed by one, through Connection on its
// worker thread and through a bare blocking socket, `samples` of each.
bool measureRoundTrips(quint16 port, int samples, RoundTrips *result);

// The operator's view: a click on an attenuation "Set" in the real window
// (offscreen) until the attenuation label shows the new value.
bool measureClickToDisplay(quint16 port, int samples, Figures *result);

// Times after launch, in nanoseconds, of each start-up phase the panel
// wrote, in the order they first came.
using StartUpPhases = QVector<QPair<QString, QVector<qint64>>>;

struct StartUp {
    Figures toIdentified;
    double peakRssMiB = 0;
    // The bare widget program's launch until its first frame, and its memory.
    Figures floorFirstPaint;
    double floorPeakRssMiB = 0;
    StartUpPhases phases;
};

// Launches the real panel `runs` times against a verbose simulator, each
// time after the floor program: time until the simulator has answered its
// identification query, and the panel's peak resident memory once it is up.
bool measureStartUp(int runs, StartUp *result);

// The start-up rows of the figures table, with the phase breakdown.
void printStartUpFigures(const StartUp &start, int launches);
// The start-up rows of the targets table: ratios to the floor.
void printStartUpTargets(const StartUp &start);

#endif
