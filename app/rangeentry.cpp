#include "rangeentry.h"

#include <QDoubleSpinBox>
#include <optional>

namespace
{
struct Range {
    QString prefix;
    QString suffix;
    double minimum;
    double maximum;
};

std::optional<Range> rangeOf(const QAbstractSpinBox &box)
{
    if (const auto *whole = qobject_cast<const QSpinBox *>(&box))
        return Range{whole->prefix(), whole->suffix(), double(whole->minimum()),
                     double(whole->maximum())};
    if (const auto *decimal = qobject_cast<const QDoubleSpinBox *>(&box))
        return Range{decimal->prefix(), decimal->suffix(), decimal->minimum(), decimal->maximum()};
    return std::nullopt;
}
} // namespace

bool RangeEntry::outOfRange(const QAbstractSpinBox &box, const QString &input)
{
    const std::optional<Range> found = rangeOf(box);
    if (!found)
        return false;
    const Range &range = *found;
    QString number = input;
    if (!range.prefix.isEmpty() && number.startsWith(range.prefix))
        number.remove(0, range.prefix.size());
    if (!range.suffix.isEmpty() && number.endsWith(range.suffix))
        number.chop(range.suffix.size());
    number = number.trimmed();
    const QString unit = range.suffix.trimmed();
    if (!unit.isEmpty() && number.endsWith(unit))
        number = number.left(number.size() - unit.size()).trimmed();

    bool ok = false;
    const double value = box.locale().toDouble(number, &ok);
    return ok && (value < range.minimum || value > range.maximum);
}

QValidator::State RangeEntry::hold(const QAbstractSpinBox &box, const QString &input,
                                   QValidator::State state)
{
    if (state == QValidator::Invalid && outOfRange(box, input))
        return QValidator::Intermediate;
    return state;
}

QValidator::State RangeSpinBox::validate(QString &input, int &pos) const
{
    return RangeEntry::hold(*this, input, QSpinBox::validate(input, pos));
}
