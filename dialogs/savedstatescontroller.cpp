#include "savedstatescontroller.h"

#include "instrumentcommands.h"
#include "logentry.h"
#include "panellog.h"
#include "stateselect.h"
#include "storedstates.h"

#include <QDebug>
#include <QThread>

SavedStatesController::SavedStatesController(QWidget *window)
    : QObject(window), dialog(new StateSelect(window))
{
    dialog->setWindowModality(Qt::WindowModal);
    connect(dialog, &StateSelect::result, this, &SavedStatesController::handleChoice);
    connect(this, &SavedStatesController::openDialog, dialog, &StateSelect::showWindow);
}

void SavedStatesController::requestList()
{
    emit query(InstrumentCommands::storedStatesQuery(), MODE_STATE_LIST);
}

void SavedStatesController::openToLoad()
{
    emit openDialog(true, states);
}

void SavedStatesController::openToSave()
{
    emit openDialog(false, states);
}

void SavedStatesController::takeList(const QString &reply)
{
    states = StoredStateList(reply).fields();
}

void SavedStatesController::handleChoice(bool load, int state)
{
    if (state < 0 || state >= InstrumentCommands::StoredStateCount) {
        qCDebug(lcPanel) << "Ignoring stored state number" << state;
        return;
    }

    // Nothing returns to the event loop until the list query after a save
    // has gone out, so no status request slips in between the state commands.
    if (load) {
        for (const QString &c : InstrumentCommands::loadState(state))
            emit command(c);
        emit stateLoaded();
        emit logEntry(LogEntry::sent("Loaded state " + QString::number(state + 1) +
                                     ". Wait for status verification."));
    } else {
        emit command(InstrumentCommands::saveState(state));
        emit logEntry(LogEntry::sent("Saved state " + QString::number(state + 1) + "."));
        QThread::msleep(InstrumentCommands::SaveSettleMs);
        requestList();
    }
}
