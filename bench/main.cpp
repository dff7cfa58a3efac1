// Prints the figures an operator and a script feel, each beside its target:
// round trips and their CPU cost through Connection against a bare socket,
// a click until the window shows its effect, and the panel's start-up
// against a bare widget program's.
// Usage: bench_panel [samples] [launches]
#include "benchmarks.h"
#include "simprocess.h"

#include <QApplication>
#include <QLoggingCategory>
#include <cstdio>

namespace
{
void printWay(const char *name, const Way &way)
{
    std::printf("%-30s %10.1f %10.1f %12.1f\n", name, way.latency.medianUs, way.latency.p99Us,
                way.cpuUs);
}

QString ms(double us)
{
    return QString::number(us / 1000.0, 'f', 2) + " ms";
}

int fail(const char *what)
{
    std::fprintf(stderr, "bench_panel: %s\n", what);
    return 1;
}
} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // The window's and the connection's debug lines would bury the figures.
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    const int samples = argc > 1 ? std::max(1, QString(argv[1]).toInt()) : 1000;
    const int launches = argc > 2 ? std::max(1, QString(argv[2]).toInt()) : 5;

    SimProcess sim;
    if (!sim.start(false))
        return fail("the simulator did not start");
    RoundTrips trips;
    if (!measureRoundTrips(sim.port(), samples, &trips))
        return fail("a round trip got no reply");
    Figures click;
    if (!measureClickToDisplay(sim.port(), std::max(1, samples / 10), &click))
        return fail("the window did not show a click's effect");
    StartUp start;
    if (!measureStartUp(launches, &start))
        return fail("the panel did not identify the simulator");

    std::printf("round trips against the simulator process, %d samples each, microseconds\n",
                samples);
    std::printf("%-30s %10s %10s %12s\n", "", "median", "p99", "CPU/request");
    printWay("query via Connection", trips.panelQuery);
    printWay("query raw socket", trips.rawQuery);
    printWay("command+query via Connection", trips.panelPair);
    printWay("command+query raw socket", trips.rawPair);
    std::printf("%-30s %10.1f %10.1f\n", "click to display", click.medianUs, click.p99Us);
    printStartUpFigures(start, launches);
    std::printf("\n%-30s %-14s %-34s %s\n", "figure", "target", "measured", "");

    const double cpuRatio = trips.panelQuery.cpuUs / trips.rawQuery.cpuUs;
    printTarget("Connection CPU per query", "<= 1.5x raw",
                QString::number(cpuRatio, 'f', 2) + "x (" +
                    QString::number(trips.panelQuery.cpuUs, 'f', 1) + " vs " +
                    QString::number(trips.rawQuery.cpuUs, 'f', 1) + " us)",
                cpuRatio <= 1.5);
    printTarget("click to display, p99", "<= 2 ms", ms(click.p99Us), click.p99Us <= 2000);
    printStartUpTargets(start);
    return 0;
}
