#include "commands.h"
#include "console.h"
#include "identification.h"
#include "instrumentsession.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QVector>

namespace
{
QJsonArray listJson(const QList<UsbInstrument> &instruments)
{
    QJsonArray list;
    for (const UsbInstrument &i : instruments) {
        const Identification id = Identification::of(i.identification);
        list.append(QJsonObject{{QStringLiteral("resource"), i.resource},
                                {QStringLiteral("manufacturer"), id.manufacturer},
                                {QStringLiteral("model"), id.model},
                                {QStringLiteral("serial"), id.serial},
                                {QStringLiteral("firmware"), id.firmware}});
    }
    return list;
}

// Columns as wide as their longest entry, so a script may split at blanks;
// "-" stands for what an instrument that did not identify left out.
void printTable(const QList<UsbInstrument> &instruments)
{
    QList<QStringList> rows;
    QVector<int> widths(4, 0);
    for (const UsbInstrument &i : instruments) {
        const Identification id = Identification::of(i.identification);
        QStringList row{i.resource, id.model, id.serial, id.firmware};
        for (int c = 0; c < row.size(); ++c) {
            if (row.at(c).isEmpty())
                row[c] = QStringLiteral("-");
            widths[c] = qMax(widths.at(c), int(row.at(c).size()));
        }
        rows.append(row);
    }
    for (const QStringList &row : rows) {
        QString line;
        for (int c = 0; c < row.size(); ++c)
            line += c + 1 < row.size() ? row.at(c).leftJustified(widths.at(c) + 2) : row.at(c);
        printLine(line);
    }
}
} // namespace

int runList(Invocation &inv)
{
    if (inv.link.kind == LinkChoice::Tcp)
        return fail(ExitCode::Usage, QStringLiteral("list: lists the USB instruments; it does "
                                                    "not go with --tcp or --settings"));
    if (!inv.link.serial.isEmpty())
        return fail(ExitCode::Usage, QStringLiteral("list: lists every USB instrument; it does "
                                                    "not go with --serial"));
    const std::optional<QPair<int, QList<UsbInstrument>>> found = inv.idleSession()->listUsb();
    if (!found)
        return fail(ExitCode::NoLink, QStringLiteral("the USB instruments did not answer within "
                                                     "%1 ms")
                                          .arg(inv.link.timeoutMs));
    if (found->first < 0)
        return fail(ExitCode::NoLink, QStringLiteral("the USB instruments cannot be listed: no "
                                                     "USB transport could be set up"));
    if (inv.options.isSet(QStringLiteral("json")))
        printLine(QString::fromUtf8(
            QJsonDocument(listJson(found->second)).toJson(QJsonDocument::Compact)));
    else
        printTable(found->second);
    return ExitCode::Done;
}
