#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "banner.h"
#include "connection.h"
#include "instrumentcommands.h"
#include "logentry.h"
#include "logpane.h"
#include "networksettingscontroller.h"
#include "panellog.h"
#include "savedstatescontroller.h"
#include "statusdisplay.h"
#include "statusreply.h"
#include "trendwindow.h"
#include "valueboxes.h"
#include "workerjoin.h"

#include <QDebug>
#include <QEvent>
#include <QFile>
#include <QLayout>
#include <QMutexLocker>
#include <QTimer>

// The pictures are compiled into a static library, whose unreferenced
// resource object the linker would otherwise drop.
static void initPanelResources()
{
    Q_INIT_RESOURCE(resources);
}

namespace
{
const int statusPollMs = 6000;

// The banner's largest size in the form.
const QSize BannerSize(540, 90);

// The form places its rows in a content widget at a fixed spot of a window of
// fixed size, both sized for the design font. Whenever the rows need more
// room than that (a wider font, a longer caption), the content grows to its
// layout's minimum size and the window with it, rather than the layout
// squeezing boxes below their minimum sizes. At the design font nothing moves.
class GrowToFit : public QObject
{
public:
    GrowToFit(QMainWindow *window, QWidget *content)
        : QObject(content), window(window), content(content)
    {
        content->installEventFilter(this);
        fit();
    }

    // The content's layout has taken the request first and knows its new minimum.
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::LayoutRequest)
            fit();
        return false;
    }

private:
    // Word-wrapped captions need less height the wider they are, so the
    // height needed is taken at the width the content will have.
    void fit()
    {
        const QLayout *layout = content->layout();
        const int width = qMax(content->width(), content->minimumSizeHint().width());
        const int height = layout->hasHeightForWidth() ? layout->minimumHeightForWidth(width)
                                                       : content->minimumSizeHint().height();
        const QSize growth = QSize(width, height).expandedTo(content->size()) - content->size();
        if (growth.isNull())
            return;
        content->resize(content->size() + growth);
        window->setMaximumSize(window->maximumSize() + growth);
        window->resize(window->size() + growth);
    }

    QMainWindow *const window;
    QWidget *const content;
};
} // namespace

MainWindow::MainWindow(ConnectionStart start, QWidget *parent)
    : QMainWindow(parent), ui(new Ui::MainWindow)
{
    initPanelResources();
    const qreal ratio = devicePixelRatioF();
    std::future<QImage> logo = Banner::readLogo(BannerSize, ratio);
    // Looked for before the start-up routine may write the default file.
    const bool settingsFileFound = QFile::exists("ipdata.vnf");
    createConnection();
    if (start == ConnectionStart::DuringConstruction)
        startConnectionThread();
    ui->setupUi(this);
    Banner::showWhenPainted(ui->label_19, std::move(logo), ratio);

    // The label names the instrument as it identified itself; a reply that
    // happens to look like markup must appear literally.
    ui->statusLabel->setTextFormat(Qt::PlainText);
    logPane = new LogPane(ui->logger);
    ValueBoxes::install(ui);
    trend = new TrendSeries(TrendSeries::DefaultCapacity, this);
    TrendWindow::openFrom(ui->physicalBox, trend);

    savedStates = new SavedStatesController(this);
    connect(savedStates, &SavedStatesController::query, this, &MainWindow::query);
    connect(savedStates, &SavedStatesController::command, this, &MainWindow::command);
    connect(savedStates, &SavedStatesController::logEntry, this, &MainWindow::log);
    connect(savedStates, &SavedStatesController::stateLoaded, this,
            [this] { ui->tuneFreqSpin->setDecimals(3); });
    connect(this, &MainWindow::stateListReceived, savedStates, &SavedStatesController::takeList);

    networkSettings = new NetworkSettingsController(this);
    connect(networkSettings, &NetworkSettingsController::query, this, &MainWindow::query);
    connect(networkSettings, &NetworkSettingsController::deliverCommand, this,
            &MainWindow::deliverCommand);
    connect(networkSettings, &NetworkSettingsController::closeTCP, this, &MainWindow::closeTCP);
    connect(networkSettings, &NetworkSettingsController::connectTCP, this, &MainWindow::connectTCP);
    connect(networkSettings, &NetworkSettingsController::logEntry, this, &MainWindow::log);
    connect(this, &MainWindow::linksChanged, networkSettings, &NetworkSettingsController::setLinks);
    connect(networkSettings, &NetworkSettingsController::settingsFileWritten, this, [this] {
        savedSinceAttempt = true;
        offerTcpOnceSaved();
    });

    statusDisplay = std::make_unique<StatusDisplay>(ui);

    statusTimer = new QTimer(this);
    statusTimer->setObjectName("statusTimer");
    connect(statusTimer, &QTimer::timeout, this, &MainWindow::statusTimeout);
    statusTimer->start(statusPollMs);

    if (!settingsFileFound)
        log(LogEntry::failure(
            "Network settings not detected. Attempting to read network settings from USB."));

    goodCounter = 0;
    refreshControls();
    new GrowToFit(this, ui->layoutWidget);
}

