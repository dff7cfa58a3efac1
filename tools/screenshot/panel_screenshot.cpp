// Writes a picture of the connected panel for the README.
// Usage: panel-screenshot [output.png]   (default docs/screenshot.png)
// Runs the instrument simulator in-process; needs no display when started
// with QT_QPA_PLATFORM=offscreen.
#include "panelscreenshot.h"
#include "simserver.h"

#include <QApplication>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString output = args.size() > 1 ? args.at(1) : QStringLiteral("docs/screenshot.png");
    QTextStream err(stderr);

    SimServer instrument;
    if (!instrument.start(0)) {
        err << "cannot start the instrument simulator\n";
        return 1;
    }
    QString error;
    if (!PanelScreenshot(instrument.port(), 15000).capture(output, &error)) {
        err << error << '\n';
        return 1;
    }
    QTextStream(stdout) << "wrote " << output << '\n';
    return 0;
}
