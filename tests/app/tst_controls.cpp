#include "panelharness.h"

#include <QDoubleSpinBox>
#include <QSignalSpy>
#include <QSpinBox>
#include <QtTest>

namespace
{
QString blue(const QString &text)
{
    return "blue: " + text;
}
const char verify[] = " Wait for status verification.";
} // namespace

// A failed check inside the helper must end the test, not only the helper.
#define EXPECT_CONTROL(...)                                                                        \
    do {                                                                                           \
        expectControl(__VA_ARGS__);                                                                \
        if (QTest::currentTestFailed())                                                            \
            return;                                                                                \
    } while (false)

class TestControls : public QObject
{
    Q_OBJECT

    // Clicks a control and checks what reaches the instrument, the log entry
    // and whether that entry was written before the command left the window.
    void expectControl(PanelHarness &h, const char *buttonName, const QString &wire,
                       const QString &entry, bool logFirst)
    {
        int entriesAtCommand = -1;
        QMetaObject::Connection watch = connect(h.window.get(), &MainWindow::command,
                                                [&] { entriesAtCommand = h.log().count(); });
        const int entriesBefore = h.log().count();
        h.sim.clearReceived();

        QAbstractButton *button = h.button(buttonName);
        QVERIFY2(button->isEnabled(), buttonName);
        button->click();
        disconnect(watch);

        QCOMPARE(h.log().count(), entriesBefore + 1);
        QCOMPARE(h.log().last(), entry);
        QCOMPARE(entriesAtCommand, logFirst ? entriesBefore + 1 : entriesBefore);
        QTRY_COMPARE(h.sim.receivedLines(), QStringList({wire, "syst:readstate?"}));
    }

    static bool sentTuneWithFullStop(const QLocale &locale)
    {
        const QLocale previous;
        QLocale::setDefault(locale);
        PanelHarness h;
        MainWindow &w = h.build();
        QSignalSpy commands(&w, &MainWindow::command);
        w.updateConnStatus(connStatus_t{true, false});
        auto *spin = h.find<QDoubleSpinBox>("tuneFreqSpin");
        spin->setValue(12.5);
        const bool localText = spin->text().startsWith("12,5");
        h.button("tuneFreqButton")->click();
        h.button("rfAttenButton")->click();
        QLocale::setDefault(previous);
        return localText && commands.count() == 2 &&
               commands[0][0].toString() == "freq:tune 12.5000" &&
               commands[1][0].toString() == "fact:rfatten 0" &&
               h.log().last() == blue("Downconverter attenuation set to 0 dB." + QString(verify));
    }

private slots:
    void everyControlSendsItsCommandThenStatus()
    {
        PanelHarness h;
        LAUNCH_CONNECTED(h);

        EXPECT_CONTROL(h, "tuneFreqButton", "freq:tune 10.0000",
                       blue("Tune frequency set to 10.0000 GHz." + QString(verify)), false);
        h.find<QSpinBox>("rfAttenSpin")->setValue(31);
        EXPECT_CONTROL(h, "rfAttenButton", "fact:rfatten 31",
                       blue("Downconverter attenuation set to 31 dB." + QString(verify)), false);
        // LNA off and override inactive: both toggles switch on.
        h.sim.setReply("syst:readstate?", "0,10.0000,0,1,1,1,1,0,0,0,100,1,0,30.1,1.0,1");
        h.find<QSpinBox>("refFreqSpin")->setValue(10);
        EXPECT_CONTROL(h, "refFreqButton", "freq:ref:freq 10",
                       blue("Reference frequency set to 10 MHz." + QString(verify)), false);
        QTRY_COMPARE(h.label("tempLabel")->text(), QString("30.1"));
        QVERIFY(!h.button("extSetButton")->isEnabled());
        EXPECT_CONTROL(h, "overrideButton", "freq:ref:refover 1",
                       blue("Reference select override activated."), true);
        EXPECT_CONTROL(h, "lnaButton", "powe:lna 0", blue("LNA turned on." + QString(verify)),
                       true);

        // LNA on and override active: both toggles switch off, and the
        // reference buttons become usable.
        h.sim.setReply("syst:readstate?", "0,10.0000,0,0,1,1,1,0,0,1,100,1,0,30.2,1.0,1");
        EXPECT_CONTROL(h, "setIF300Button", "fact:slot2 \"freq>set 21.000\"",
                       blue("IF set to 300 MHz." + QString(verify)), true);
        QTRY_COMPARE(h.label("tempLabel")->text(), QString("30.2"));
        EXPECT_CONTROL(h, "overrideButton", "freq:ref:refover 0",
                       blue("Reference select override deactivated."), true);
        EXPECT_CONTROL(h, "lnaButton", "powe:lna 1", blue("LNA turned off." + QString(verify)),
                       true);
        EXPECT_CONTROL(h, "intSetButton", "freq:ref:ext 0",
                       blue("Reference set to internal." + QString(verify)), true);
        EXPECT_CONTROL(h, "extSetButton", "freq:ref:ext 1",
                       blue("Reference set to external." + QString(verify)), true);
        EXPECT_CONTROL(h, "setIF187Button", "fact:slot2 \"freq>set 20.887\"",
                       blue("IF set to 187 MHz." + QString(verify)), true);

        auto *spin = h.find<QDoubleSpinBox>("tuneFreqSpin");
        EXPECT_CONTROL(h, "integerSetButton", "freq:pllm 1",
                       blue("PLL mode set to integer." + QString(verify)), true);
        QCOMPARE(spin->decimals(), 1);
        EXPECT_CONTROL(h, "fractionalSetButton", "freq:pllm 0",
                       blue("PLL mode set to fractional." + QString(verify)), true);
        QCOMPARE(spin->decimals(), 3);
    }

