#ifndef SAVEDSTATESCONTROLLER_H
#define SAVEDSTATESCONTROLLER_H

#include "connectiontypes.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

class QWidget;
class StateSelect;

// The instrument's five stored states: listed by the instrument, loaded and
// overwritten through the StateSelect dialog this owns. It never talks to
// the instrument itself: its requests leave through its signals and the
// list comes back through takeList, all on the UI thread.
class SavedStatesController : public QObject
{
    Q_OBJECT

public:
    // A child of `window`; the dialog is window-modal over it.
    explicit SavedStatesController(QWidget *window);

    // Asks the instrument for its list of stored states.
    void requestList();
    // Opens the dialog on the list last received, to load a state or to
    // overwrite one with the instrument's present state.
    void openToLoad();
    void openToSave();

public slots:
    // Keeps a reply to the list query; an empty or short one leaves the
    // dialog's missing cells empty.
    void takeList(const QString &reply);
    // Loads or overwrites stored state `state` (0 for the first). A number
    // outside the instrument's states sends nothing.
    void handleChoice(bool load, int state);

signals:
    void query(QString s, calling_mode_t mode);
    void command(QString s);
    // A state was loaded, whose tune frequency may need three decimals.
    void stateLoaded();
    // One entry for the log pane, made by LogEntry.
    void logEntry(QString html);
    // Shows the dialog, to load (`load`) or to overwrite, with `states`.
    void openDialog(bool load, QList<QStringList> states);

private:
    StateSelect *dialog;
    // The stored states as last listed by the instrument.
    QList<QStringList> states;
};

#endif
