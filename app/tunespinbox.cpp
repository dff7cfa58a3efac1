#include "tunespinbox.h"

TuneSpinBox::TuneSpinBox(QWidget *parent) : QDoubleSpinBox(parent)
{
    setKeyboardTracking(false);
    setCorrectionMode(QAbstractSpinBox::CorrectToPreviousValue);
}

QValidator::State TuneSpinBox::validate(QString &input, int &pos) const
{
    const QValidator::State state = QDoubleSpinBox::validate(input, pos);
    if (state != QValidator::Invalid)
        return state;

    QString number = input;
    if (!prefix().isEmpty() && number.startsWith(prefix()))
        number.remove(0, prefix().size());
    if (!suffix().isEmpty() && number.endsWith(suffix()))
        number.chop(suffix().size());
    number = number.trimmed();
    if (!suffix().trimmed().isEmpty() && number.endsWith(suffix().trimmed()))
        number = number.left(number.size() - suffix().trimmed().size()).trimmed();

    bool ok = false;
    const double value = locale().toDouble(number, &ok);
    if (ok && (value < minimum() || value > maximum()))
        return QValidator::Intermediate;
    return QValidator::Invalid;
}
