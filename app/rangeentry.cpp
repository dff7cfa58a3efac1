#include "rangeentry.h"

#include <QDoubleSpinBox>
#include <QLocale>
#include <optional>

namespace
{
using RangeEntry::Limits;

// `input` without the box's prefix and suffix, its unit also when typed
// without the blank before it.
QString numberPart(const Limits &box, const QString &input)
{
    QString number = input;
    if (!box.prefix.isEmpty() && number.startsWith(box.prefix))
        number.remove(0, box.prefix.size());
    if (!box.suffix.isEmpty() && number.endsWith(box.suffix))
        number.chop(box.suffix.size());
    number = number.trimmed();
    const QString unit = box.suffix.trimmed();
    if (!unit.isEmpty() && number.endsWith(unit))
        number = number.left(number.size() - unit.size()).trimmed();
    return number;
}

QString decimalPoints(const QLocale &locale)
{
    return QStringLiteral(".,") + QString(locale.decimalPoint());
}

// The sign at the start of `number`, empty when there is none.
QString signAt(const QString &number, const QLocale &locale)
{
    for (const QString &sign : {QStringLiteral("-"), QStringLiteral("+"),
                                QString(locale.negativeSign()), QString(locale.positiveSign())}) {
        if (number.startsWith(sign))
            return sign;
    }
    return QString();
}

// Whether `point` before `places` digits at the end may also mark thousands:
// the locale's own group separator before exactly three digits. "10,000" in
// the C locale or "1.000" in German is ten thousand or one thousand to some
// and ten or one to others, so it is no number at all.
bool mayBeThousands(QChar point, int places, const QLocale &locale)
{
    const QString group = QString(locale.groupSeparator());
    return places == 3 && group == QString(point) && group != QString(locale.decimalPoint());
}

// `number` as "[-]digits[.digits]" for the C locale, with trailing zeros of
// its fraction dropped; nothing when it is not a number.
std::optional<QString> plainNumber(const QString &number, const QLocale &locale)
{
    const QString sign = signAt(number, locale);
    const QString points = decimalPoints(locale);
    QString whole;
    QString fraction;
    std::optional<QChar> point;
    for (const QChar c : number.mid(sign.size())) {
        if (c.isDigit())
            (point ? fraction : whole) += QChar('0' + c.digitValue());
        else if (points.contains(c) && !point)
            point = c;
        else
            return std::nullopt;
    }
    if (whole.isEmpty() && fraction.isEmpty())
        return std::nullopt;
    if (point && mayBeThousands(*point, fraction.size(), locale))
        return std::nullopt;
    while (fraction.endsWith(QLatin1Char('0')))
        fraction.chop(1);
    const bool negative =
        !sign.isEmpty() && sign != QStringLiteral("+") && sign != QString(locale.positiveSign());
    return QString(negative ? "-" : "") + (whole.isEmpty() ? "0" : whole) +
           (fraction.isEmpty() ? QString() : '.' + fraction);
}
} // namespace

std::optional<Limits> RangeEntry::limitsOf(const QAbstractSpinBox &box)
{
    if (const auto *whole = qobject_cast<const QSpinBox *>(&box))
        return Limits{whole->prefix(), whole->suffix(), double(whole->minimum()),
                      double(whole->maximum()), 0};
    if (const auto *decimal = qobject_cast<const QDoubleSpinBox *>(&box))
        return Limits{decimal->prefix(), decimal->suffix(), decimal->minimum(), decimal->maximum(),
                      decimal->decimals()};
    return std::nullopt;
}

RangeEntry::Reading RangeEntry::read(const QAbstractSpinBox &box, const QString &input)
{
    const std::optional<Limits> found = RangeEntry::limitsOf(box);
    if (!found)
        return {Verdict::NotANumber, 0};
    const std::optional<QString> plain = plainNumber(numberPart(*found, input), box.locale());
    if (!plain)
        return {Verdict::NotANumber, 0};
    bool ok = false;
    const double value = QLocale::c().toDouble(*plain, &ok);
    // Only a run of digits too long for a double fails to convert.
    if (!ok || value < found->minimum || value > found->maximum)
        return {Verdict::OutOfRange, value};
    const int point = plain->indexOf(QLatin1Char('.'));
    const int places = point < 0 ? 0 : plain->size() - point - 1;
    return {places > found->decimals ? Verdict::TooManyPlaces : Verdict::Exact, value};
}

QValidator::State RangeEntry::validate(const QAbstractSpinBox &box, const QString &input)
{
    if (read(box, input).verdict == Verdict::Exact)
        return QValidator::Acceptable;
    const std::optional<Limits> found = RangeEntry::limitsOf(box);
    if (!found)
        return QValidator::Invalid;
    const QLocale locale = box.locale();
    QString number = numberPart(*found, input);
    number.remove(0, signAt(number, locale).size());
    const QString points = decimalPoints(locale);
    for (const QChar c : number) {
        if (!c.isDigit() && !points.contains(c))
            return QValidator::Invalid;
    }
    return QValidator::Intermediate;
}

RangeSpinBox::RangeSpinBox(QWidget *parent) : QSpinBox(parent)
{
    // The value changes only when the text is taken, never keystroke by
    // keystroke: "4" on the way to "45" must not become the value.
    setKeyboardTracking(false);
}

QValidator::State RangeSpinBox::validate(QString &input, int & /*pos*/) const
{
    return RangeEntry::validate(*this, input);
}

int RangeSpinBox::valueFromText(const QString &text) const
{
    return qRound(RangeEntry::read(*this, text).value);
}
