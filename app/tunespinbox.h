#ifndef TUNESPINBOX_H
#define TUNESPINBOX_H

#include <QDoubleSpinBox>

// The tune frequency entry. A plain decimal spin box drops the keystroke that
// takes a number out of range, so typing "20" leaves "2" and commits 2 GHz.
// Here such a number is held as unfinished input instead, and leaving the
// field restores the last accepted value.
class TuneSpinBox : public QDoubleSpinBox
{
    Q_OBJECT

public:
    explicit TuneSpinBox(QWidget *parent = nullptr);

    QValidator::State validate(QString &input, int &pos) const override;
};

#endif
