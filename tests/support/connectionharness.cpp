#include "connectionharness.h"

#include "simserver.h"

#include <QSignalSpy>

QString modelReply(SimServer &sim, const QByteArray &query)
{
    QByteArray reply;
    sim.withModel([&](InstrumentModel &model) { reply = model.execute(query).value_or("?"); });
    return QString::fromUtf8(reply.trimmed());
}

ConnectionHarness::ConnectionHarness(Connection *made) : connection(made), panelSide(connection)
{
    connection->moveToThread(&thread);
    QObject::connect(&thread, &QThread::finished, connection, &QObject::deleteLater);
    thread.start();
    record();
}

ConnectionHarness::~ConnectionHarness()
{
    // As the panel does on closing: a wait in progress gives up.
    thread.requestInterruption();
    thread.quit();
    // A worker that never stops is reported at once, not as a suite that
    // hangs until its time-out.
    if (!thread.wait(StopWaitMs))
        qFatal("The connection worker did not stop");
}

QString ConnectionHarness::connectTcp()
{
    QSignalSpy finished(&panelSide, &ConnectionProbe::tcpConnFinished);
    emit panelSide.connectTCP();
    return finished.wait(AnswerMs) ? finished.at(0).at(0).toString() : "(no answer)";
}

QString ConnectionHarness::connectUsb()
{
    QSignalSpy finished(&panelSide, &ConnectionProbe::usbConnFinished);
    emit panelSide.connectUSB();
    return finished.wait(AnswerMs) ? finished.at(0).at(0).toString() : "(no answer)";
}

std::optional<QString> ConnectionHarness::ask(const QString &query, calling_mode_t mode)
{
    QSignalSpy responses(&panelSide, &ConnectionProbe::queryResponse);
    emit panelSide.query(query, mode);
    if (!responses.wait(AnswerMs))
        return std::nullopt;
    if (responses.at(0).at(1).value<calling_mode_t>() != mode)
        return QStringLiteral("(wrong mode)");
    return responses.at(0).at(0).toString();
}

std::optional<bool> ConnectionHarness::deliver(const QString &command)
{
    QSignalSpy answers(&panelSide, &ConnectionProbe::commandDelivered);
    emit panelSide.deliverCommand(command);
    if (!answers.wait(AnswerMs))
        return std::nullopt;
    return answers.at(0).at(0).toBool();
}

bool ConnectionHarness::settle()
{
    QSignalSpy marker(&panelSide, &ConnectionProbe::usbConnFinished);
    emit panelSide.connectUSB();
    return marker.wait(AnswerMs);
}

void ConnectionHarness::record()
{
    ConnectionProbe *p = &panelSide;
    QObject::connect(p, &ConnectionProbe::connStatusChanged, [this](connStatus_t s) {
        events << QStringLiteral("status %1%2").arg(int(s.tcpConnected)).arg(int(s.usbConnected));
    });
    QObject::connect(p, &ConnectionProbe::usbConnFinished,
                     [this](const QString &r) { events << "usb " + r; });
    QObject::connect(p, &ConnectionProbe::tcpConnFinished,
                     [this](const QString &r) { events << "tcp " + r; });
    QObject::connect(
        p, &ConnectionProbe::networkSettingsReady,
        [this](const QString &ip, const QString &subnet, const QString &gateway, int port) {
            events << QStringList{"net " + ip, subnet, gateway, QString::number(port)}.join(',');
        });
    QObject::connect(p, &ConnectionProbe::queryResponse,
                     [this](const QString &reply, calling_mode_t) { events << "reply " + reply; });
    QObject::connect(p, &ConnectionProbe::usbReplyMissing,
                     [this](calling_mode_t) { events << "no reply"; });
    QObject::connect(p, &ConnectionProbe::settingsFileWriteFailed,
                     [this] { events << "file not written"; });
}
