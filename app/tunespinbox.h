#ifndef TUNESPINBOX_H
#define TUNESPINBOX_H

#include <QDoubleSpinBox>

// The tune frequency entry, read as RangeEntry reads it: typing "20" never
// leaves "2" to commit, and "12.5" and "12,5" are the same in every locale.
class TuneSpinBox : public QDoubleSpinBox
{
    Q_OBJECT

public:
    explicit TuneSpinBox(QWidget *parent = nullptr);

    QValidator::State validate(QString &input, int &pos) const override;
    double valueFromText(const QString &text) const override;
    // Nothing is mended: QDoubleSpinBox would drop the locale's group
    // separator, which is the other decimal point here.
    void fixup(QString &) const override {}
};

#endif