    void integerModeRoundsTheTuneFrequency()
    {
        PanelHarness h;
        LAUNCH_CONNECTED(h);
        auto *spin = h.find<QDoubleSpinBox>("tuneFreqSpin");

        h.button("integerSetButton")->click();
        QTRY_VERIFY(h.lit("integerLight"));
        spin->setValue(12.3456);
        QCOMPARE(spin->value(), 12.3);
        h.sim.clearReceived();
        h.button("tuneFreqButton")->click();
        QTRY_COMPARE(h.sim.receivedLines(), QStringList({"freq:tune 12.3000", "syst:readstate?"}));
        QTRY_COMPARE(h.label("tuneActLabel")->text(), QString("12.4000"));
        QCOMPARE(h.log().last(), blue("Tune frequency set to 12.3000 GHz." + QString(verify)));
    }

    void togglesWithoutStatusAssumeOff()
    {
        PanelHarness h;
        MainWindow &w = h.build();
        QSignalSpy commands(&w, &MainWindow::command);
        QSignalSpy queries(&w, &MainWindow::query);
        w.updateConnStatus(connStatus_t{true, false});

        h.button("lnaButton")->click();
        h.button("overrideButton")->click();
        QCOMPARE(commands.count(), 2);
        QCOMPARE(commands[0][0].toString(), QString("powe:lna 0"));
        QCOMPARE(commands[1][0].toString(), QString("freq:ref:refover 1"));
        QCOMPARE(queries.count(), 2);
    }

    void numbersIgnoreTheLocale()
    {
        QVERIFY(sentTuneWithFullStop(QLocale(QLocale::German, QLocale::Germany)));
        QVERIFY(sentTuneWithFullStop(QLocale(QLocale::French, QLocale::France)));
    }

