#include "requesttext.h"

#include <QRegularExpression>

namespace
{
// The instrument takes every control character and the space as white space.
bool isBlank(QChar c)
{
    return c.unicode() <= 0x20;
}

bool unitIsQuery(QStringView unit)
{
    int start = 0;
    while (start < unit.size() && isBlank(unit.at(start)))
        ++start;
    int end = start;
    while (end < unit.size() && !isBlank(unit.at(end)))
        ++end;
    return end > start && unit.at(end - 1) == '?';
}

bool printableAscii(const QString &text)
{
    for (const QChar c : text) {
        if (c != '\t' && (c.unicode() < 0x20 || c.unicode() > 0x7e))
            return false;
    }
    return true;
}

// A common query ("*idn?") or a compound one ("syst:sernum?", ":meas2?"):
// mnemonics of a letter and then letters, digits or underscores.
bool queryHeader(const QString &text)
{
    static const QRegularExpression header(
        QStringLiteral("^(\\*[A-Za-z][A-Za-z0-9_]*|:?[A-Za-z][A-Za-z0-9_]*(:[A-Za-z][A-Za-z0-9_]*)*"
                       ")\\?([ \\t]|$)"));
    return header.match(text).hasMatch();
}
} // namespace

namespace RequestText
{
bool isQuery(const QString &text)
{
    // Unit by unit in place: this runs for every request the server forwards.
    for (int start = 0; start <= text.size();) {
        int end = text.indexOf(QChar(';'), start);
        if (end < 0)
            end = text.size();
        if (unitIsQuery(QStringView(text).mid(start, end - start)))
            return true;
        start = end + 1;
    }
    return false;
}

QString ofLine(const QByteArray &line)
{
    return QString::fromUtf8(line.constData(), line.size()).trimmed();
}

QString refusal(const QString &text, bool readOnly)
{
    if (text.contains(QChar('\0')))
        return QStringLiteral("a NUL inside");
    if (text.contains('\n'))
        return QStringLiteral("a line feed inside");
    if (text.contains('\r'))
        return QStringLiteral("a carriage return inside");
    if (!readOnly)
        return {};
    if (!printableAscii(text))
        return QStringLiteral("read-only: a character other than printable ASCII or a tab");
    if (text.contains(';'))
        return QStringLiteral("read-only: a second message unit inside, after \";\"");
    if (!queryHeader(text))
        return QStringLiteral("read-only: not a query");
    return {};
}
} // namespace RequestText
