#include "panelharness.h"
#include "savedstatescontroller.h"
#include "stateselect.h"

#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QPushButton>
#include <QtTest>

namespace
{
// A command the instrument ignores; once it has arrived, everything the
// panel emitted before it has arrived too.
const char sentinel[] = "*cls";

struct Emission {
    QString text;
    bool isQuery;
    int mode;
    qint64 atMs;
};
} // namespace

class TestSavedStates : public QObject
{
    Q_OBJECT

    std::unique_ptr<PanelHarness> h;
    StateSelect *dialog = nullptr;
    QList<Emission> emissions;
    QElapsedTimer clock;

    QPushButton *dialogButton(const char *name) const
    {
        return dialog->findChild<QPushButton *>(name);
    }
    QString dialogText(const QString &name) const
    {
        return dialog->findChild<QLabel *>(name)->text();
    }
    QStringList dialogRow(int n) const
    {
        return {dialogText(QString("tune%1").arg(n)), dialogText(QString("ifFreq_%1").arg(n)),
                dialogText(QString("atten%1").arg(n)), dialogText(QString("lna%1").arg(n))};
    }
    // Opens the load dialog, reads one row and closes it again.
    QStringList rowAsLoadDialogShowsIt(int n)
    {
        h->button("loadStateButton")->click();
        const QStringList row = dialogRow(n);
        dialogButton("pushButton")->click();
        return row;
    }
    QStringList linesUpToSentinel()
    {
        emit h->window->command(sentinel);
        if (!QTest::qWaitFor([this] { return h->sim.receivedLines().contains(sentinel); }, 10000))
            qWarning("the instrument never received the sentinel");
        return h->sim.receivedLines();
    }
    QDoubleSpinBox *tuneSpin() const { return h->find<QDoubleSpinBox>("tuneFreqSpin"); }

private slots:
    void init()
    {
        h = std::make_unique<PanelHarness>();
        LAUNCH_CONNECTED(*h);
        dialog = h->window->findChild<StateSelect *>();
        QVERIFY(dialog);

        emissions.clear();
        clock.start();
        connect(h->window.get(), &MainWindow::command, this, [this](const QString &s) {
            emissions.append({s, false, -1, clock.elapsed()});
        });
        connect(h->window.get(), &MainWindow::query, this,
                [this](const QString &s, calling_mode_t mode) {
                    emissions.append({s, true, int(mode), clock.elapsed()});
                });
        // The list the instrument reported at connection time.
        QTRY_COMPARE(rowAsLoadDialogShowsIt(1), QStringList({"10.0000", "300", "0", "OFF"}));
        h->sim.clearReceived();
    }

    void cleanup()
    {
        dialog = nullptr;
        h.reset();
    }

    void dialogBelongsToTheWindow()
    {
        QCOMPARE(dialog->parentWidget(), h->window.get());
        QCOMPARE(dialog->windowModality(), Qt::WindowModal);
        QVERIFY(!dialog->isVisible());
    }

    // The wire counts the states from zero.
    void loadingAState_data()
    {
        QTest::addColumn<int>("number");
        QTest::newRow("state 1") << 1;
        QTest::newRow("state 3") << 3;
    }

    void loadingAState()
    {
        QFETCH(int, number);
        tuneSpin()->setDecimals(4);
        h->button("loadStateButton")->click();
        QVERIFY(dialog->isVisible());
        QCOMPARE(dialog->windowTitle(), QString("Load State"));

        dialogButton(qPrintable(QString("s%1").arg(number)))->click();
        QVERIFY(!dialog->isVisible());
        QCOMPARE(tuneSpin()->decimals(), 3);
        QCOMPARE(h->log().last(),
                 QString("blue: Loaded state %1. Wait for status verification.").arg(number));
        QCOMPARE(
            linesUpToSentinel(),
            QStringList({"freq:pllm 0", QString("syst:loadstate %1").arg(number - 1), sentinel}));
    }

