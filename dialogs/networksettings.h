#ifndef NETWORKSETTINGS_H
#define NETWORKSETTINGS_H

#include <QDialog>
#include <QString>

class QLineEdit;

namespace Ui
{
class NetworkSettings;
}

// Lets the operator view and edit the instrument's network settings. It only
// edits and reports: the main window reads and writes the settings file and
// the instrument in answer to its signals.
class NetworkSettings : public QDialog
{
    Q_OBJECT

public:
    // A port below zero means "not known" and leaves the port box empty.
    static constexpr int UnknownPort = -1;

    explicit NetworkSettings(QWidget *parent = nullptr);
    ~NetworkSettings() override;

signals:
    void result(QString ipAddress, QString subnet, QString gateway, int port, int prot);
    void startLoad();
    void startLoadDevice();

public slots:
    void showWindow();
    void networkSettingsFromFile(QString ipAddress, QString subnet, QString gateway, int port);

private slots:
    void on_cancelButton_clicked();
    void on_saveButton_clicked();
    void loadFromFile();
    void loadFromDevice();

private:
    // The boxes' texts as typed, each address joined from its four parts.
    struct Entries {
        QString ipAddress;
        QString subnet;
        QString gateway;
        QString port;
    };

    void fillRow(QLineEdit *const (&boxes)[4], const QString &address);
    static QString joinRow(QLineEdit *const (&boxes)[4]);
    Entries entries() const;
    bool entriesValid(const Entries &typed);
    bool confirmSave();

    QString ipAddress;
    QString subnet;
    QString gateway;
    int port = 0;
    int prot = 1;
    Ui::NetworkSettings *ui;
};

#endif