void MainWindow::createConnection()
{
    connection = new Connection();
    // Named so that debuggers and thread listings tell the worker apart.
    connThread->setObjectName("connection");
    connection->moveToThread(connThread);
    // The connection object lives on the worker thread, so it is deleted
    // there once the thread's event loop has finished.
    connect(connThread, &QThread::finished, connection, &QObject::deleteLater);

    connect(this, &MainWindow::connectTCP, connection, &Connection::connectTCP);
    connect(this, &MainWindow::connectTCP, this, [this] { tcpAttemptAsked = true; });
    connect(connection, &Connection::startupFinished, this, [this] {
        startupRunning = false;
        offerTcpOnceSaved();
    });
    connect(connection, &Connection::tcpConnFinished, this, &MainWindow::handleTCPConnFinished);
    connect(this, &MainWindow::connectUSB, connection, &Connection::connectUSB);
    connect(connection, &Connection::usbConnFinished, this, &MainWindow::handleUSBConnFinished);
    connect(connection, &Connection::connStatusChanged, this, &MainWindow::updateConnStatus);
    connect(this, &MainWindow::command, connection, &Connection::command);
    connect(this, &MainWindow::query, connection, &Connection::query);
    connect(connection, &Connection::queryResponse, this, &MainWindow::handleQueryResponse);
    connect(connection, &Connection::usbReplyMissing, this, &MainWindow::handleUsbReplyMissing);
    connect(this, &MainWindow::closeConnection, connection, &Connection::closeConnection);
    connect(this, &MainWindow::closeTCP, connection, &Connection::closeTCP);
    connect(this, &MainWindow::closeUSB, connection, &Connection::closeUSB);
    // The routine may run before the network settings controller exists, so
    // these go through the window: queued to it, they reach the controller
    // only from the event loop, once the window is built.
    connect(connection, &Connection::networkSettingsReady, this,
            [this](QString ip, QString subnet, QString gateway, int port) {
                networkSettings->showDeviceSettings(ip, subnet, gateway, port);
            });
    connect(this, &MainWindow::deliverCommand, connection, &Connection::deliverCommand);
    connect(connection, &Connection::commandDelivered, this,
            [this](bool delivered) { networkSettings->handleCommandDelivered(delivered); });
    connect(connection, &Connection::settingsFileWriteFailed, this,
            [this] { networkSettings->handleSettingsFileWriteFailed(); });
    connect(this, &MainWindow::initConn, connection, &Connection::initRoutine);
}

