#include "commands.h"

#include "console.h"
#include "instrumentsession.h"
#include "serveoptions.h"

Invocation::Invocation(const QStringList &args, const QCommandLineParser &options,
                       const LinkChoice &link)
    : args(args), options(options), link(link)
{
}

Invocation::~Invocation() = default;

InstrumentSession *Invocation::idleSession()
{
    if (!opened)
        opened = std::make_unique<InstrumentSession>(link.timeoutMs);
    return opened.get();
}

InstrumentSession *Invocation::session(int *exitCode)
{
    if (!linked) {
        linked = true;
        openResult = openLink(*idleSession(), link);
    }
    *exitCode = openResult;
    return openResult == ExitCode::Done ? opened.get() : nullptr;
}

bool Invocation::stuck() const
{
    return opened && opened->stuck();
}

const QList<Command> &commands()
{
    using O = QCommandLineOption;
    static const QList<Command> table = {
        {"identify",
         "",
         "Model, serial number and firmware of the instrument.",
         "Prints the instrument's identification. Over USB the instrument is also asked for "
         "its modules, which are listed below it.",
         {},
         0,
         0,
         runIdentify},
        {"list",
         "",
         "Lists the USB instruments attached, with their serial numbers.",
         "Asks each USB instrument attached who it is and prints one line each: resource, "
         "model, serial number and firmware, \"-\" for what one that did not answer left out. "
         "--serial SN then picks one of them for any other command. Each instrument is opened "
         "in turn, so list them while no other program is using them.",
         {O("json", "One JSON array of objects with named fields.")},
         0,
         0,
         runList},
        {"status",
         "",
         "The instrument's status, as the panel shows it.",
         "Reads the status once and prints it as a table, or with --json as one JSON object "
         "whose numbers carry their units.",
         {O("json", "One JSON object with named fields and units.")},
         0,
         0,
         runStatus},
        {"set",
         "SETTING VALUE",
         "Changes one setting and reports what the instrument did.",
         "Sends the panel's command for the setting, reads the status back and prints the "
         "value the instrument reports. Settings:\n"
         "  tune GHZ                    2.0 to 18.0; the PLL mode rounds it (fractional: to "
         "the MHz, integer: to 400 MHz)\n"
         "  atten DB                    downconverter attenuation, 0 to 31\n"
         "  reffreq MHZ                 reference frequency, 10 to 100\n"
         "  lna on|off                  upconverter LNA\n"
         "  ref internal|external       reference source (needs the override on)\n"
         "  override on|off             reference select software override\n"
         "  if 300|187                  IF frequency in MHz\n"
         "  pll fractional|integer      LO PLL mode\n"
         "A value out of range or an unknown word is refused and nothing is sent.",
         {},
         2,
         2,
         runSet},
        {"states",
         "",
         "Lists the five stored states.",
         "Reads the instrument's stored states and prints them numbered 1 to 5, as the panel "
         "shows them.",
         {},
         0,
         0,
         runStates},
        {"state",
         "load|save N",
         "Loads stored state N (1 to 5), or saves the current settings "
         "into it.",
         "load N switches to fractional PLL mode and recalls state N, then checks the status "
         "against the stored state. save N overwrites state N with the current settings and "
         "checks the list afterwards.",
         {},
         2,
         2,
         runState},
        {"network",
         "[set IP MASK GATEWAY PORT]",
         "Reads or writes the network settings.",
         "Without arguments, reads the instrument's IP address, subnet mask, gateway and TCP "
         "port. With set, writes them as the panel's network dialog saves them: first "
         "ipdata.vnf in the working folder, then the instrument, over USB only; then reads "
         "them back.",
         {},
         0,
         5,
         runNetwork},
        {"monitor",
         "",
         "A status line per poll, for logging.",
         "Polls the status and prints one line each time: UTC time, temperature (°C), "
         "current (A), the LO1 to LO3 locks and the tune frequency (GHz). With --csv the "
         "columns are: time,temperature_C,current_A,lo1_locked,lo2_locked,lo3_locked,tune_GHz "
         "(locks 1 or 0), without a heading line. Stops after --count polls, or on the first "
         "poll without a reply.",
         {O("interval", "Seconds between polls (default 6).", "S", "6"),
          O("count", "Number of polls; 0 polls until stopped (default).", "N", "0"),
          O("csv", "Comma-separated values.")},
         0,
         0,
         runMonitor},
        {"query",
         "TEXT",
         "Sends a query and prints the reply.",
         "Sends TEXT as one command line and prints the instrument's reply.",
         {},
         1,
         -1,
         runQuery},
        {"send",
         "TEXT",
         "Sends a command; no reply is read.",
         "Sends TEXT as one command line. The instrument answers commands with nothing, so "
         "success means only that the text was handed to the link.",
         {},
         1,
         -1,
         runSend},
        {"serve", "", "Shares the instrument with any number of clients on the network.",
         "Holds the link to the instrument and serves its line protocol on a raw TCP socket "
         "until SIGINT or SIGTERM. Requests of all clients go to the instrument one at a "
         "time, in arrival order, and each reply goes back to the client that asked. Prints "
         "one line per service on stdout (\"raw 127.0.0.1:5025\"), then logs each client and "
         "each change of the link on stderr, after the UTC time. When the instrument goes "
         "away, requests fail at once and the link is tried again, at most every 10 s. "
         "--timeout caps the wait for each reply. Exit code 3 also means a port could not be "
         "opened.",
         serveOptionList(), 0, 0, runServe},
    };
    return table;
}
