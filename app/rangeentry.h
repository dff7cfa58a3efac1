#ifndef RANGEENTRY_H
#define RANGEENTRY_H

#include <QSpinBox>
#include <QString>
#include <QValidator>

class QAbstractSpinBox;

// The panel's value boxes hold a number typed outside their range as
// unfinished input. A plain spin box drops the keystroke that takes the
// number there, so "150" in a box up to 100 shows "15", and Enter would
// apply 15 without the operator having seen it. Held, the number stays in
// view, Enter refuses it (EnterApplies) and leaving the box restores the
// last accepted value.
namespace RangeEntry
{
// True when `input`, without the box's prefix and suffix, is a number in the
// box's locale outside the box's range.
bool outOfRange(const QAbstractSpinBox &box, const QString &input);
// The state the box's own validator gave `input`, but Intermediate for a
// number out of range.
QValidator::State hold(const QAbstractSpinBox &box, const QString &input, QValidator::State state);
} // namespace RangeEntry

// The attenuation and reference-frequency entry.
class RangeSpinBox : public QSpinBox
{
    Q_OBJECT

public:
    explicit RangeSpinBox(QWidget *parent = nullptr) : QSpinBox(parent) {}

    QValidator::State validate(QString &input, int &pos) const override;
};

#endif
