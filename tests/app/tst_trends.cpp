#include "panelharness.h"
#include "testworkdir.h"
#include "trendseries.h"
#include "trendwindow.h"

#include <QChartView>
#include <QLineSeries>
#include <QtTest>

// Qt 5 keeps the chart classes in a namespace of their own; Qt 6 does not.
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
QT_CHARTS_USE_NAMESPACE
#endif

class TestTrends : public QObject
{
    Q_OBJECT

private slots:
    void keepsTheNewestAndExportsCsvInAnyLocale()
    {
        TestWorkdir workdir;
        const QLocale previous;
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        TrendSeries series(3);
        const QDateTime start =
            QDateTime::fromString("2026-12-07T10:00:00.000+01:00", Qt::ISODateWithMs);
        for (int i = 0; i < 5; ++i)
            series.append(start.addSecs(6 * i), 30.5 + i, 1.25);
        QLocale::setDefault(previous);

        QCOMPARE(series.csv(), QByteArray("time,temperature_C,current_A\n"
                                          "2026-12-07T10:00:12.000+01:00,32.5,1.25\n"
                                          "2026-12-07T10:00:18.000+01:00,33.5,1.25\n"
                                          "2026-12-07T10:00:24.000+01:00,34.5,1.25\n"));
        QString error;
        QVERIFY(series.exportCsv("trend.csv", &error));
        QFile exported("trend.csv");
        QVERIFY(exported.open(QIODevice::ReadOnly));
        QCOMPARE(exported.readAll(), TestWorkdir::nativeLines(series.csv()));
        QVERIFY(!series.exportCsv("missing/trend.csv", &error));
        QVERIFY(!error.isEmpty());
    }

    void doubleClickShowsTheSessionAndFollowsNewReads()
    {
        PanelHarness h;
        MainWindow &w = h.build();
        w.show();
        w.handleStatus("0,10.0000,0,0,1,1,0,0,1,0,100,2,1,35.2,1.25,1");
        QTest::mouseDClick(h.find<QWidget>("physicalBox"), Qt::LeftButton);
        auto *trend = w.findChild<TrendWindow *>();
        QVERIFY(trend && trend->isVisible());
        const QList<QLineSeries *> lines =
            trend->findChild<QChartView *>()->chart()->findChildren<QLineSeries *>();
        QCOMPARE(lines.count(), 2);
        w.handleStatus("0,10.0000,0,0,1,1,0,0,1,0,100,2,1,36.0,1.5,1");
        QCOMPARE(lines[0]->count(), 2);
        QCOMPARE(lines[0]->at(1).y(), 36.0);
    }
};

QTEST_MAIN(TestTrends)
#include "tst_trends.moc"
