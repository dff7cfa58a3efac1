#ifndef TUNESPINBOX_H
#define TUNESPINBOX_H

#include <QDoubleSpinBox>

// The tune frequency entry. A number typed out of range is held as
// unfinished input (RangeEntry), so typing "20" never leaves "2" to commit.
class TuneSpinBox : public QDoubleSpinBox
{
    Q_OBJECT

public:
    explicit TuneSpinBox(QWidget *parent = nullptr);

    QValidator::State validate(QString &input, int &pos) const override;
};

#endif
