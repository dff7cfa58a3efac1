#ifndef NETWORKSETTINGSCONTROLLER_H
#define NETWORKSETTINGSCONTROLLER_H

#include "connectiontypes.h"

#include <QObject>
#include <QString>

class NetworkSettings;
class QWidget;

// The instrument's network settings and the settings file, edited in the
// NetworkSettings dialog this owns. It never talks to the instrument itself:
// its requests leave through its signals and the answers come back through
// its slots, all on the UI thread.
class NetworkSettingsController : public QObject
{
    Q_OBJECT

public:
    // A child of `window`; the dialog is window-modal over it.
    explicit NetworkSettingsController(QWidget *window);

    // Opens the dialog on the settings file's contents.
    void openDialog();

public slots:
    // The links as the connection last reported them.
    void setLinks(connStatus_t status);
    // Writes the settings to the file, and over USB to the instrument when
    // that link is up; each setting sent is answered for in
    // handleCommandDelivered. The protocol is always written as 1.
    void save(QString ipAddress, QString subnet, QString gateway, int port, int protocol);
    // The instrument's settings, as it answered the network query.
    void showDeviceSettings(QString ipAddress, QString subnet, QString gateway, int port);
    void handleCommandDelivered(bool delivered);
    void handleSettingsFileWriteFailed();

signals:
    void query(QString s, calling_mode_t mode);
    void deliverCommand(QString s);
    void closeTCP();
    void connectTCP();
    // save() has written the settings file, after any request it sent.
    void settingsFileWritten();
    // One entry for the log pane, made by LogEntry.
    void logEntry(QString html);

private:
    void loadFromFile();
    void loadFromDevice();
    // The settings over USB, around a TCP link closed for the while.
    void sendToDevice(const QString &ipAddress, const QString &subnet, const QString &gateway,
                      int port);

    NetworkSettings *dialog;
    connStatus_t links{false, false};
    // The settings sent to the instrument and not yet answered for, and how
    // many of those answered went out or failed.
    int settingsAwaited = 0;
    int settingsSent = 0;
    int settingsFailed = 0;
};

#endif