    void savingStateFive()
    {
        h->sim.withModel([](InstrumentModel &m) {
            m.execute("freq:tune 12.5000");
            m.execute("fact:rfatten 7");
            m.execute("powe:lna 0");
        });
        h->button("saveStateButton")->click();
        QCOMPARE(dialog->windowTitle(), QString("Save Current State"));
        QCOMPARE(dialog->findChild<QLabel *>("adviceLabel")->text(),
                 QString("Select a state to overwrite:"));
        const int decimals = tuneSpin()->decimals();

        dialogButton("s5")->click();
        QVERIFY(!dialog->isVisible());
        QCOMPARE(tuneSpin()->decimals(), decimals);
        QCOMPARE(h->log().last(), QString("blue: Saved state 5."));

        QCOMPARE(emissions.size(), 2);
        QCOMPARE(emissions.at(0).text, QString("syst:savestate 4"));
        QVERIFY(!emissions.at(0).isQuery);
        QCOMPARE(emissions.at(1).text, QString("syst:bootstate?"));
        QVERIFY(emissions.at(1).isQuery);
        QCOMPARE(emissions.at(1).mode, int(MODE_STATE_LIST));
        const qint64 pause = emissions.at(1).atMs - emissions.at(0).atMs;
        qInfo("list query followed the save after %lld ms", pause);
        QVERIFY(pause >= 500);
        QCOMPARE(linesUpToSentinel(),
                 QStringList({"syst:savestate 4", "syst:bootstate?", sentinel}));

        // The list is read back from the instrument, so the dialog shows what it stored.
        QTRY_COMPARE(rowAsLoadDialogShowsIt(5), QStringList({"12.5000", "300", "7", "ON"}));
        QCOMPARE(rowAsLoadDialogShowsIt(4), QStringList({"10.0000", "300", "0", "OFF"}));
    }

    void nonChoicesSendNothing_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("cancel") << "cancel";
        QTest::newRow("window frame") << "frame";
        QTest::newRow("escape") << "escape";
        QTest::newRow("state number too high") << "index 5";
        QTest::newRow("negative state number") << "index -1";
    }

    void nonChoicesSendNothing()
    {
        QFETCH(QString, how);
        tuneSpin()->setDecimals(4);
        const QStringList logBefore = h->log();

        if (how.startsWith("index")) {
            auto *states = h->window->findChild<SavedStatesController *>();
            states->handleChoice(true, how.mid(6).toInt());
            states->handleChoice(false, how.mid(6).toInt());
        } else {
            h->button("loadStateButton")->click();
            QVERIFY(dialog->isVisible());
            if (how == "cancel")
                dialogButton("pushButton")->click();
            else if (how == "frame")
                QVERIFY(dialog->close());
            else
                QTest::keyClick(dialog, Qt::Key_Escape);
            QVERIFY(!dialog->isVisible());
        }

        QCOMPARE(linesUpToSentinel(), QStringList{sentinel});
        QCOMPARE(tuneSpin()->decimals(), 4);
        QCOMPARE(h->log(), logBefore);
    }

    void latestModeWins()
    {
        h->button("saveStateButton")->click();
        dialogButton("pushButton")->click();
        h->button("loadStateButton")->click();
        QCOMPARE(dialog->windowTitle(), QString("Load State"));
        QCOMPARE(dialog->findChild<QLabel *>("adviceLabel")->text(),
                 QString("Select a state to load:"));

        // Reopened for saving while still open: the choice is a save.
        h->button("saveStateButton")->click();
        QCOMPARE(dialog->windowTitle(), QString("Save Current State"));
        dialogButton("s2")->click();
        QCOMPARE(h->log().last(), QString("blue: Saved state 2."));
        QCOMPARE(linesUpToSentinel().first(), QString("syst:savestate 1"));
    }
};

QTEST_MAIN(TestSavedStates)
#include "tst_savedstates.moc"