MainWindow::~MainWindow()
{
    // Closing waits on the instrument at most for the join's bound: the
    // worker gives up the wait in progress and drops the requests still
    // queued. The close still runs, and the loop ends only behind it, so the
    // link is closed cleanly.
    hide();
    connThread->requestInterruption();
    emit closeConnection();
    QMetaObject::invokeMethod(
        connection, [] { QThread::currentThread()->quit(); }, Qt::QueuedConnection);
    if (joinWorker(connThread)) {
        // A thread that never ran never delivers the deferred deletion.
        if (!connThread->isFinished())
            delete connection;
        delete connThread;
    }
    delete ui;
}

void MainWindow::startConnectionThread()
{
    connThread->start(QThread::InheritPriority);
    startupRunning = true;
    emit initConn();
}

void MainWindow::refreshControls()
{
    if (!connected)
        ui->statusLabel->setText("Device not found");

    const QList<QWidget *> boxes = {ui->tuneFreqBox, ui->rfAttenBox, ui->lnaBox,  ui->refSelectBox,
                                    ui->refFreq_box, ui->lo1box,     ui->ifBox,   ui->statesBox,
                                    ui->lockBox,     ui->filterBox,  ui->pllmBox, ui->physicalBox};
    for (QWidget *box : boxes)
        box->setEnabled(connected);

    ui->usbButton->setText(usbConnected ? "Disconnect USB" : "Connect USB");
    ui->tcpipButton->setText(tcpConnected ? "Disconnect TCP/IP" : "Connect TCP/IP");
    ui->statusButton->setEnabled(connected);
}

void MainWindow::on_usbButton_clicked()
{
    if (usbConnected) {
        emit closeUSB();
    } else {
        ui->usbButton->setEnabled(false);
        emit connectUSB();
    }
}

void MainWindow::on_tcpipButton_clicked()
{
    if (tcpConnected) {
        emit closeTCP();
    } else {
        ui->tcpipButton->setEnabled(false);
        emit connectTCP();
    }
}

void MainWindow::handleUSBConnFinished(QString result)
{
    if (result == "-1") {
        log(LogEntry::failure("USB connection failed."));
    } else if (result == "-2") {
        log(LogEntry::failure("No USB devices available. Check connections."));
    } else {
        // A silent reconnection closed the link first, which showed "Device
        // not found"; only its log messages are suppressed, not the label.
        if (!tcpConnected)
            ui->statusLabel->setText("Connected to " + result);
        if (!reconnecting)
            log(LogEntry::connected("USB device connected."));
        if (!tcpConnected)
            savedStates->requestList();
        // A silent reconnection follows a bad status read; reading the
        // status again at once could reopen the link over and over.
        if (!tcpConnected && !reconnecting)
            requestStatus();
        refreshControls();
    }
    ui->usbButton->setEnabled(true);
    reconnecting = false;
}

void MainWindow::handleTCPConnFinished(QString result, QString identification)
{
    if (result == "-2") {
        log(LogEntry::failure(
            "TCP/IP connection timed out. Check connections and network settings."));
    } else {
        // The link is up either way; an instrument that did not identify as
        // the expected model is only named as such.
        if (result.isEmpty()) {
            ui->statusLabel->setText("Connected to unidentified device");
            const QString answer = identification.isEmpty()
                                       ? QString("It gave no reply.")
                                       : "It replied " + LogEntry::quoted(identification) + ".";
            log(LogEntry::failure("TCP/IP device did not identify as a " +
                                  QLatin1String(Connection::ExpectedModel) + ". " + answer));
        } else {
            ui->statusLabel->setText("Connected to " + result);
            log(LogEntry::connected("TCP/IP device connected."));
        }
        savedStates->requestList();
        // The panel shows the instrument's state at once, not at the next
        // poll. An unknown device is not asked now; the poll still asks it,
        // and a reply that is not a status is logged as a bad read.
        if (!result.isEmpty())
            requestStatus();
        refreshControls();
    }
    tcpAttemptAsked = false;
    savedSinceAttempt = false;
    ui->tcpipButton->setEnabled(true);
}

void MainWindow::offerTcpOnceSaved()
{
    if (savedSinceAttempt && !startupRunning && !tcpAttemptAsked)
        ui->tcpipButton->setEnabled(true);
}

