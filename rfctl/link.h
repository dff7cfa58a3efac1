#ifndef LINK_H
#define LINK_H

#include <QCommandLineOption>
#include <QList>
#include <QString>

class InstrumentSession;
class QCommandLineParser;

// How the tool reaches the instrument, from its global options.
struct LinkChoice {
    enum Kind {
        // As the panel starts: USB first, then the settings file in the working folder.
        Auto,
        Tcp,
        Usb,
    };

    static constexpr int DefaultTimeoutMs = 10000;

    Kind kind = Auto;
    QString host;
    int port = 0;
    // Over USB, only the instrument with this serial number; any when empty.
    QString serial;
    int timeoutMs = DefaultTimeoutMs;
};

// The global options, for the tool's parser.
QList<QCommandLineOption> linkOptions();
// Reads them into `choice`; a message for the operator when they do not make
// sense, empty otherwise. Reads a settings file named by them, or the one in
// the working folder for a --tcp without a port.
QString readLinkChoice(const QCommandLineParser &parser, LinkChoice *choice);
// Connects as chosen and checks the instrument's identity. Done, or the exit
// code after the reason was printed.
int openLink(InstrumentSession &session, const LinkChoice &choice);

#endif
