#include "networksettingscontroller.h"

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

NetworkSettingsController::NetworkSettingsController(QWidget *window)
    : QObject(window), dialog(new NetworkSettings(window))
{
    dialog->setWindowModality(Qt::WindowModal);
    connect(dialog, &NetworkSettings::result, this, &NetworkSettingsController::save);
    connect(dialog, &NetworkSettings::startLoad, this, &NetworkSettingsController::loadFromFile);
    connect(dialog, &NetworkSettings::startLoadDevice, this,
            &NetworkSettingsController::loadFromDevice);
}

void NetworkSettingsController::openDialog()
{
    dialog->showWindow();
}

void NetworkSettingsController::setLinks(connStatus_t status)
{
    links = status;
}

void NetworkSettingsController::loadFromFile()
{
    const std::optional<NetworkSettingsFile::Settings> settings = NetworkSettingsFile().read();
    if (!settings) {
        qCDebug(lcPanel) << "Network settings file could not be read";
        dialog->networkSettingsFromFile(QString(), QString(), QString(),
                                        NetworkSettings::UnknownPort);
        return;
    }
    dialog->networkSettingsFromFile(settings->ipAddress, settings->subnet, settings->gateway,
                                    settings->port);
}

void NetworkSettingsController::loadFromDevice()
{
    if (links.usbConnected || links.tcpConnected) {
        emit query(QString(), MODE_NETWORK);
        return;
    }
    QMessageBox box(QMessageBox::Information, dialog->windowTitle(),
                    "You are not connected to a device.", QMessageBox::Ok, dialog);
    box.exec();
}

void NetworkSettingsController::showDeviceSettings(QString ipAddress, QString subnet,
                                                   QString gateway, int port)
{
    dialog->networkSettingsFromFile(ipAddress, subnet, gateway, port);
}

void NetworkSettingsController::save(QString ipAddress, QString subnet, QString gateway, int port,
                                     int /*protocol*/)
{
    emit logEntry(LogEntry::sent("Updating network settings."));
    // Unlike the instrument, the file gives a definite answer; a settings
    // change that silently never reached it would be lost at the next start.
    const bool written = NetworkSettingsFile().write({ipAddress, subnet, gateway, port});
    if (!written)
        emit logEntry(LogEntry::failure(fileNotWritten));
    if (links.usbConnected)
        sendToDevice(ipAddress, subnet, gateway, port);
    if (written)
        emit settingsFileWritten();
}

void NetworkSettingsController::sendToDevice(const QString &ipAddress, const QString &subnet,
                                             const QString &gateway, int port)
{
    const QStringList commands =
        InstrumentCommands::networkSettings(ipAddress, subnet, gateway, port);
    // The connection handles requests in order, so the TCP link is closed
    // before the settings arrive and they travel over USB.
    const bool tcpWasUp = links.tcpConnected;
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
void NetworkSettingsController::handleCommandDelivered(bool delivered)
{
    if (settingsAwaited == 0)
        return;
    ++(delivered ? settingsSent : settingsFailed);
    if (--settingsAwaited > 0)
        return;
    if (settingsFailed == 0)
        emit logEntry(LogEntry::sent("Settings saved to device."));
    else if (settingsSent == 0)
        emit logEntry(LogEntry::failure(
            "Settings could not be saved to device. Its network settings were not changed."));
    else
        emit logEntry(LogEntry::failure("Not every setting could be saved to device. Its network "
                                        "settings may be only partly changed."));
    settingsSent = settingsFailed = 0;
}

void NetworkSettingsController::handleSettingsFileWriteFailed()
{
    emit logEntry(LogEntry::failure(fileNotWritten));
}
