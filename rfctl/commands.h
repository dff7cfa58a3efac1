#ifndef COMMANDS_H
#define COMMANDS_H

#include "link.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QList>
#include <QString>
#include <QStringList>
#include <memory>

class InstrumentSession;

// One run of a command: its words and options, and the link, opened only
// once the command has checked its arguments, so bad input never reaches
// the instrument.
class Invocation
{
public:
    Invocation(const QStringList &args, const QCommandLineParser &options, const LinkChoice &link);
    ~Invocation();
    Invocation(const Invocation &) = delete;
    Invocation &operator=(const Invocation &) = delete;

    // The link, opened on first use; null after the reason was printed and
    // its exit code stored in `exitCode`.
    InstrumentSession *session(int *exitCode);
    // A session with no link opened, for a command that reaches the
    // instruments by other means; the same one session() would open.
    InstrumentSession *idleSession();
    // A request ran out of time and the link is still busy with it: the
    // program must end without tearing the link down (see InstrumentSession).
    bool stuck() const;

    const QStringList args;
    const QCommandLineParser &options;
    const LinkChoice link;

private:
    std::unique_ptr<InstrumentSession> opened;
    bool linked = false;
    int openResult = -1;
};

struct Command {
    QString name;
    QString arguments;
    QString summary;
    QString details;
    QList<QCommandLineOption> options;
    int minArgs;
    int maxArgs;
    int (*run)(Invocation &);
};

const QList<Command> &commands();

// The commands, one function each; every one checks its arguments before
// it opens the link.
int runIdentify(Invocation &inv);
int runStatus(Invocation &inv);
int runSet(Invocation &inv);
int runStates(Invocation &inv);
int runState(Invocation &inv);
int runNetwork(Invocation &inv);
int runMonitor(Invocation &inv);
int runQuery(Invocation &inv);
int runSend(Invocation &inv);
int runServe(Invocation &inv);
int runList(Invocation &inv);

#endif
