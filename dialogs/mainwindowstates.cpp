#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "instrumentcommands.h"
#include "logentry.h"
#include "panellog.h"

#include <QDebug>
#include <QMutexLocker>
#include <QThread>

void MainWindow::requestSavedStates()
{
    emit query(InstrumentCommands::storedStatesQuery(), MODE_STATE_LIST);
}

void MainWindow::on_loadStateButton_clicked()
{
    emit initStateSelect(true, savedStates);
}

void MainWindow::on_saveStateButton_clicked()
{
    emit initStateSelect(false, savedStates);
}

void MainWindow::handleStateSelect(bool load, int result)
{
    if (result < 0 || result >= InstrumentCommands::StoredStateCount) {
        qCDebug(lcPanel) << "Ignoring stored state number" << result;
        return;
    }

    // Held to the end, through the wait after a save, so that no status
    // request slips in between the state commands.
    QMutexLocker lock(&commandMutex);
    if (load) {
        for (const QString &c : InstrumentCommands::loadState(result))
            emit command(c);
        ui->tuneFreqSpin->setDecimals(3);
        log(LogEntry::sent("Loaded state " + QString::number(result + 1) +
                           ". Wait for status verification."));
    } else {
        emit command(InstrumentCommands::saveState(result));
        log(LogEntry::sent("Saved state " + QString::number(result + 1) + "."));
        QThread::msleep(InstrumentCommands::SaveSettleMs);
        // Emitted directly: this runs under commandMutex, which is not recursive.
        emit query(InstrumentCommands::storedStatesQuery(), MODE_STATE_LIST);
    }
}
