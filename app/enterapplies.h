#ifndef ENTERAPPLIES_H
#define ENTERAPPLIES_H

#include <QObject>
#include <QString>
#include <functional>

class QAbstractButton;
class QAbstractSpinBox;

// Enter in a value box applies the value typed so far, exactly as a click on
// the box's "Set" button does; a number typed out of the box's range
// (RangeEntry) is not applied, and `refused` hears the text that held it.
class EnterApplies : public QObject
{
public:
    using Refused = std::function<void(const QString &typed)>;

    // The filter lives as long as `box`.
    static void install(QAbstractSpinBox *box, QAbstractButton *button, Refused refused);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    EnterApplies(QAbstractSpinBox *box, QAbstractButton *button, Refused refused);

    QAbstractSpinBox *box;
    QAbstractButton *button;
    Refused refused;
};

#endif
