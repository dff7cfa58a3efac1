#include "firstpaint.h"
#include "mainwindow.h"
#include "startupphase.h"
#include "stopsignals.h"
#include "workerjoin.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace
{

// --help and --version are answered before the application object exists, so
// they need no display and create neither a window nor the settings file.
// Every other argument is left to QApplication (-style, -platform, ...).
void answerInformationOptions(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Control panel for the KX4417 RF upconverter/downconverter.\n"
                       "Keeps its settings file ipdata.vnf in the working folder."));
    // "-reverse" must stay Qt's option, not read as -r -e -v ...
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    parser.parse(arguments);
    if (!parser.isSet(help) && !parser.isSet(version))
        return;

    QCoreApplication info(argc, argv);
    if (parser.isSet(help))
        parser.showHelp(0);
    parser.showVersion();
}

// The panel keeps its settings file in its working folder, but never in its
// own folder: an installed program's folder is not the user's to write, and
// it is where the Start menu entry, like a double click on the program,
// starts it. Started there, the panel works in a folder of the user's own,
// created when missing: %LOCALAPPDATA%\rfpanel on Windows,
// ~/.local/share/rfpanel elsewhere, where the desktop launcher starts it.
// Anywhere else, as from a console, it stays in the current folder.
void leaveProgramFolder()
{
    if (QFileInfo(QDir::currentPath()) != QFileInfo(QCoreApplication::applicationDirPath()))
        return;
    const QString own = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                        QStringLiteral("/rfpanel");
    if (!QDir().mkpath(own) || !QDir::setCurrent(own))
        qWarning("rfpanel: cannot work in %s", qPrintable(QDir::toNativeSeparators(own)));
}

} // namespace

int main(int argc, char *argv[])
{
    markStartupPhase(StartupPhase::ProcessStart);
    QCoreApplication::setApplicationName(QStringLiteral("rfpanel"));
    QCoreApplication::setApplicationVersion(QStringLiteral(RFPANEL_VERSION));
    answerInformationOptions(argc, argv);

#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    // Qt 6 always scales by the screen's factor; Qt 5 only when asked, and
    // otherwise grows the fonts alone at 150 % so that captions clip.
    QApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
    // 150 % stays 150 % instead of being rounded to 200 %, as in Qt 6.
    QApplication::setHighDpiScaleFactorRoundingPolicy(
        Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
#endif
    QApplication app(argc, argv);
    markStartupPhase(StartupPhase::Application);
    leaveProgramFolder();
    QGuiApplication::setDesktopFileName(QStringLiteral("rfpanel"));
    quitOnStopSignals(app);
    int code = 0;
    {
        MainWindow window(MainWindow::ConnectionStart::DuringConstruction);
        markStartupPhase(StartupPhase::WindowBuilt);
        if (lcStartup().isDebugEnabled())
            afterFirstPaint(&window, [] { markStartupPhase(StartupPhase::FirstPaint); });
        window.show();
        code = app.exec();
    }
    exitIfWorkersLeft(code);
    return code;
}
