#include "enterapplies.h"

#include "rangeentry.h"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QKeyEvent>

void EnterApplies::install(QAbstractSpinBox *box, QAbstractButton *button, Refused refused)
{
    box->installEventFilter(new EnterApplies(box, button, std::move(refused)));
}

EnterApplies::EnterApplies(QAbstractSpinBox *box, QAbstractButton *button, Refused refused)
    : QObject(box), box(box), button(button), refused(std::move(refused))
{
}

bool EnterApplies::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != box || event->type() != QEvent::KeyPress)
        return false;
    const int key = static_cast<QKeyEvent *>(event)->key();
    if (key != Qt::Key_Return && key != Qt::Key_Enter)
        return false;
    const QString typed = box->text();
    const bool outOfRange = RangeEntry::outOfRange(*box, typed);
    // The text typed so far becomes the value first, as leaving the box would
    // make it; a number out of range gives way to the last accepted value.
    box->interpretText();
    if (outOfRange)
        refused(typed);
    else if (button->isEnabled()) // a disabled button (no instrument) applies nothing
        button->click();
    return true;
}
