// The main window under fonts and styles other than those its form was laid
// out with: the window grows, and no box is squeezed.
#include "panelharness.h"

#include <QApplication>
#include <QStyleFactory>
#include <QtTest>

class TestWindowFit : public QObject
{
    Q_OBJECT

private slots:
    void noWidgetIsSmallerThanItNeeds_data()
    {
        QTest::addColumn<QString>("style");
        QTest::addColumn<QString>("family");
        QTest::newRow("Windows, monospace") << "Windows"
                                            << "DejaVu Sans Mono";
        QTest::newRow("Fusion, monospace") << "Fusion"
                                           << "DejaVu Sans Mono";
    }

    void noWidgetIsSmallerThanItNeeds()
    {
        QFETCH(QString, style);
        QFETCH(QString, family);
        QApplication::setStyle(QStyleFactory::create(style));
        // The form sets the point size; the family comes from the application.
        QFont font = QApplication::font();
        font.setFamily(family);
        QApplication::setFont(font);

        PanelHarness h;
        MainWindow &w = h.build();
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        // The longest captions the panel shows at run time.
        h.button("usbButton")->setText("Disconnect USB");
        h.button("tcpipButton")->setText("Disconnect TCP/IP");
        // each level of nested layouts posts its request to the next one up
        for (int level = 0; level < 5; ++level)
            QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);

        QStringList squeezed;
        for (QWidget *child : w.findChildren<QWidget *>()) {
            if (child->window() != &w || !child->isVisibleTo(&w) ||
                child->objectName().startsWith("qt_"))
                continue;
            const QSize needed = child->minimumSizeHint().boundedTo(child->maximumSize());
            if (child->width() < needed.width() || child->height() < needed.height())
                squeezed << QString("%1 needs %2x%3, has %4x%5")
                                .arg(child->objectName())
                                .arg(needed.width())
                                .arg(needed.height())
                                .arg(child->width())
                                .arg(child->height());
        }
        QVERIFY2(squeezed.isEmpty(), qPrintable(squeezed.join("; ")));
        QVERIFY(w.width() > 680);
    }
};

QTEST_MAIN(TestWindowFit)
#include "tst_windowfit.moc"
