#include "mainwindow.h"

#include "instrumentcommands.h"
#include "logentry.h"
#include "networksettings.h"
#include "networksettingsfile.h"
#include "panellog.h"

#include <QDebug>
#include <QMessageBox>
#include <QStringList>
#include <QThread>

namespace
{
const char fileNotWritten[] = "Network settings could not be written to ipdata.vnf.";
} // namespace

void MainWindow::on_editNetworkButton_clicked()
{
    emit initNetworkSettings();
}

void MainWindow::loadNetworkSettingsFromFile()
{
    const std::optional<NetworkSettingsFile::Settings> settings = NetworkSettingsFile().read();
    if (!settings) {
        qCDebug(lcPanel) << "Network settings file could not be read";
        emit networkSettingsFromFile(QString(), QString(), QString(), NetworkSettings::UnknownPort);
        return;
    }
    emit networkSettingsFromFile(settings->ipAddress, settings->subnet, settings->gateway,
                                 settings->port);
}

void MainWindow::loadNetworkSettingsFromDevice()
{
    if (connected) {
        emit query(QString(), MODE_NETWORK);
        return;
    }
    QMessageBox box(QMessageBox::Information, networkSettings->windowTitle(),
                    "You are not connected to a device.", QMessageBox::Ok, networkSettings);
    box.exec();
}

void MainWindow::handleNetworkSettingsFromDevice(QString ipAddress, QString subnet, QString gateway,
                                                 int port)
{
    emit networkSettingsFromDevice(ipAddress, subnet, gateway, port);
}

void MainWindow::handleNetworkSettings(QString ipAddress, QString subnet, QString gateway, int port,
                                       int prot)
{
    savedNetwork = {ipAddress, subnet, gateway, port};
    savedProtocol = prot;
    log(LogEntry::sent("Updating network settings."));
    // Unlike the instrument, the file gives a definite answer; a settings
    // change that silently never reached it would be lost at the next start.
    if (!NetworkSettingsFile().write(savedNetwork))
        log(LogEntry::failure(fileNotWritten));

    if (!usbConnected)
        return;

    // The protocol is always written as 1, whatever the dialog reported.
    const QStringList commands =
        InstrumentCommands::networkSettings(ipAddress, subnet, gateway, port);
    // The connection handles requests in order, so the TCP link is closed
    // before the settings arrive and they travel over USB; each is answered
    // for in handleCommandDelivered.
    const bool tcpWasUp = tcpConnected;
    emit closeTCP();
    settingsAwaited += commands.size();
    for (const QString &c : commands) {
        emit deliverCommand(c);
        QThread::msleep(InstrumentCommands::NetworkWriteGapMs);
    }
    if (tcpWasUp)
        emit connectTCP();
}

// The link may have gone since the window last heard of it, and the
// connection then drops the settings: only settings that all went out are
// reported as saved.
void MainWindow::handleCommandDelivered(bool delivered)
{
    if (settingsAwaited == 0)
        return;
    ++(delivered ? settingsSent : settingsFailed);
    if (--settingsAwaited > 0)
        return;
    if (settingsFailed == 0)
        log(LogEntry::sent("Settings saved to device."));
    else if (settingsSent == 0)
        log(LogEntry::failure(
            "Settings could not be saved to device. Its network settings were not changed."));
    else
        log(LogEntry::failure("Not every setting could be saved to device. Its network settings "
                              "may be only partly changed."));
    settingsSent = settingsFailed = 0;
}

void MainWindow::handleSettingsFileWriteFailed()
{
    log(LogEntry::failure(fileNotWritten));
}
