#ifndef CONSOLE_H
#define CONSOLE_H

#include <QString>

// What the tool's exit status tells a script.
namespace ExitCode
{
enum : int {
    Done = 0,
    // The instrument refused the value, did not take it, or is not the expected model.
    Refused = 1,
    // Bad usage or a value out of range; nothing was sent.
    Usage = 2,
    // No link to the instrument, or no reply in time.
    NoLink = 3,
};
}

// One line of data on stdout, written at once so a pipe or a log file sees
// every line as it happens. Instrument text in it needs no care: every line
// written here goes out printable (printabletext.h).
void printLine(const QString &line);
// The same for text that brings its own line ends.
void printText(const QString &text);
// One line on stderr, prefixed with the tool's name; returns `code`.
int fail(int code, const QString &message);
// Waits on the event loop, so the link's replies are still taken in meanwhile.
void waitMs(qint64 ms);
// A number written with a full stop, whatever the locale.
QString fixed(double value, int decimals);

#endif
