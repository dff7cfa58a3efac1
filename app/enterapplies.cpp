#include "enterapplies.h"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QKeyEvent>

void EnterApplies::install(QAbstractSpinBox *box, QAbstractButton *button)
{
    button->setFocusPolicy(Qt::TabFocus);
    box->installEventFilter(new EnterApplies(box, button));
}

EnterApplies::EnterApplies(QAbstractSpinBox *box, QAbstractButton *button)
    : QObject(box), box(box), button(button)
{
}

bool EnterApplies::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != box || event->type() != QEvent::KeyPress)
        return false;
    const int key = static_cast<QKeyEvent *>(event)->key();
    if (key != Qt::Key_Return && key != Qt::Key_Enter)
        return false;
    button->click(); // a disabled button (no instrument) applies nothing
    return true;
}
