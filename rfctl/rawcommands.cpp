#include "commands.h"
#include "console.h"
#include "instrumentsession.h"

namespace
{
void printIdentity(const ModuleInfo &m)
{
    printLine(QStringLiteral("Manufacturer  ") + m.manufacturer);
    printLine(QStringLiteral("Model         ") + m.model);
    printLine(QStringLiteral("Serial        ") + m.serialNumber);
    printLine(QStringLiteral("Firmware      ") + m.version);
}

QString moduleRow(const ModuleInfo &m)
{
    return m.name.leftJustified(14) + m.address.leftJustified(9) + m.model.leftJustified(16) +
           m.serialNumber.leftJustified(12) + m.version.leftJustified(10) + m.firmwareId;
}

// A line break would turn one text into two commands on the link.
QString rawProblem(const QString &text)
{
    if (text.trimmed().isEmpty())
        return QStringLiteral("empty text");
    if (text.contains('\n') || text.contains('\r'))
        return QStringLiteral("the text holds a line break");
    return QString();
}
} // namespace

int runIdentify(Invocation &inv)
{
    int code = ExitCode::Done;
    InstrumentSession *session = inv.session(&code);
    if (!session)
        return code;
    if (!session->status().tcpConnected && session->status().usbConnected) {
        const QList<ModuleInfo> inventory = session->usbInventory();
        if (!inventory.isEmpty()) {
            printIdentity(inventory.first());
            printLine(QStringLiteral("Firmware id   ") + inventory.first().firmwareId);
            printLine(QStringLiteral("Resource      ") + inventory.first().address);
            printLine(QString());
            printLine(QStringLiteral("Module        Address  Model           Serial      "
                                     "Version   Firmware id"));
            for (int i = 1; i < inventory.size(); ++i)
                printLine(moduleRow(inventory.at(i)));
            return ExitCode::Done;
        }
        if (session->stuck())
            return fail(ExitCode::NoLink, QStringLiteral("no reply to the module inventory"));
    }
    // The identification the link was opened with: the link is up only when
    // it named the expected model.
    const QString reply = session->identification();
    const QStringList fields = reply.split(',', Qt::KeepEmptyParts);
    if (fields.size() != 4)
        return fail(ExitCode::Refused,
                    QStringLiteral("unexpected identification reply \"%1\"").arg(reply));
    ModuleInfo identity;
    identity.manufacturer = fields.at(0);
    identity.model = fields.at(1);
    identity.serialNumber = fields.at(2);
    identity.version = fields.at(3);
    printIdentity(identity);
    return ExitCode::Done;
}

int runQuery(Invocation &inv)
{
    const QString text = inv.args.join(' ');
    const QString problem = rawProblem(text);
    if (!problem.isEmpty())
        return fail(ExitCode::Usage, QStringLiteral("query: %1; nothing was sent").arg(problem));
    int code = ExitCode::Done;
    InstrumentSession *session = inv.session(&code);
    if (!session)
        return code;
    const std::optional<QString> reply = session->query(text);
    if (!reply)
        return fail(ExitCode::NoLink, QStringLiteral("no reply to \"%1\"").arg(text));
    printLine(*reply);
    return ExitCode::Done;
}

int runSend(Invocation &inv)
{
    const QString text = inv.args.join(' ');
    const QString problem = rawProblem(text);
    if (!problem.isEmpty())
        return fail(ExitCode::Usage, QStringLiteral("send: %1; nothing was sent").arg(problem));
    int code = ExitCode::Done;
    InstrumentSession *session = inv.session(&code);
    if (!session)
        return code;
    if (!session->command(text))
        return fail(ExitCode::NoLink,
                    QStringLiteral("the link closed before \"%1\" was sent").arg(text));
    return ExitCode::Done;
}
