#ifndef WHOLENUMBER_H
#define WHOLENUMBER_H

#include <QStringView>
#include <limits>
#include <optional>

// The one reading of a whole number in text from the instrument, from the
// settings file and from rfctl's command line: one or more ASCII digits and
// nothing else, whatever the locale. A sign, a blank, a group separator or a
// digit of another script makes it no number, and so does a value outside
// low..high (0 <= low <= high); leading zeros are allowed. Blanks around a
// field belong to the layout it came in (a reply's line end, a line of the
// settings file), so the reader of that layout trims them, never this.
inline std::optional<int> wholeNumber(QStringView text, int low = 0,
                                      int high = std::numeric_limits<int>::max())
{
    if (text.isEmpty())
        return std::nullopt;
    qint64 value = 0;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
        value = value * 10 + (c.unicode() - '0');
        // Stopping here also keeps a long run of digits from overflowing.
        if (value > high)
            return std::nullopt;
    }
    if (value < low)
        return std::nullopt;
    return int(value);
}

#endif
