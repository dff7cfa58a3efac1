#ifndef REQUESTTEXT_H
#define REQUESTTEXT_H

#include <QByteArray>
#include <QString>

// What a request's text is, judged once for every service of the server
// before anything of it reaches the instrument.
namespace RequestText
{
// True when the first word (up to the first blank) ends in "?": the
// instrument answers such a request whatever follows that word, so its reply
// must be read ("syst:sernum? x"). "fact:savegate ?" is a command.
bool isQuery(const QString &text);

// The request one line of a client carries (without its line feed), trimmed;
// empty when it holds none. The line is decoded with its size, so a NUL stays
// in the request for refusal() instead of cutting it short.
QString ofLine(const QByteArray &line);

// Why `text` must not go to the instrument, for the log; empty when it may.
// Never passed: a NUL (the instrument would see only the text before it) or
// a line feed (the instrument would take the rest as a request of its own).
// With `readOnly`, only queries pass, and only without a carriage return or
// ";" inside, after which an instrument may take a command of its own.
QString refusal(const QString &text, bool readOnly);
} // namespace RequestText

#endif
