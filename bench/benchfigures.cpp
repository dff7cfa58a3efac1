#include "benchmarks.h"

#include "networksettingsfile.h"

#include <QDir>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>

Figures figuresOf(QVector<qint64> nanoseconds)
{
    if (nanoseconds.isEmpty())
        return {};
    std::sort(nanoseconds.begin(), nanoseconds.end());
    const int size = int(nanoseconds.size());
    const int p99 = std::clamp(int(std::ceil(0.99 * size)) - 1, 0, size - 1);
    return {nanoseconds.at(size / 2) / 1000.0, nanoseconds.at(p99) / 1000.0};
}

qint64 processCpuNs()
{
    // std::clock is the process's processor time on the POSIX systems this
    // runs on (on Windows it would be wall time).
    return qint64(std::clock()) * (1000000000LL / CLOCKS_PER_SEC);
}

bool writeSettingsFile(const QString &folder, quint16 port)
{
    const QString previous = QDir::currentPath();
    QDir::setCurrent(folder);
    const bool written = NetworkSettingsFile().write({"127.0.0.1", "255.0.0.0", "127.0.0.1", port});
    QDir::setCurrent(previous);
    return written;
}

void printTarget(const char *figure, const QString &target, const QString &measured, bool met)
{
    std::printf("%-30s %-14s %-34s %s\n", figure, qPrintable(target), qPrintable(measured),
                met ? "met" : "missed");
}
