#ifndef MAINWINDOW_H
#define MAINWINDOW_H

#include "connectiontypes.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <QMutex>
#include <QString>
#include <QStringList>
#include <QThread>
#include <memory>

class QAbstractSpinBox;

class Connection;
class SavedStatesController;
class StatusDisplay;
class LogPane;
class TrendSeries;
class NetworkSettingsController;
class QTimer;

namespace Ui
{
class MainWindow;
}

// The panel's one window. It never talks to the instrument itself: every
// request leaves through its signals to the Connection on connThread, and
// every answer comes back as a queued signal, so the UI thread never blocks
// on the instrument.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    // When the connection object's start-up routine (USB probe, then TCP/IP)
    // begins: when startConnectionThread() is called, or while the window is
    // still being built, so that the probe's pauses overlap the building.
    // Either way its results reach the window only once its event loop runs.
    enum class ConnectionStart { OnRequest, DuringConstruction };

    explicit MainWindow(ConnectionStart start = ConnectionStart::OnRequest,
                        QWidget *parent = nullptr);
    ~MainWindow() override;

    // Starts the worker thread and the connection object's start-up routine;
    // once, and only for a window built with ConnectionStart::OnRequest.
    void startConnectionThread();

    // Requests to the connection object, queued to connThread; the two
    // dialogs' controllers send theirs through these too.
signals:
    void connectTCP();
    void connectUSB();
    void closeTCP();
    void closeUSB();
    void query(QString s, calling_mode_t mode);
    void command(QString s);
    void deliverCommand(QString s);
    void closeConnection();
    void initConn();
    // For the two dialogs' handling: a reply to the stored-state list
    // query, and the links as the connection last reported them.
    void stateListReceived(QString reply);
    void linksChanged(connStatus_t status);

    // The connection state and its buttons, the log pane, status polling
    // and decoding, control commands.
public:
    void refreshControls();
    void requestStatus();

public slots:
    void statusTimeout();
    void handleStatus(QString statusStr);
    void handleTCPConnFinished(QString result, QString identification = QString());
    void handleUSBConnFinished(QString result);
    void updateConnStatus(connStatus_t status);
    void handleQueryResponse(QString response, calling_mode_t mode);
    void handleUsbReplyMissing(calling_mode_t mode);

private slots:
    void on_usbButton_clicked();
    void on_tcpipButton_clicked();
    void on_statusButton_clicked();
    void on_tuneFreqButton_clicked();
    void on_rfAttenButton_clicked();
    void on_lnaButton_clicked();
    void on_overrideButton_clicked();
    void on_intSetButton_clicked();
    void on_extSetButton_clicked();
    void on_refFreqButton_clicked();
    void on_setIF300Button_clicked();
    void on_setIF187Button_clicked();
    void on_fractionalSetButton_clicked();
    void on_integerSetButton_clicked();
    void on_logClearButton_clicked();
    void on_loadStateButton_clicked();
    void on_saveStateButton_clicked();
    void on_editNetworkButton_clicked();

private:
    // Creates the connection object on its worker thread and wires it to the
    // window.
    void createConnection();
    // Appends one entry made by LogEntry.
    void log(const QString &html);
    // Sends one control command and logs `logLine` (plain text) as sent, then
    // asks for the status so the panel shows what the instrument really did.
    void sendControl(const QString &cmd, const QString &logLine, bool logFirst);
    // Takes the box's whole number through ValueBoxes::take and sends it;
    // the log names it `what`, in `unit`.
    void setWholeValue(QAbstractSpinBox *box, const QString &what, QString (*commandOf)(int),
                       const QString &unit);
    // Enables "Connect TCP/IP" once the operator's settings are in the file
    // and no TCP/IP attempt is under way. Otherwise, with no file and no USB
    // instrument at start, the start-up routine makes no attempt whose end
    // would enable it, and only a restart could connect.
    void offerTcpOnceSaved();

    Ui::MainWindow *ui;
    LogPane *logPane;
    // Temperature and current of every good status read, for the trend window.
    TrendSeries *trend;
    Connection *connection;
    // Left undeleted, with the connection, when it does not end in time on
    // closing (see joinWorker).
    QThread *connThread = new QThread;
    QTimer *statusTimer;
    QMutex commandMutex;

    QStringList statusFields;

    bool connected = false;
    bool usbConnected = false;
    bool tcpConnected = false;
    bool reconnecting = false;
    // The start-up routine is running, or a TCP/IP attempt this window asked
    // for has not finished; either may still end in tcpConnFinished.
    bool startupRunning = false;
    bool tcpAttemptAsked = false;
    // The operator's settings were written while an attempt was under way.
    bool savedSinceAttempt = false;
    int goodCounter = 0;
    // A status request still unanswered: the poll skips a tick rather than
    // queue requests behind an instrument that has stopped answering.
    bool statusAwaited = false;
    QElapsedTimer statusAsked;

    std::unique_ptr<StatusDisplay> statusDisplay;
    // The instrument's stored states and the dialog that loads and saves them.
    SavedStatesController *savedStates;
    // The instrument's network settings and the dialog that edits them.
    NetworkSettingsController *networkSettings;
};

#endif
