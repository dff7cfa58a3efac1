#ifndef SERVEOPTIONS_H
#define SERVEOPTIONS_H

#include "accesslist.h"

#include <QCommandLineOption>
#include <QHostAddress>
#include <QList>
#include <QStringList>
#include <optional>

class QCommandLineParser;

// What `rfctl serve` offers, and to whom.
struct ServeOptions {
    static constexpr quint16 DefaultRawPort = 5025;
    // Degrees Celsius; the package's alert rules use the same limit.
    static constexpr double DefaultSnmpTemperatureLimit = 60;

    QHostAddress listen = QHostAddress(QHostAddress::LocalHost);
    quint16 rawPort = DefaultRawPort;
    AccessList access;
    bool readOnly = false;
    bool vxi11 = false;
    bool mdns = false;
    // The web service's port; no web service without one.
    std::optional<quint16> httpPort;
    // Names a web client may ask for besides the listen address.
    QStringList httpHosts;
    // How often the status is read for the monitoring services; by default,
    // as the link suits (StatusSnapshot).
    std::optional<int> statusIntervalMs;
    // The SNMP subagent is asked for; the master agent's AgentX socket, or
    // empty for net-snmp's default.
    bool snmp = false;
    QString agentxSocket;
    // Degrees Celsius above which the subagent notifies the temperature.
    double snmpTemperatureLimit = DefaultSnmpTemperatureLimit;

    // A monitoring service is asked for, so the server reads the status.
    bool monitored() const { return httpPort.has_value() || snmp; }
};

// The command's options, for its parser.
QList<QCommandLineOption> serveOptionList();
// Reads them into `options`; a message for the operator when they do not
// make sense, empty otherwise.
QString readServeOptions(const QCommandLineParser &parser, ServeOptions *options);

#endif
