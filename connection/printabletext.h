#ifndef PRINTABLETEXT_H
#define PRINTABLETEXT_H

#include <QString>

// Text an instrument sent, made fit for a terminal or a log line: every
// character that is not printable (a control character such as ESC or CR, a
// format character such as a BOM) becomes U+FFFD, so the text can neither
// drive a terminal nor forge a line of its own. The length stays the same.
QString printableText(const QString &text);

#endif
