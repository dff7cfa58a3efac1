#include "mainwindow.h"
#include "ui_mainwindow.h"

#include <QDebug>
#include <QMutexLocker>
#include <QThread>

namespace
{
const int storedStates = 5;
// The instrument needs this long to store a state before its list reflects it.
const unsigned long saveSettleMs = 500;
} // namespace

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
    if (result < 0 || result >= storedStates) {
        qDebug() << "Ignoring stored state number" << result;
        return;
    }

    // Held to the end, through the wait after a save, so that no status
    // request slips in between the state commands.
    QMutexLocker lock(&commandMutex);
    if (load) {
        // Stored states are recalled in fractional PLL mode.
        emit command("freq:pllm 0");
        emit command("syst:loadstate " + QString::number(result));
        ui->tuneFreqSpin->setDecimals(3);
        log("<p style='color:blue'>Loaded state " + QString::number(result + 1) +
            ". Wait for status verification.</p>");
    } else {
        emit command("syst:savestate " + QString::number(result));
        log("<p style='color:blue'>Saved state " + QString::number(result + 1) + ".</p>");
        QThread::msleep(saveSettleMs);
        // Emitted directly: this runs under commandMutex, which is not recursive.
        emit query("syst:bootstate?", MODE_STATE_LIST);
    }
}
