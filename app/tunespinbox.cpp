#include "tunespinbox.h"

#include "rangeentry.h"

TuneSpinBox::TuneSpinBox(QWidget *parent) : QDoubleSpinBox(parent)
{
    setKeyboardTracking(false);
    setCorrectionMode(QAbstractSpinBox::CorrectToPreviousValue);
}

QValidator::State TuneSpinBox::validate(QString &input, int & /*pos*/) const
{
    return RangeEntry::validate(*this, input);
}

double TuneSpinBox::valueFromText(const QString &text) const
{
    return RangeEntry::read(*this, text).value;
}
