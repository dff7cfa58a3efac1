#include "logentry.h"

#include "printabletext.h"

namespace
{
QString paragraph(const char *colour, const QString &html)
{
    return QString("<p style='color:%1'>").arg(QLatin1String(colour)) + html + "</p>";
}
} // namespace

namespace LogEntry
{
QString failure(const QString &text)
{
    return paragraph("red", text.toHtmlEscaped());
}

QString alarm(const QString &text)
{
    return paragraph("red", "<b>" + text.toHtmlEscaped() + "</b>");
}

QString connected(const QString &text)
{
    return paragraph("green", text.toHtmlEscaped());
}

QString sent(const QString &text)
{
    return paragraph("blue", text.toHtmlEscaped());
}

QString quoted(const QString &text)
{
    const int maxChars = 64;
    QString shown = text.left(maxChars);
    if (shown.size() < text.size() && shown.at(maxChars - 1).isHighSurrogate())
        shown.chop(1);
    const QString ellipsis = shown.size() < text.size() ? "..." : "";
    return "\"" + printableText(shown) + ellipsis + "\"";
}
} // namespace LogEntry
