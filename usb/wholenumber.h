#ifndef WHOLENUMBER_H
#define WHOLENUMBER_H

#include <QStringView>
#include <limits>
#include <optional>

// The one reading of a whole number in text from the instrument, from the
// settings file and from rfctl's command line: ASCII digits and nothing
// else, whatever the locale, with a leading '-' or '+' only where the range
// holds negative numbers (low < 0). A blank, a group separator or a digit of
// another script makes it no number, and so does a value outside low..high;
// leading zeros are allowed. Blanks around a field belong to the layout it
// came in (a reply's line end, a line of the settings file), so the reader
// of that layout trims them, never this.
inline std::optional<int> wholeNumber(QStringView text, int low = 0,
                                      int high = std::numeric_limits<int>::max())
{
    const bool signAllowed = low < 0;
    const bool negative = signAllowed && text.startsWith(QLatin1Char('-'));
    if (negative || (signAllowed && text.startsWith(QLatin1Char('+'))))
        text = text.mid(1);
    if (text.isEmpty())
        return std::nullopt;
    // Stopping past the largest magnitude the range holds also keeps a long
    // run of digits from overflowing.
    const qint64 largest = negative ? -qint64(low) : qint64(high);
    qint64 magnitude = 0;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
        magnitude = magnitude * 10 + (c.unicode() - '0');
        if (magnitude > largest)
            return std::nullopt;
    }
    const qint64 value = negative ? -magnitude : magnitude;
    if (value < low || value > high)
        return std::nullopt;
    return int(value);
}

#endif