void MainWindow::updateConnStatus(connStatus_t status)
{
    if (usbConnected && !status.usbConnected && !reconnecting)
        log(LogEntry::failure("USB device disconnected."));
    if (tcpConnected && !status.tcpConnected && !reconnecting)
        log(LogEntry::failure("TCP device disconnected."));

    usbConnected = status.usbConnected;
    tcpConnected = status.tcpConnected;
    connected = usbConnected || tcpConnected;
    refreshControls();
    emit linksChanged(status);
}

void MainWindow::handleQueryResponse(QString response, calling_mode_t mode)
{
    switch (mode) {
    case MODE_STATUS:
        statusAwaited = false;
        handleStatus(response);
        break;
    case MODE_STATE_LIST:
        emit stateListReceived(response);
        break;
    default:
        break;
    }
}

void MainWindow::handleUsbReplyMissing(calling_mode_t mode)
{
    // A status read that failed counts as a bad one, which reopens the link.
    if (mode == MODE_STATUS)
        handleQueryResponse(QString(), mode);
}

void MainWindow::log(const QString &html)
{
    logPane->append(html);
}

void MainWindow::on_logClearButton_clicked()
{
    ui->logger->clear();
}

void MainWindow::on_loadStateButton_clicked()
{
    savedStates->openToLoad();
}

void MainWindow::on_saveStateButton_clicked()
{
    savedStates->openToSave();
}

void MainWindow::on_editNetworkButton_clicked()
{
    networkSettings->openDialog();
}

void MainWindow::statusTimeout()
{
    // Each unanswered query holds the connection for its whole reply wait,
    // longer than the poll interval; asking again before that wait is over
    // would pile up requests and delay the operator's commands behind them.
    const bool answerStillPossible =
        statusAwaited && statusAsked.elapsed() < Connection::TcpReplyWaitMs;
    if (tcpConnected && !answerStillPossible)
        requestStatus();
}

void MainWindow::on_statusButton_clicked()
{
    requestStatus();
}

void MainWindow::requestStatus()
{
    QMutexLocker lock(&commandMutex);
    statusAwaited = true;
    statusAsked.start();
    emit query(InstrumentCommands::statusQuery(), MODE_STATUS);
}

void MainWindow::handleStatus(QString statusStr)
{
    if (statusStr.isEmpty()) {
        qCDebug(lcPanel) << "Bad status read";
        log(LogEntry::failure("Bad status read."));
        goodCounter = 0;
        // Only a USB link is reopened. The flag is cleared when that attempt
        // ends; over TCP/IP nothing would ever clear it, and it would hide
        // every later disconnect and the next USB connection's messages.
        if (usbConnected) {
            reconnecting = true;
            emit closeUSB();
            emit connectUSB();
        }
        return;
    }

    if (statusStr == QLatin1String(StatusReply::OverheatReply)) {
        goodCounter = 0;
        log(LogEntry::alarm(
            "SYSTEM OVERHEATED! RF power disabled. Please restart hardware and software."));
        refreshControls();
        ui->statusLabel->setText("Fatal system condition");
        return;
    }

    const QStringList fields = statusStr.split(',', Qt::KeepEmptyParts);
    // A cut or garbled reply would leave the panel describing a state the
    // instrument is not in; keep the last sound one. The link itself
    // answered, so there is nothing to reconnect.
    const QString fault = StatusReply(fields).fault();
    if (!fault.isEmpty()) {
        qCDebug(lcPanel) << "Bad status read";
        goodCounter = 0;
        log(LogEntry::failure("Bad status read: " + fault + "."));
        return;
    }

    ++goodCounter;
    qCDebug(lcPanel, "goodCounter = %d", goodCounter);
    statusFields = fields;
    const StatusReply status(statusFields);
    statusDisplay->show(status);
    trend->append(QDateTime::currentDateTime(), status.temperature().toDouble(),
                  status.current().toDouble());
}

