#ifndef ENTERAPPLIES_H
#define ENTERAPPLIES_H

#include <QObject>

class QAbstractButton;
class QAbstractSpinBox;

// Enter in a value box clicks the box's "Set" button, which takes the text
// typed so far or refuses it (ValueBoxes). A mouse click on that button
// leaves the focus in the box, so the text typed is still there for it to
// take: leaving the box would first put back the last value taken.
class EnterApplies : public QObject
{
public:
    // The filter lives as long as `box`.
    static void install(QAbstractSpinBox *box, QAbstractButton *button);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    EnterApplies(QAbstractSpinBox *box, QAbstractButton *button);

    QAbstractSpinBox *box;
    QAbstractButton *button;
};

#endif
