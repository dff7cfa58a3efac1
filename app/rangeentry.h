#ifndef RANGEENTRY_H
#define RANGEENTRY_H

#include <QSpinBox>
#include <QString>
#include <QValidator>
#include <optional>

class QAbstractSpinBox;

// The panel's value boxes read what the operator types in one way, whatever
// the locale: "." and "," (and the locale's own decimal point) both mark the
// decimals, and no group separator is taken. The locale's group separator
// before exactly three digits ("10,000" in the C locale, "1.000" in German)
// could be read either way and is no number. A plain spin box drops a
// keystroke it cannot take, so "150" in a box up to 100 or "2.5" in a box of
// whole numbers would stand as "15" or "25" unseen. Here every number-like
// text stays in view as unfinished input, and "Set" (ValueBoxes) takes it
// only when it reads as a value of the box exactly; leaving the box restores
// the last value taken.
namespace RangeEntry
{
enum class Verdict {
    Exact,        // a value of the box, to the box's decimals
    NotANumber,   // no number, one not written as digits with one decimal point, or
                  // one whose point may mark thousands
    OutOfRange,   // below the box's minimum or above its maximum
    TooManyPlaces // finer than the box's decimals (any fraction in a box of whole numbers)
};

// What a box takes; decimals is 0 for a box of whole numbers.
struct Limits {
    QString prefix;
    QString suffix;
    double minimum;
    double maximum;
    int decimals;
};
// Nothing for a box that is neither a QSpinBox nor a QDoubleSpinBox.
std::optional<Limits> limitsOf(const QAbstractSpinBox &box);

struct Reading {
    Verdict verdict;
    double value; // meaningful for Exact, OutOfRange and TooManyPlaces
};

// Reads `input`, with or without the box's prefix and suffix.
Reading read(const QAbstractSpinBox &box, const QString &input);
// Acceptable for an exact reading; Invalid for a character no number of the
// box holds; otherwise Intermediate, so the text stays as typed.
QValidator::State validate(const QAbstractSpinBox &box, const QString &input);
} // namespace RangeEntry

// The attenuation and reference-frequency entry.
class RangeSpinBox : public QSpinBox
{
    Q_OBJECT

public:
    explicit RangeSpinBox(QWidget *parent = nullptr);

    QValidator::State validate(QString &input, int &pos) const override;
    int valueFromText(const QString &text) const override;
    // Nothing is mended: QSpinBox would drop a "," (a group separator) and so
    // take "2,5" as 25.
    void fixup(QString &) const override {}
};

#endif