    // Enter, or a click on "Set", sends exactly the number typed in the box,
    // "." and "," both its decimal point unless the locale's group separator
    // may mark thousands, or sends nothing, logs the text typed and the box's
    // range in the locale's numbers, and puts the box back to the value it had.
    void setAppliesTheValueTyped_data()
    {
        QTest::addColumn<QString>("only"); // the one locale the row is for; empty: C and German
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("click");
        QTest::addColumn<QString>("wire");     // empty: refused
        QTest::addColumn<QStringList>("said"); // in the refusal, "." read as the locale's point
        const auto rowIn = [](const char *only, const char *name, const char *box,
                              const char *typed, bool click, const char *wire,
                              const QStringList &said = {}) {
            QTest::newRow(name) << only << box << typed << click << wire << said;
        };
        const auto row = [&](const char *name, const char *box, const char *typed, bool click,
                             const char *wire, const QStringList &said = {}) {
            rowIn("", name, box, typed, click, wire, said);
        };
        // The locale's own decimal point, and the other mark before any
        // number of places but three, are decimal points.
        row("tune 12,3456", "tuneFreqSpin", "12,3456", false, "freq:tune 12.3456");
        rowIn("C", "C: tune 12.345", "tuneFreqSpin", "12.345", true, "freq:tune 12.3450");
        rowIn("de_DE", "de: tune 12,345", "tuneFreqSpin", "12,345", false, "freq:tune 12.3450");
        // The group separator before three places may mark thousands.
        rowIn("C", "C: tune 12,345", "tuneFreqSpin", "12,345", false, "", {"not a number"});
        rowIn("C", "C: tune 10,000", "tuneFreqSpin", "10,000", true, "", {"not a number"});
        rowIn("C", "C: attenuation 1,000", "rfAttenSpin", "1,000", false, "", {"not a number"});
        rowIn("de_DE", "de: tune 12.345", "tuneFreqSpin", "12.345", true, "", {"not a number"});
        rowIn("de_DE", "de: attenuation 1.000", "rfAttenSpin", "1.000", false, "",
              {"not a number"});
        rowIn("de_DE", "de: reference 20.000", "refFreqSpin", "20.000", true, "", {"not a number"});
        row("tune 12.5", "tuneFreqSpin", "12.5", false, "freq:tune 12.5000");
        row("tune 12,5", "tuneFreqSpin", "12,5", true, "freq:tune 12.5000");
        row("tune 12.3456", "tuneFreqSpin", "12.3456", true, "freq:tune 12.3456");
        row("tune top", "tuneFreqSpin", "18", false, "freq:tune 18.0000");
        row("attenuation top", "rfAttenSpin", "31", false, "fact:rfatten 31");
        row("attenuation 17", "rfAttenSpin", "17", true, "fact:rfatten 17");
        row("reference top", "refFreqSpin", "100", false, "freq:ref:freq 100");
        row("reference bottom", "refFreqSpin", "10", true, "freq:ref:freq 10");
        // Refused, not cut to the digits the box would take.
        row("tune 20", "tuneFreqSpin", "20", false, "", {"20 GHz", "2.0", "18.0"});
        row("tune 1.5", "tuneFreqSpin", "1.5", false, "", {"1.5 GHz"});
        row("tune 12.34567", "tuneFreqSpin", "12.34567", true, "", {"12.34567"});
        row("tune 12.3.4", "tuneFreqSpin", "12.3.4", false, "", {"12.3.4 GHz"});
        row("attenuation 45", "rfAttenSpin", "45", true, "", {"45 dB", "31"});
        row("attenuation 2.5", "rfAttenSpin", "2.5", false, "", {"2.5 dB"});
        row("attenuation 2,5", "rfAttenSpin", "2,5", true, "", {"2,5 dB"});
        row("reference 150", "refFreqSpin", "150", true, "", {"150 MHz", "100"});
        row("reference 5", "refFreqSpin", "5", false, "", {"5 MHz", "10", "100"});
        row("reference 12.5", "refFreqSpin", "12.5", true, "", {"12.5 MHz"});
    }

    void setAppliesTheValueTyped()
    {
        QFETCH(QString, only);
        QFETCH(QString, box);
        QFETCH(QString, typed);
        QFETCH(bool, click);
        QFETCH(QString, wire);
        QFETCH(QStringList, said);
        const QLocale previous;
        for (const QLocale &locale : {QLocale::c(), QLocale(QLocale::German, QLocale::Germany)}) {
            if (!only.isEmpty() && locale.name() != only)
                continue;
            QLocale::setDefault(locale);
            PanelHarness h;
            MainWindow &w = h.build(); // its widgets keep the locale they were made in
            QLocale::setDefault(previous);
            QSignalSpy commands(&w, &MainWindow::command);
            auto *spin = h.find<QAbstractSpinBox>(qPrintable(box));
            const QVariant before = spin->property("value");
            w.updateConnStatus(connStatus_t{true, false});
            w.show();
            w.activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(&w));
            spin->setFocus();
            QTRY_VERIFY(spin->hasFocus());

            spin->selectAll();
            QTest::keyClicks(spin, typed);
            if (click)
                QTest::mouseClick(h.button(qPrintable(box.left(box.size() - 4) + "Button")),
                                  Qt::LeftButton);
            else
                QTest::keyClick(spin, Qt::Key_Return);
            if (!wire.isEmpty()) {
                QCOMPARE(commands.count(), 1);
                QCOMPARE(commands[0][0].toString(), wire);
                continue;
            }
            QCOMPARE(commands.count(), 0);
            QCOMPARE(spin->property("value"), before);
            const QString entry = h.log().last();
            QVERIFY2(entry.startsWith("red: "), qPrintable(entry));
            for (QString part : said) {
                if (!part.startsWith(typed))
                    part.replace('.', locale.decimalPoint());
                QVERIFY2(entry.contains(part), qPrintable(locale.name() + ": " + entry));
            }
        }
    }
};

QTEST_MAIN(TestControls)
#include "tst_controls.moc"
