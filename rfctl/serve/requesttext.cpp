#include "requesttext.h"

#include <QRegularExpression>

namespace RequestText
{
bool isQuery(const QString &text)
{
    static const QRegularExpression blank(QStringLiteral("\\s"));
    const QString trimmed = text.trimmed();
    return trimmed.left(trimmed.indexOf(blank)).endsWith('?');
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
    if (!readOnly)
        return {};
    if (!isQuery(text))
        return QStringLiteral("read-only: not a query");
    if (text.contains('\r') || text.contains(';'))
        return QStringLiteral("read-only: a second request inside");
    return {};
}
} // namespace RequestText
