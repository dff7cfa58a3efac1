#include "commands.h"
#include "console.h"
#include "instrumentcommands.h"
#include "instrumentsession.h"
#include "networksettingsfile.h"

namespace
{
void print(const NetworkSettingsFile::Settings &s)
{
    printLine(QStringLiteral("IP address   ") + s.ipAddress);
    printLine(QStringLiteral("Subnet mask  ") + s.subnet);
    printLine(QStringLiteral("Gateway      ") + s.gateway);
    printLine(QStringLiteral("Port         ") + QString::number(s.port));
}

int read(Invocation &inv)
{
    int code = ExitCode::Done;
    InstrumentSession *session = inv.session(&code);
    if (!session)
        return code;
    const std::optional<NetworkSettingsFile::Settings> settings = session->readNetworkSettings();
    if (!settings)
        return fail(ExitCode::NoLink, QStringLiteral("no reply to the network settings queries"));
    print(*settings);
    return ExitCode::Done;
}

bool same(const NetworkSettingsFile::Settings &a, const NetworkSettingsFile::Settings &b)
{
    return a.ipAddress == b.ipAddress && a.subnet == b.subnet && a.gateway == b.gateway &&
           a.port == b.port;
}

// As the panel saves its dialog: the settings file first, then, over USB,
// the instrument.
int write(Invocation &inv)
{
    const NetworkSettingsFile::Settings wanted = {inv.args.at(1), inv.args.at(2), inv.args.at(3),
                                                  NetworkSettingsFile::parsePort(inv.args.at(4))};
    const QString problem = InstrumentCommands::networkSettingsProblem(
        wanted.ipAddress, wanted.subnet, wanted.gateway, inv.args.at(4));
    if (!problem.isEmpty())
        return fail(ExitCode::Usage,
                    QStringLiteral("network set: %1; nothing was sent or written").arg(problem));
    if (inv.link.kind == LinkChoice::Tcp)
        return fail(ExitCode::Usage, QStringLiteral("network set: the instrument takes network "
                                                    "settings over USB only; use --usb or no "
                                                    "link option"));
    int code = ExitCode::Done;
    InstrumentSession *session = inv.session(&code);
    if (!session)
        return code;
    if (!session->status().usbConnected)
        return fail(ExitCode::NoLink, QStringLiteral("network set: no USB link to the instrument; "
                                                     "nothing was sent or written"));

    const QString file = QString::fromLatin1(NetworkSettingsFile::DefaultFileName);
    if (NetworkSettingsFile().write(wanted))
        printLine(QStringLiteral("Settings file %1 updated.").arg(file));
    else
        fail(ExitCode::Done, QStringLiteral("%1 could not be written; the instrument is written "
                                            "anyway")
                                 .arg(file));
    for (const QString &c : InstrumentCommands::networkSettings(wanted.ipAddress, wanted.subnet,
                                                                wanted.gateway, wanted.port)) {
        if (!session->command(c))
            return fail(ExitCode::NoLink,
                        QStringLiteral("the link closed before \"%1\" was sent").arg(c));
        waitMs(InstrumentCommands::NetworkWriteGapMs);
    }
    const std::optional<NetworkSettingsFile::Settings> now = session->readNetworkSettings();
    if (!now)
        return fail(ExitCode::NoLink, QStringLiteral("no reply to the network settings queries "
                                                     "after writing them"));
    if (!same(*now, wanted)) {
        fail(ExitCode::Refused, QStringLiteral("the instrument did not take every setting; it "
                                               "reports:"));
        print(*now);
        return ExitCode::Refused;
    }
    printLine(QStringLiteral("Network settings written to the instrument:"));
    print(*now);
    return ExitCode::Done;
}
} // namespace

int runNetwork(Invocation &inv)
{
    if (inv.args.isEmpty())
        return read(inv);
    if (inv.args.at(0).toLower() != QLatin1String("set") || inv.args.size() != 5)
        return fail(ExitCode::Usage, QStringLiteral("network: expected no arguments, or \"set IP "
                                                    "MASK GATEWAY PORT\"; nothing was sent"));
    return write(inv);
}
