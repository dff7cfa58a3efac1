#ifndef ENTERAPPLIES_H
#define ENTERAPPLIES_H

#include <QObject>

class QAbstractButton;
class QAbstractSpinBox;

// Enter in a value box applies the value typed so far, exactly as a click on
// the box's "Set" button does.
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