void MainWindow::sendControl(const QString &cmd, const QString &logLine, bool logFirst)
{
    {
        QMutexLocker lock(&commandMutex);
        if (logFirst)
            log(LogEntry::sent(logLine));
        emit command(cmd);
        if (!logFirst)
            log(LogEntry::sent(logLine));
    }
    requestStatus();
}

void MainWindow::on_tuneFreqButton_clicked()
{
    const std::optional<double> ghz = ValueBoxes::take(
        ui->tuneFreqSpin, "Tune frequency", [this](const QString &entry) { log(entry); });
    if (!ghz)
        return;
    // The log shows the number exactly as the command carries it.
    const QString command = InstrumentCommands::tune(*ghz);
    const QString number = command.section(' ', 1);
    sendControl(command, "Tune frequency set to " + number + " GHz. Wait for status verification.",
                false);
}

void MainWindow::on_rfAttenButton_clicked()
{
    setWholeValue(ui->rfAttenSpin, "Downconverter attenuation", InstrumentCommands::attenuation,
                  "dB");
}

void MainWindow::on_refFreqButton_clicked()
{
    setWholeValue(ui->refFreqSpin, "Reference frequency", InstrumentCommands::referenceFrequency,
                  "MHz");
}

void MainWindow::setWholeValue(QAbstractSpinBox *box, const QString &what,
                               QString (*commandOf)(int), const QString &unit)
{
    const std::optional<double> value =
        ValueBoxes::take(box, what, [this](const QString &entry) { log(entry); });
    if (!value)
        return;
    const int whole = qRound(*value);
    sendControl(commandOf(whole),
                what + " set to " + QString::number(whole) + ' ' + unit +
                    ". Wait for status verification.",
                false);
}

void MainWindow::on_lnaButton_clicked()
{
    // "powe:lna 1" switches the LNA off. Before any complete status the LNA
    // counts as off, matching the button's initial "Turn LNA On".
    if (StatusReply(statusFields).lnaOn())
        sendControl(InstrumentCommands::lna(false), "LNA turned off. Wait for status verification.",
                    true);
    else
        sendControl(InstrumentCommands::lna(true), "LNA turned on. Wait for status verification.",
                    true);
}

void MainWindow::on_overrideButton_clicked()
{
    if (StatusReply(statusFields).overrideActive())
        sendControl(InstrumentCommands::referenceOverride(false),
                    "Reference select override deactivated.", true);
    else
        sendControl(InstrumentCommands::referenceOverride(true),
                    "Reference select override activated.", true);
}

void MainWindow::on_intSetButton_clicked()
{
    sendControl(InstrumentCommands::referenceExternal(false),
                "Reference set to internal. Wait for status verification.", true);
}

void MainWindow::on_extSetButton_clicked()
{
    sendControl(InstrumentCommands::referenceExternal(true),
                "Reference set to external. Wait for status verification.", true);
}

void MainWindow::on_setIF300Button_clicked()
{
    sendControl(InstrumentCommands::if300MHz(true),
                "IF set to 300 MHz. Wait for status verification.", true);
}

void MainWindow::on_setIF187Button_clicked()
{
    sendControl(InstrumentCommands::if300MHz(false),
                "IF set to 187 MHz. Wait for status verification.", true);
}

void MainWindow::on_fractionalSetButton_clicked()
{
    {
        QMutexLocker lock(&commandMutex);
        log(LogEntry::sent("PLL mode set to fractional. Wait for status verification."));
        ui->tuneFreqSpin->setDecimals(3);
        emit command(InstrumentCommands::integerPll(false));
    }
    requestStatus();
}

void MainWindow::on_integerSetButton_clicked()
{
    {
        QMutexLocker lock(&commandMutex);
        log(LogEntry::sent("PLL mode set to integer. Wait for status verification."));
        ui->tuneFreqSpin->setDecimals(1);
        emit command(InstrumentCommands::integerPll(true));
    }
    requestStatus();
}
