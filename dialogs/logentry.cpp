#include "logentry.h"

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
} // namespace LogEntry
