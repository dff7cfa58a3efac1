#include "benchmarks.h"

#include "mainwindow.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTimer>

namespace
{
// Runs the event loop until `done` holds or the deadline passes. Each turn
// sleeps until an event arrives, so the wait itself costs no processor time.
template <class Condition> bool processUntil(Condition done, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    QTimer wake;
    wake.start(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}
} // namespace

bool measureClickToDisplay(quint16 port, int samples, Figures *result)
{
    QTemporaryDir folder;
    if (!writeSettingsFile(folder.path(), port))
        return false;
    const QString previous = QDir::currentPath();
    QDir::setCurrent(folder.path());

    bool complete = false;
    {
        MainWindow window;
        window.startConnectionThread();
        window.show();
        auto *status = window.findChild<QLabel *>("statusLabel");
        auto *spin = window.findChild<QSpinBox *>("rfAttenSpin");
        auto *button = window.findChild<QAbstractButton *>("rfAttenButton");
        auto *shown = window.findChild<QLabel *>("rfAttenLabel");
        complete = status && spin && button && shown &&
                   processUntil([&] { return status->text().startsWith("Connected to "); }, 10000);

        QVector<qint64> ns;
        QElapsedTimer clock;
        for (int i = 0; complete && i < samples; ++i) {
            const QString before = shown->text();
            spin->setValue(i % 2 ? 7 : 8);
            clock.start();
            button->click();
            complete = processUntil([&] { return shown->text() != before; }, 10000);
            ns.append(clock.nsecsElapsed());
        }
        *result = figuresOf(ns);
    }
    QDir::setCurrent(previous);
    return complete;
}
