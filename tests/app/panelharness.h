#ifndef PANELHARNESS_H
#define PANELHARNESS_H

#include "mainwindow.h"
#include "simserver.h"
#include "testworkdir.h"
#include "trendseries.h"

#include <QAbstractButton>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QStringList>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>
#include <QTimer>
#include <memory>

// A main window in a working folder of its own, with a simulated instrument
// on a loopback port that the settings file points at.
class PanelHarness
{
public:
    explicit PanelHarness(const InstrumentModel::Config &config = {}) : sim(config) {}

    // Starts the simulator and writes the settings file; false when no port is free.
    bool startSim()
    {
        if (!sim.start(0))
            return false;
        TestWorkdir::writeSettings("127.0.0.1", sim.port());
        return true;
    }

    // Builds the window without starting its connection thread: the window's
    // requests then queue up unanswered, which lets a test drive its
    // handlers directly.
    MainWindow &build(MainWindow::ConnectionStart start = MainWindow::ConnectionStart::OnRequest)
    {
        window = std::make_unique<MainWindow>(start);
        return *window;
    }

    // Builds the window and lets it connect by itself, as at program start.
    // The poll timer is stopped so that the wire carries only what a test causes.
    MainWindow &launch(MainWindow::ConnectionStart start = MainWindow::ConnectionStart::OnRequest)
    {
        build(start);
        window->findChild<QTimer *>("statusTimer")->stop();
        if (start == MainWindow::ConnectionStart::OnRequest)
            window->startConnectionThread();
        return *window;
    }

    template <class T> T *find(const char *name) const { return window->findChild<T *>(name); }
    // Good status replies the window has decoded so far.
    size_t statusReads() const { return window->findChild<TrendSeries *>()->samples().size(); }
    QLabel *label(const char *name) const { return find<QLabel>(name); }
    QAbstractButton *button(const char *name) const { return find<QAbstractButton>(name); }

    // The log pane as "colour: text" per entry ("red bold: ..." for bold text).
    QStringList log() const
    {
        QStringList entries;
        const QTextDocument *doc = find<QTextEdit>("logger")->document();
        for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
            if (block.text().isEmpty())
                continue;
            const QTextCharFormat format = block.begin().fragment().charFormat();
            const QColor colour = format.foreground().color();
            QString name = colour == QColor(Qt::red)    ? "red"
                           : colour == QColor("green")  ? "green"
                           : colour == QColor(Qt::blue) ? "blue"
                                                        : colour.name();
            if (format.fontWeight() >= QFont::Bold)
                name += " bold";
            entries << name + ": " + block.text();
        }
        return entries;
    }

    static QImage picture(const char *file)
    {
        return QPixmap(QString(":/new/prefix1/Pictures/") + file).toImage();
    }
    bool shows(const char *labelName, const char *file) const
    {
        return label(labelName)->pixmap(Qt::ReturnByValue).toImage() == picture(file);
    }
    bool lit(const char *lamp) const { return shows(lamp, "lighton.png"); }
    bool dark(const char *lamp) const { return shows(lamp, "lightoff.png"); }
    bool iconIs(const char *buttonName, const char *file) const
    {
        const QIcon expected(QString(":/new/prefix1/Pictures/") + file);
        return button(buttonName)->icon().pixmap(32, 32).toImage() ==
               expected.pixmap(32, 32).toImage();
    }

    TestWorkdir workdir;
    SimServer sim;
    std::unique_ptr<MainWindow> window;
};

// Starts the simulator and the window, waits for the start-up routine to
// reach the simulator over TCP/IP, and for the saved-state query and the
// status read that follow every connection to be answered, then forgets the
// traffic so far.
#define LAUNCH_CONNECTED(h)                                                                        \
    do {                                                                                           \
        QVERIFY((h).startSim());                                                                   \
        (h).launch();                                                                              \
        QTRY_COMPARE_WITH_TIMEOUT((h).label("statusLabel")->text(),                                \
                                  QString("Connected to KX4417-UDC"), 20000);                      \
        QTRY_VERIFY((h).sim.receivedLines().contains("syst:bootstate?"));                          \
        QTRY_COMPARE((h).statusReads(), size_t(1));                                                \
        (h).sim.clearReceived();                                                                   \
    } while (false)

#endif
