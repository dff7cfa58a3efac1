// Writes a picture of the connected panel for the README, and one of the
// trend window over an illustrative half hour of warm-up.
// Usage: panel-screenshot [panel.png [trend.png]]
//        (defaults docs/screenshot.png and docs/trend.png)
// Runs the instrument simulator in-process; needs no display when started
// with QT_QPA_PLATFORM=offscreen.
#include "panelscreenshot.h"
#include "simserver.h"
#include "trendwindow.h"

#include <QApplication>
#include <QTextStream>
#include <cmath>

namespace
{
// A converter warming up: temperature and current settle exponentially.
void fillWarmUp(TrendSeries *series)
{
    const QDateTime start = QDateTime::currentDateTime().addSecs(-30 * 60);
    for (int second = 0; second <= 30 * 60; second += 6) {
        series->append(start.addSecs(second), 25.0 + 17.0 * (1 - std::exp(-second / 600.0)),
                       1.10 + 0.15 * (1 - std::exp(-second / 300.0)));
    }
}

bool captureTrend(const QString &output)
{
    TrendSeries series;
    fillWarmUp(&series);
    TrendWindow window(&series);
    window.show();
    QCoreApplication::processEvents();
    return window.grab().save(output, "PNG");
}
} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString output = args.size() > 1 ? args.at(1) : QStringLiteral("docs/screenshot.png");
    const QString trendOutput = args.size() > 2 ? args.at(2) : QStringLiteral("docs/trend.png");
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
    if (!captureTrend(trendOutput)) {
        err << "cannot write " << trendOutput << '\n';
        return 1;
    }
    QTextStream(stdout) << "wrote " << output << " and " << trendOutput << '\n';
    return 0;
}
