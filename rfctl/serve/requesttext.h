#ifndef REQUESTTEXT_H
#define REQUESTTEXT_H

#include <QByteArray>
#include <QString>

// What a request's text is, judged once for every service of the server
// before anything of it reaches the instrument. A request is one program
// message: message units separated by ";", each a header and maybe data
// after white space. The instrument answers a message holding queries with
// one reply line, so a request with any query in it must have its reply read.
namespace RequestText
{
// True when the header of any message unit ends in "?": the instrument
// answers whatever data follows it ("syst:sernum? x", "freq:tune 12;*idn?").
// A header ends at the first control character or blank, as the instrument
// reads it; "fact:savegate ?" is a command.
bool isQuery(const QString &text);

// The request one line of a client carries (without its line feed), trimmed;
// empty when it holds none. The line is decoded with its size, so a NUL stays
// in the request for refusal() instead of cutting it short.
QString ofLine(const QByteArray &line);

// Why `text` must not go to the instrument, for the log; empty when it may.
// Never passed: a NUL (the instrument would see only the text before it), a
// line feed or a carriage return (the instrument may end a message there and
// answer each part with a reply line of its own, of which one only is read).
// With `readOnly`, only one query passes, in printable ASCII and tabs alone:
// a query header ("*idn?", ":syst:sernum?", "meas2?") and data without ";".
QString refusal(const QString &text, bool readOnly);
} // namespace RequestText

#endif
