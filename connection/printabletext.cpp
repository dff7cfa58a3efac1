#include "printabletext.h"

QString printableText(const QString &text)
{
    QString shown = text;
    for (int i = 0; i < shown.size(); ++i) {
        const QChar c = shown.at(i);
        // A character beyond 16 bits is judged whole, from both its halves.
        if (c.isHighSurrogate() && i + 1 < shown.size() && shown.at(i + 1).isLowSurrogate()) {
            if (!QChar::isPrint(QChar::surrogateToUcs4(c, shown.at(i + 1))))
                shown[i] = shown[i + 1] = QChar::ReplacementCharacter;
            ++i;
        } else if (!c.isPrint()) {
            shown[i] = QChar::ReplacementCharacter;
        }
    }
    return shown;
}
