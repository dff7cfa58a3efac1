#include "commands.h"
#include "console.h"
#include "link.h"
#include "workerjoin.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QLoggingCategory>

namespace
{
const char exitCodes[] = "Exit codes:\n"
                         "  0  done\n"
                         "  1  the instrument refused the value, did not take it, or is not "
                         "the expected model\n"
                         "  2  usage error or value out of range; nothing was sent\n"
                         "  3  not connected, or no reply in time\n";

bool asksForHelp(const QStringList &args)
{
    for (const QString &a : args) {
        if (a == QLatin1String("--help") || a == QLatin1String("-h") || a == QLatin1String("-?"))
            return true;
    }
    return false;
}

QString toolHelp(const QCommandLineParser &parser)
{
    QString text = parser.helpText();
    text += QStringLiteral("\nCommands:\n");
    for (const Command &c : commands())
        text += QStringLiteral("  %1%2\n")
                    .arg((c.name + ' ' + c.arguments).leftJustified(38), c.summary);
    text += QStringLiteral("\n\"rfctl COMMAND --help\" describes each command.\n\n");
    return text + QLatin1String(exitCodes);
}

int printHelp(const QString &text)
{
    printText(text);
    return ExitCode::Done;
}

const Command *findCommand(const QString &name)
{
    for (const Command &c : commands()) {
        if (c.name == name)
            return &c;
    }
    return nullptr;
}

// Parses the command's own words and options. Words may start with a minus
// ("set atten -1" must reach the range check), so only commands with options
// go through the option parser.
QString parseCommandLine(const Command &c, const QStringList &rest, QCommandLineParser *parser,
                         QStringList *args)
{
    parser->addOptions(c.options);
    if (!c.options.isEmpty()) {
        if (!parser->parse(QStringList{QStringLiteral("rfctl")} + rest))
            return c.name + QStringLiteral(": ") + parser->errorText();
        *args = parser->positionalArguments();
    } else {
        *args = rest;
    }
    if (args->size() < c.minArgs || (c.maxArgs >= 0 && args->size() > c.maxArgs))
        return QStringLiteral("%1: expected %2")
            .arg(c.name, c.arguments.isEmpty() ? QStringLiteral("no arguments") : c.arguments);
    return QString();
}

int runCommand(const Command &c, const QStringList &rest, const LinkChoice &link)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(c.details);
    parser.addHelpOption();
    if (asksForHelp(rest)) {
        parser.addOptions(c.options);
        parser.addPositionalArgument(c.name, c.summary, c.name + ' ' + c.arguments);
        return printHelp(parser.helpText() + '\n' + QLatin1String(exitCodes));
    }
    QStringList args;
    const QString problem = parseCommandLine(c, rest, &parser, &args);
    if (!problem.isEmpty())
        return fail(ExitCode::Usage,
                    problem + QStringLiteral(" (see \"rfctl %1 --help\")").arg(c.name));
    Invocation inv(args, parser, link);
    const int code = c.run(inv);
    if (inv.stuck()) {
        // The link is still inside a wait of its own and cannot be closed in
        // order; the operating system closes it with the process.
        endProcessNow(code);
    }
    return code;
}
} // namespace

int main(int argc, char *argv[])
{
    // Qt's own event loop rather than glib's: glib wakes its loop through an
    // eventfd whenever a socket notifier is switched on or off, which a
    // socket does several times for each request the server forwards.
    // Nothing here runs on glib's loop.
    qputenv("QT_NO_GLIB", "1");
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("rfctl"));
    QCoreApplication::setApplicationVersion(QStringLiteral(RFPANEL_VERSION));
    // The connection's diagnostic traces are for the panel's developers;
    // here stderr carries the operator's error messages only.
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false\n*.info=false"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Scripts the RF converter through the panel's own connection."));
    parser.addOptions(linkOptions());
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("See below."),
                                 QStringLiteral("COMMAND [ARGUMENTS…]"));
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    if (!parser.parse(app.arguments()))
        return fail(ExitCode::Usage, parser.errorText());
    if (parser.isSet(QStringLiteral("help")))
        return printHelp(toolHelp(parser));
    if (parser.isSet(QStringLiteral("version"))) {
        printLine(QStringLiteral("rfctl " RFPANEL_VERSION));
        return ExitCode::Done;
    }
    const QStringList words = parser.positionalArguments();
    if (words.isEmpty())
        return fail(ExitCode::Usage, QStringLiteral("no command given (see \"rfctl --help\")"));
    const Command *command = findCommand(words.first());
    if (!command)
        return fail(ExitCode::Usage, QStringLiteral("unknown command \"%1\" (see \"rfctl "
                                                    "--help\")")
                                         .arg(words.first()));
    LinkChoice link;
    const QString problem = readLinkChoice(parser, &link);
    if (!problem.isEmpty())
        return fail(ExitCode::Usage, problem);
    const int code = runCommand(*command, words.mid(1), link);
    exitIfWorkersLeft(code);
    return code;
}
