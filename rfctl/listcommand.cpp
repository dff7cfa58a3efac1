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
struct Listed {
    QString resource;
    Identification id;
};

QJsonArray listJson(const QList<Listed> &instruments)
{
    QJsonArray list;
    for (const Listed &i : instruments)
        list.append(QJsonObject{{QStringLiteral("resource"), i.resource},
                                {QStringLiteral("manufacturer"), i.id.manufacturer},
                                {QStringLiteral("model"), i.id.model},
                                {QStringLiteral("serial"), i.id.serial},
                                {QStringLiteral("firmware"), i.id.firmware}});
    return list;
}

// "-" stands for a field the instrument left out.
QString cell(const QString &text)
{
    return text.isEmpty() ? QStringLiteral("-") : text;
}

// Columns as wide as their longest entry.
void printTable(const QList<Listed> &instruments)
{
    QList<QStringList> rows;
    QVector<int> widths(4, 0);
    for (const Listed &i : instruments) {
        const QStringList row{cell(i.resource), cell(i.id.model), cell(i.id.serial),
                              cell(i.id.firmware)};
        for (int c = 0; c < row.size(); ++c)
            widths[c] = qMax(widths.at(c), int(row.at(c).size()));
        rows.append(row);
    }
    for (const QStringList &row : rows) {
        QString line;
        for (int c = 0; c < row.size(); ++c)
            line += c + 1 < row.size() ? row.at(c).leftJustified(widths.at(c) + 2) : row.at(c);
        printLine(line);
    }
}

void print(const Invocation &inv, const QList<Listed> &instruments)
{
    if (inv.options.isSet(QStringLiteral("json")))
        printLine(
            QString::fromUtf8(QJsonDocument(listJson(instruments)).toJson(QJsonDocument::Compact)));
    else
        printTable(instruments);
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
    InstrumentSession *session = inv.idleSession();
    const std::optional<QPair<int, QStringList>> found = session->findUsb();
    if (!found)
        return fail(ExitCode::NoLink,
                    QStringLiteral("no USB listing within %1 ms").arg(inv.link.timeoutMs));
    if (found->first < 0)
        return fail(ExitCode::NoLink, QStringLiteral("the USB instruments cannot be listed: no "
                                                     "USB transport could be set up"));
    // Each instrument has the whole time-out; one that takes longer ends the
    // listing with the instruments before it.
    QList<Listed> listed;
    for (const QString &resource : found->second) {
        const std::optional<QString> identification = session->probeUsb(resource);
        if (!identification) {
            print(inv, listed);
            return fail(ExitCode::NoLink, QStringLiteral("%1 did not answer within %2 ms; the "
                                                         "listing ends there")
                                              .arg(resource)
                                              .arg(inv.link.timeoutMs));
        }
        listed.append({resource, Identification::of(*identification)});
    }
    print(inv, listed);
    return ExitCode::Done;
}
