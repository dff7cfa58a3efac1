#include "panelscreenshot.h"

#include "mainwindow.h"
#include "testworkdir.h"

#include <QAbstractButton>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QLabel>
#include <QPixmap>
#include <QSaveFile>
#include <QTimer>
#include <functional>

namespace
{

// Runs the event loop until `ready` holds or the deadline passes.
bool waitUntil(const std::function<bool()> &ready, const QDeadlineTimer &deadline)
{
    if (ready())
        return true;
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (ready() || deadline.hasExpired())
            loop.quit();
    });
    poll.start(50);
    loop.exec();
    return ready();
}

QString labelText(const QWidget &window, const char *name)
{
    const QLabel *label = window.findChild<QLabel *>(QString::fromLatin1(name));
    return label ? label->text() : QString();
}

} // namespace

PanelScreenshot::PanelScreenshot(quint16 instrumentPort, int timeoutMs)
    : port(instrumentPort), timeoutMs(timeoutMs)
{
}

bool PanelScreenshot::capture(const QString &pngPath, QString *error)
{
    QString unreported;
    if (!error)
        error = &unreported;
    // resolved before the window's working folder replaces the current one
    const QString target = QFileInfo(pngPath).absoluteFilePath();
    const QDeadlineTimer deadline(timeoutMs);

    TestWorkdir workdir;
    TestWorkdir::writeSettings(QStringLiteral("127.0.0.1"), port);

    MainWindow window;
    window.startConnectionThread();
    window.show();

    const QString initialTune = labelText(window, "tuneActLabel");
    const bool connected = waitUntil(
        [&] { return labelText(window, "statusLabel").startsWith(QLatin1String("Connected to")); },
        deadline);
    if (!connected) {
        *error = QStringLiteral("the panel did not connect to 127.0.0.1:%1 (status: \"%2\")")
                     .arg(port)
                     .arg(labelText(window, "statusLabel"));
        return false;
    }

    // over TCP/IP the timer would ask within 6 s; the button asks at once
    auto *statusButton = window.findChild<QAbstractButton *>(QStringLiteral("statusButton"));
    if (statusButton && waitUntil([&] { return statusButton->isEnabled(); }, deadline))
        statusButton->click();
    if (!waitUntil([&] { return labelText(window, "tuneActLabel") != initialTune; }, deadline)) {
        *error = QStringLiteral("no status reply was shown");
        return false;
    }

    const QPixmap picture = window.grab();
    QSaveFile file(target);
    if (picture.isNull() || !QDir().mkpath(QFileInfo(target).absolutePath()) ||
        !file.open(QIODevice::WriteOnly) || !picture.save(&file, "PNG") || !file.commit()) {
        *error = QStringLiteral("cannot write %1").arg(target);
        return false;
    }
    return true;
}
