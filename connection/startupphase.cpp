#include "startupphase.h"

#include <atomic>
#include <chrono>

Q_LOGGING_CATEGORY(lcStartup, "rfpanel.startup", QtInfoMsg)

namespace
{
const char *const phaseNames[] = {"process start",  "QApplication",  "window built", "first paint",
                                  "USB probe done", "TCP connected", "identified"};

std::atomic<unsigned> phasesReached{0};
std::atomic<qint64> processStartNs{0};

qint64 monotonicNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

QString milliseconds(qint64 ns)
{
    return QString::number(double(ns) / 1e6, 'f', 3);
}
} // namespace

void markStartupPhase(StartupPhase phase)
{
    if (!lcStartup().isDebugEnabled())
        return;
    const qint64 now = monotonicNs();
    const unsigned bit = 1u << unsigned(phase);
    if (phasesReached.fetch_or(bit) & bit)
        return;
    if (phase == StartupPhase::ProcessStart)
        processStartNs = now;
    qCDebug(lcStartup).noquote() << QString("phase \"%1\" at %2 ms, %3 ms after process start")
                                        .arg(QLatin1String(phaseNames[int(phase)]),
                                             milliseconds(now), milliseconds(now - processStartNs));
}
