#include "stateselect.h"

#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

namespace
{
const int rows = 5;

QStringList state(const QString &tune, const QString &atten, const QString &lna,
                  const QString &ifField)
{
    return {tune, atten, lna, ifField};
}

QList<QStringList> fiveStates()
{
    return {state("2.0000", "1", "0", "1"), state("5.5000", "2", "1", "0"),
            state("10.0000", "3", "0", "0"), state("14.0000", "4", "1", "1"),
            state("18.0000", "31", "0", "1")};
}
} // namespace

class TestStateSelect : public QObject
{
    Q_OBJECT

    std::unique_ptr<StateSelect> dialog;

    QLabel *cell(const char *column, int row) const
    {
        // The IF column is the one whose names carry an underscore.
        const QString name = QString(column) == "ifFreq_" ? QString("ifFreq_%1").arg(row)
                                                          : QString("%1%2").arg(column).arg(row);
        return dialog->findChild<QLabel *>(name);
    }
    QStringList row(int n) const
    {
        return {cell("tune", n)->text(), cell("ifFreq_", n)->text(), cell("atten", n)->text(),
                cell("lna", n)->text()};
    }
    QPushButton *button(const char *name) const { return dialog->findChild<QPushButton *>(name); }

private slots:
    void initTestCase() { Q_INIT_RESOURCE(resources); }
    void init() { dialog = std::make_unique<StateSelect>(); }
    void cleanup() { dialog.reset(); }

    void formBeforeFirstUse()
    {
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
        QCOMPARE(dialog->windowTitle(), QString("State Select"));
        QVERIFY(!dialog->windowIcon().isNull());
        QCOMPARE(dialog->findChild<QLabel *>("adviceLabel")->text(),
                 QString("Control Board Save/Load States"));
        QCOMPARE(dialog->minimumSize(), dialog->maximumSize());
        QVERIFY(qAbs(dialog->width() - 570) <= 30 && qAbs(dialog->height() - 290) <= 30);

        const std::pair<const char *, const char *> headings[] = {{"label", "Tune Frequency"},
                                                                  {"label_4", "IF Frequency"},
                                                                  {"label_2", "D/C Attenuation"},
                                                                  {"label_3", "Upconverter LNA"}};
        int previousX = -1;
        for (const auto &heading : headings) {
            QLabel *label = dialog->findChild<QLabel *>(heading.first);
            QVERIFY2(label, heading.first);
            QCOMPARE(label->text(), QString(heading.second));
            QVERIFY(label->x() > previousX);
            previousX = label->x();
        }
        for (int n = 1; n <= rows; ++n) {
            QCOMPARE(button(qPrintable(QString("s%1").arg(n)))->text(), QString("State %1").arg(n));
            QCOMPARE(row(n), QStringList({"Stuff", "Stuff", "Stuff", "Stuff"}));
        }
        for (const char *line : {"line", "line_2", "line_3", "line_4"})
            QVERIFY2(dialog->findChild<QFrame *>(line), line);
        QCOMPARE(button("pushButton")->text(), QString("Cancel"));
    }

    void modes_data()
    {
        QTest::addColumn<bool>("load");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("prompt");
        QTest::newRow("load") << true << "Load State"
                              << "Select a state to load:";
        QTest::newRow("save") << false << "Save Current State"
                              << "Select a state to overwrite:";
    }

    void modes()
    {
        QFETCH(bool, load);
        QFETCH(QString, title);
        QFETCH(QString, prompt);
        // Opened first in the other mode, so stale texts would show.
        dialog->showWindow(!load, fiveStates());
        dialog->showWindow(load, fiveStates());
        QVERIFY(dialog->isVisible());
        QCOMPARE(dialog->windowTitle(), title);
        QCOMPARE(dialog->findChild<QLabel *>("adviceLabel")->text(), prompt);

        QSignalSpy spy(dialog.get(), &StateSelect::result);
        button("s2")->click();
        QCOMPARE(spy.size(), 1);
        QCOMPARE(spy.at(0).at(0).toBool(), load);
    }

