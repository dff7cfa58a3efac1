#ifndef LOGENTRY_H
#define LOGENTRY_H

#include <QString>

// The log pane's entries, one function per kind, so that each kind keeps one
// look wherever it is written. Each takes plain text, instrument text
// included, and returns the entry's rich text with that text escaped: a reply
// that looks like markup appears literally.
namespace LogEntry
{
// Something failed or went away: red.
QString failure(const QString &text);
// The instrument stopped itself and needs the operator: red and bold.
QString alarm(const QString &text);
// A link came up: green.
QString connected(const QString &text);
// The panel changed the instrument or its settings: blue.
QString sent(const QString &text);

// Instrument text to quote inside an entry's text: in quotes, with control
// characters made visible, and short enough to take in at a glance.
QString quoted(const QString &text);
} // namespace LogEntry

#endif