    // Only the exact codes count; nothing is parsed as a number.
    void lnaAndIfCodes_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("shown"); // LNA, then IF
        QTest::newRow("0") << "0"
                           << "ON 187";
        QTest::newRow("1") << "1"
                           << "OFF 300";
        QTest::newRow("empty") << ""
                               << "OFF 187";
        QTest::newRow("01") << "01"
                            << "OFF 187";
        QTest::newRow("blank then 1") << " 1"
                                      << "OFF 187";
        QTest::newRow("1 then blank") << "1 "
                                      << "OFF 187";
        QTest::newRow("00") << "00"
                            << "OFF 187";
    }

    void lnaAndIfCodes()
    {
        QFETCH(QString, field);
        QList<QStringList> data = fiveStates();
        data[2] = state("10.0000", "3", field, field);
        dialog->showWindow(false, data);
        QTEST(cell("lna", 3)->text() + " " + cell("ifFreq_", 3)->text(), "shown");
    }

    void rowsShowTheirStates_data()
    {
        QTest::addColumn<QList<QStringList>>("data");
        QTest::addColumn<QList<QStringList>>("expected");
        const QStringList empty{"", "", "", ""};
        QTest::newRow("five states") << fiveStates()
                                     << QList<QStringList>{{"2.0000", "300", "1", "ON"},
                                                           {"5.5000", "187", "2", "OFF"},
                                                           {"10.0000", "187", "3", "ON"},
                                                           {"14.0000", "300", "4", "OFF"},
                                                           {"18.0000", "300", "31", "ON"}};
        QTest::newRow("no list yet")
            << QList<QStringList>() << QList<QStringList>{empty, empty, empty, empty, empty};
        QTest::newRow("empty reply")
            << QList<QStringList>{{""}} << QList<QStringList>{empty, empty, empty, empty, empty};
        QTest::newRow("two states, the second cut short")
            << QList<QStringList>{state("12.0000", "5", "0", "1"), {"7.2500", "9"}}
            << QList<QStringList>{
                   {"12.0000", "300", "5", "ON"}, {"7.2500", "", "9", ""}, empty, empty, empty};
        QTest::newRow("three fields: IF missing")
            << QList<QStringList>{{"3.0000", "1", "0"}}
            << QList<QStringList>{{"3.0000", "", "1", "ON"}, empty, empty, empty, empty};
        QTest::newRow("extra states and fields ignored")
            << QList<QStringList>{{"2.0000", "1", "0", "1", "x"}, state("a", "b", "c", "d"),
                                  state("a", "b", "c", "d"),      state("a", "b", "c", "d"),
                                  state("a", "b", "c", "d"),      state("6th", "b", "c", "d")}
            << QList<QStringList>{{"2.0000", "300", "1", "ON"},
                                  {"a", "187", "b", "OFF"},
                                  {"a", "187", "b", "OFF"},
                                  {"a", "187", "b", "OFF"},
                                  {"a", "187", "b", "OFF"}};
    }

    void rowsShowTheirStates()
    {
        QFETCH(QList<QStringList>, data);
        QFETCH(QList<QStringList>, expected);
        // A full list first: a shorter one must not leave its cells behind.
        dialog->showWindow(true, fiveStates());
        dialog->showWindow(true, data);
        QVERIFY(dialog->isVisible());
        for (int n = 1; n <= rows; ++n)
            QCOMPARE(row(n), expected.at(n - 1));
    }

    void instrumentTextIsPlain()
    {
        QList<QStringList> data = fiveStates();
        data[0] = state("<b>10</b>", "<img src=x>", "0", "1");
        dialog->showWindow(true, data);
        for (int n = 1; n <= rows; ++n)
            for (const char *column : {"tune", "ifFreq_", "atten", "lna"})
                QCOMPARE(cell(column, n)->textFormat(), Qt::PlainText);
        QCOMPARE(cell("tune", 1)->text(), QString("<b>10</b>"));
        QCOMPARE(cell("atten", 1)->text(), QString("<img src=x>"));
    }

    void stateButtonsReportTheirIndexAndHide()
    {
        QSignalSpy spy(dialog.get(), &StateSelect::result);
        for (int n = 1; n <= rows; ++n) {
            const bool load = n % 2;
            dialog->showWindow(load, fiveStates());
            button(qPrintable(QString("s%1").arg(n)))->click();
            QVERIFY(!dialog->isVisible());
            QCOMPARE(spy.size(), n);
            QCOMPARE(spy.last().at(0).toBool(), load);
            QCOMPARE(spy.last().at(1).toInt(), n - 1);
        }
    }

    void dismissingEmitsNothing_data()
    {
        QTest::addColumn<int>("how");
        QTest::newRow("cancel") << 0;
        QTest::newRow("window frame") << 1;
        QTest::newRow("escape") << 2;
    }

    void dismissingEmitsNothing()
    {
        QFETCH(int, how);
        QSignalSpy spy(dialog.get(), &StateSelect::result);
        dialog->showWindow(true, fiveStates());
        QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
        if (how == 0)
            QTest::mouseClick(button("pushButton"), Qt::LeftButton);
        else if (how == 1)
            QVERIFY(dialog->close());
        else
            QTest::keyClick(dialog.get(), Qt::Key_Escape);
        QVERIFY(!dialog->isVisible());
        QCOMPARE(spy.size(), 0);

        // The dialog is only hidden: it opens again for the next choice.
        dialog->showWindow(false, fiveStates());
        QVERIFY(dialog->isVisible());
    }
};

QTEST_MAIN(TestStateSelect)
#include "tst_stateselect.moc"
