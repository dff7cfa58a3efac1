#include "panelharness.h"

#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QLayout>
#include <QMetaMethod>
#include <QPushButton>
#include <QScopeGuard>
#include <QSpinBox>
#include <QStyle>
#include <QStyleOptionGroupBox>
#include <QToolButton>
#include <QtTest>

namespace
{
enum Style { Normal, Bold, Italic };

struct Caption {
    const char *name;
    const char *kind;
    const char *text;
    Style style;
};

// Every captioned widget of the main window with the font it must show.
// Group boxes make their contents bold unless a child sets its own font, so
// the effective font is what is checked.
const Caption captions[] = {
    {"usbButton", "QPushButton", "Connect USB", Bold},
    {"tcpipButton", "QPushButton", "Connect TCP/IP", Bold},
    {"statusButton", "QPushButton", "Update Status", Bold},
    {"logClearButton", "QPushButton", "Clear Log", Normal},
    {"pllmBox", "QGroupBox", "LO PLL Mode", Bold},
    {"label_33", "QLabel", "Fractional", Normal},
    {"fractionalSetButton", "QPushButton", "Set", Normal},
    {"label_36", "QLabel", "Adjust tune frequency to the nearest MHz", Italic},
    {"label_37", "QLabel", "Integer", Normal},
    {"integerSetButton", "QPushButton", "Set", Normal},
    {"label_38", "QLabel", "Adjust tune frequency to the nearest 400 MHz", Italic},
    {"lockBox", "QGroupBox", "Reference Lock Status", Bold},
    {"label_12", "QLabel", "LO1 Status:", Normal},
    {"label_13", "QLabel", "LO2 Status:", Normal},
    {"label_14", "QLabel", "LO3 Status:", Normal},
    {"lo1Label", "QLabel", "UNLOCKED", Bold},
    {"lo2Label", "QLabel", "UNLOCKED", Bold},
    {"lo3Label", "QLabel", "UNLOCKED", Bold},
    {"tuneFreqBox", "QGroupBox", "Tune Frequency", Bold},
    {"label", "QLabel", "Set Tune Frequency:", Normal},
    {"tuneFreqButton", "QPushButton", "Set", Normal},
    {"label_3", "QLabel", "Tune Frequency Status:", Normal},
    {"tuneActLabel", "QLabel", "0.0000", Bold},
    {"label_7", "QLabel", "GHz", Normal},
    {"label_8", "QLabel", "Internal LO1 Frequency:", Normal},
    {"lo1freqLabel", "QLabel", "0.00000", Bold},
    {"label_11", "QLabel", "GHz", Normal},
    {"ifBox", "QGroupBox", "IF Frequency", Bold},
    {"label_42", "QLabel", "300 MHz", Normal},
    {"setIF300Button", "QPushButton", "Set", Normal},
    {"label_43", "QLabel", "187 MHz", Normal},
    {"setIF187Button", "QPushButton", "Set", Normal},
    {"rfAttenBox", "QGroupBox", "Downconverter Attenuation", Bold},
    {"label_4", "QLabel", "Set D/C Attenuation:", Normal},
    {"rfAttenButton", "QPushButton", "Set", Normal},
    {"label_6", "QLabel", "D/C Attenuation Status:", Normal},
    {"rfAttenLabel", "QLabel", "0", Bold},
    {"label_9", "QLabel", "dB", Normal},
    {"lo1box", "QGroupBox", "LO1 Source", Bold},
    {"label_15", "QLabel", "Internal", Normal},
    {"label_17", "QLabel", "External", Normal},
    {"refFreq_box", "QGroupBox", "Ref Frequency", Bold},
    {"refFreqButton", "QPushButton", "Set", Normal},
    {"label_39", "QLabel", "Ref. Freq:", Normal},
    {"refFreqLabel", "QLabel", "0", Bold},
    {"label_41", "QLabel", "MHz", Normal},
    {"label_44", "QLabel", "Range: 10-100 MHz", Italic},
    {"refSelectBox", "QGroupBox", "Reference Select", Bold},
    {"label_18", "QLabel", "Internal", Normal},
    {"intSetButton", "QPushButton", "Set", Normal},
    {"label_20", "QLabel", "External", Normal},
    {"extSetButton", "QPushButton", "Set", Normal},
    {"overrideButton", "QToolButton", "Software\nOverride", Normal},
    {"label_16", "QLabel",
     "Reference will automatically change based on LO1 Select hardware switch unless Software "
     "Override is activated.",
     Italic},
    {"filterBox", "QGroupBox", "Filter Select", Bold},
    {"label_21", "QLabel", "Filter Select State:", Normal},
    {"filterLabel", "QLabel", "0", Bold},
    {"label_23", "QLabel", "Tune Frequency", Bold},
    {"label_24", "QLabel", "Filter State", Bold},
    {"label_22", "QLabel", "2.000 - 5.500 GHz", Normal},
    {"label_25", "QLabel", "0", Normal},
    {"label_26", "QLabel", "5.501 - 10.000 GHz", Normal},
    {"label_27", "QLabel", "1", Normal},
    {"label_28", "QLabel", "10.001 - 14.000 GHz", Normal},
    {"label_29", "QLabel", "2", Normal},
    {"label_30", "QLabel", "14.001 - 18.000 GHz", Normal},
    {"label_31", "QLabel", "3", Normal},
    {"label_32", "QLabel",
     "For internal LO1, control software will adjust filters automatically. For external LO1, "
     "use DB-25 connector to set filter state according to the table.",
     Italic},
    {"lnaBox", "QGroupBox", "Upconverter LNA Control", Bold},
    {"label_10", "QLabel", "LNA Status:", Normal},
    {"lnaLabel", "QLabel", "OFF", Bold},
    {"lnaButton", "QToolButton", "Turn LNA On", Normal},
    {"physicalBox", "QGroupBox", "Physical Status", Bold},
    {"label_2", "QLabel", "Temperature:", Normal},
    {"tempLabel", "QLabel", "0.0", Bold},
    {"label_34", "QLabel", "\u00b0C", Normal},
    {"label_35", "QLabel", "Current:", Normal},
    {"currLabel", "QLabel", "0.0", Bold},
    {"label_40", "QLabel", "A", Normal},
    {"statesBox", "QGroupBox", "Saved States", Bold},
    {"loadStateButton", "QToolButton", "Load State", Normal},
    {"saveStateButton", "QToolButton", "Save Current State", Normal},
    {"networkBox", "QGroupBox", "Network", Bold},
    {"editNetworkButton", "QToolButton", "Edit Settings", Normal},
};

const char *const lamps[] = {"fractionalLight", "integerLight", "if300Light",  "if187Light",
                             "lo1intLight",     "lo1extLight",  "refIntLight", "refExtLight"};

const char *const centred[] = {"label_12", "label_13", "label_14",    "lo1Label", "lo2Label",
                               "lo3Label", "label_21", "filterLabel", "label_23", "label_24",
                               "label_22", "label_25", "label_26",    "label_27", "label_28",
                               "label_29", "label_30", "label_31",    "label_10", "lnaLabel",
                               "label_2",  "label_35"};

QString captionOf(QWidget *w)
{
    if (auto *box = qobject_cast<QGroupBox *>(w))
        return box->title();
    if (auto *button = qobject_cast<QAbstractButton *>(w))
        return button->text();
    return qobject_cast<QLabel *>(w)->text();
}

// Why a widget of the shown window cannot show its text in full, or an empty
// string when it can. Sizes are compared with what the current style and
// font need, so the check follows the font of the machine it runs on.
QString clipping(QWidget *w)
{
    const QSize size = w->size();
    auto tooSmall = [&](const QSize &needed) {
        return needed.width() > size.width() || needed.height() > size.height()
                   ? QString("needs %1x%2, has %3x%4")
                         .arg(needed.width())
                         .arg(needed.height())
                         .arg(size.width())
                         .arg(size.height())
                   : QString();
    };
    if (auto *label = qobject_cast<QLabel *>(w)) {
        if (label->text().isEmpty())
            return QString();
        if (!label->wordWrap())
            return tooSmall(label->sizeHint());
        // the longest word must fit on a line, and all lines in the height
        return tooSmall(
            QSize(label->minimumSizeHint().width(), label->heightForWidth(size.width())));
    }
    if (auto *tool = qobject_cast<QToolButton *>(w))
        return tooSmall(tool->sizeHint());
    if (auto *push = qobject_cast<QPushButton *>(w)) {
        // the caption may use the padding but not cover the frame
        const int frame = push->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, push);
        const QSize text = push->fontMetrics().size(Qt::TextShowMnemonic, push->text());
        return tooSmall(text + QSize(2 * frame, 2 * frame));
    }
    if (auto *spin = qobject_cast<QAbstractSpinBox *>(w))
        return tooSmall(QSize(spin->sizeHint().width(), spin->minimumSizeHint().height()));
    if (auto *box = qobject_cast<QGroupBox *>(w)) {
        QStyleOptionGroupBox option;
        option.initFrom(box);
        option.text = box->title();
        option.subControls = QStyle::SC_GroupBoxLabel | QStyle::SC_GroupBoxFrame;
        option.textAlignment = box->alignment();
        const QRect title = box->style()->subControlRect(QStyle::CC_GroupBox, &option,
                                                         QStyle::SC_GroupBoxLabel, box);
        const int needed = title.left() + box->fontMetrics().horizontalAdvance(box->title());
        return tooSmall(QSize(needed, title.bottom()));
    }
    return QString();
}

// Whether `shown` is `picture` scaled to its size, but for the rounding of
// another scaling method: on average within 2 % per channel.
bool resembles(const QImage &shown, const QImage &picture)
{
    const auto format = QImage::Format_ARGB32_Premultiplied;
    const QImage a = shown.convertToFormat(format);
    const QImage b = picture.scaled(shown.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                         .convertToFormat(format);
    qint64 difference = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            difference += qAbs(qRed(p) - qRed(q)) + qAbs(qGreen(p) - qGreen(q)) +
                          qAbs(qBlue(p) - qBlue(q)) + qAbs(qAlpha(p) - qAlpha(q));
        }
    }
    return difference <= qint64(a.width()) * a.height() * 4 * 255 / 50;
}
} // namespace

class TestMainForm : public QObject
{
    Q_OBJECT

    std::unique_ptr<PanelHarness> h;

    QWidget *widget(const char *name) const { return h->find<QWidget>(name); }

private slots:
    // One window serves every read-only check; the entry tests put their
    // spin boxes back to where they started.
    void initTestCase()
    {
        h = std::make_unique<PanelHarness>();
        QVERIFY(h->startSim());
        h->build().show();
        QVERIFY(QTest::qWaitForWindowExposed(h->window.get()));
    }

    void cleanupTestCase() { h.reset(); }

    void captionsKindsAndFonts_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("style");
        for (const Caption &c : captions)
            QTest::newRow(c.name) << c.kind << QString::fromUtf8(c.text) << int(c.style);
    }

    void captionsKindsAndFonts()
    {
        QFETCH(QString, kind);
        QFETCH(QString, text);
        QFETCH(int, style);
        QWidget *w = widget(QTest::currentDataTag());
        QVERIFY2(w, "no such widget");
        QVERIFY2(w->inherits(kind.toLatin1()), w->metaObject()->className());
        QCOMPARE(captionOf(w), text);
        QCOMPARE(w->font().bold(), style == Bold);
        QCOMPARE(w->font().italic(), style == Italic);
        if (style == Bold)
            QCOMPARE(w->font().weight(), int(QFont::Bold));
    }

    void lampsAndImages()
    {
        for (const char *lamp : lamps) {
            QLabel *l = h->label(lamp);
            QVERIFY2(l, lamp);
            QVERIFY2(h->dark(lamp), lamp);
            QVERIFY(l->text().isEmpty());
            QVERIFY(l->hasScaledContents());
            QVERIFY(l->maximumWidth() <= 25 && l->maximumHeight() <= 25);
        }
        for (const char *icon : {"lo1iconLabel", "lo2iconLabel", "lo3iconLabel"}) {
            QVERIFY2(h->shows(icon, "Lock-Unlock-icon.png"), icon);
            QVERIFY(h->label(icon)->hasScaledContents());
            QVERIFY(h->label(icon)->maximumWidth() <= 40 && h->label(icon)->maximumHeight() <= 40);
        }
        // The logo, read at the banner's size rather than at its own.
        QLabel *logo = h->label("label_19");
        const QImage shown = logo->pixmap(Qt::ReturnByValue).toImage();
        QCOMPARE(shown.size(), logo->maximumSize() * logo->devicePixelRatioF());
        QVERIFY(resembles(shown, PanelHarness::picture("logo.png")));
        QVERIFY(logo->hasScaledContents());
        QCOMPARE(logo->width(), 540);
        QVERIFY(logo->maximumHeight() <= 90);
    }

    void toolButtons_data()
    {
        QTest::addColumn<QString>("icon");
        QTest::newRow("overrideButton") << "lightoff.png";
        QTest::newRow("lnaButton") << "poweron.png";
        QTest::newRow("loadStateButton") << "folder_open.png";
        QTest::newRow("saveStateButton") << "save.png";
        QTest::newRow("editNetworkButton") << "network-icon.png";
    }

    void toolButtons()
    {
        QFETCH(QString, icon);
        auto *button = h->find<QToolButton>(QTest::currentDataTag());
        QVERIFY(button);
        QVERIFY(h->iconIs(QTest::currentDataTag(), icon.toLatin1()));
        QCOMPARE(button->iconSize(), QSize(32, 32));
        QCOMPARE(button->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
        QVERIFY(button->autoRaise());
    }

    void setButtonsAreLow()
    {
        int count = 0;
        for (QPushButton *button : h->window->findChildren<QPushButton *>()) {
            if (button->text() != "Set" || button->window() != h->window.get())
                continue;
            ++count;
            QVERIFY2(button->maximumHeight() <= 30, qPrintable(button->objectName()));
        }
        QCOMPARE(count, 9);
    }

    void alignment()
    {
        for (const char *name : centred)
            QVERIFY2(h->label(name)->alignment() == Qt::AlignCenter, name);
        QCOMPARE(h->label("label_44")->alignment(), Qt::AlignLeft | Qt::AlignTop);
        QCOMPARE(h->label("label_16")->alignment(), Qt::AlignLeft | Qt::AlignVCenter);
        for (const char *note : {"label_44", "label_16", "label_32"})
            QVERIFY2(h->label(note)->wordWrap(), note);
    }

    void spinBoxRanges()
    {
        auto *tune = h->find<QDoubleSpinBox>("tuneFreqSpin");
        QVERIFY(tune);
        QCOMPARE(tune->minimum(), 2.0);
        QCOMPARE(tune->maximum(), 18.0);
        QCOMPARE(tune->value(), 10.0);
        QCOMPARE(tune->decimals(), 4);
        QCOMPARE(tune->suffix(), QString(" GHz"));
        QVERIFY(!tune->font().bold());

        struct {
            const char *name;
            int min, max, value;
            const char *suffix;
        } const ints[] = {{"rfAttenSpin", 0, 31, 0, " dB"}, {"refFreqSpin", 10, 100, 100, " MHz"}};
        for (const auto &s : ints) {
            auto *spin = h->find<QSpinBox>(s.name);
            QVERIFY2(spin, s.name);
            QCOMPARE(spin->minimum(), s.min);
            QCOMPARE(spin->maximum(), s.max);
            QCOMPARE(spin->value(), s.value);
            QCOMPARE(spin->suffix(), QString(s.suffix));
            QVERIFY(!spin->font().bold());
        }
    }

    void tuneEntry_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("leaveBy");
        QTest::addColumn<double>("expected");
        QTest::newRow("20, leave by tab") << "20" << int(Qt::Key_Tab) << 10.0;
        QTest::newRow("20, enter") << "20" << int(Qt::Key_Return) << 10.0;
        QTest::newRow("18.5") << "18.5" << int(Qt::Key_Tab) << 10.0;
        QTest::newRow("1, below range") << "1" << int(Qt::Key_Tab) << 10.0;
        QTest::newRow("12.5 accepted") << "12.5" << int(Qt::Key_Tab) << 12.5;
        QTest::newRow("18 accepted") << "18" << int(Qt::Key_Return) << 18.0;
    }

    void tuneEntry()
    {
        QFETCH(QString, typed);
        QFETCH(int, leaveBy);
        QFETCH(double, expected);
        auto *tune = h->find<QDoubleSpinBox>("tuneFreqSpin");
        tune->setValue(10.0);
        // The panel keeps the box disabled until an instrument is connected.
        widget("tuneFreqBox")->setEnabled(true);
        h->window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(h->window.get()));
        tune->setFocus();
        QTRY_VERIFY(tune->hasFocus());

        // The operator types, and the box shows, numbers in the box's own
        // locale: "12,5" under a decimal-comma locale.
        const QLocale locale = tune->locale();
        tune->selectAll();
        QTest::keyClicks(tune, QString(typed).replace(QLatin1Char('.'), locale.decimalPoint()));
        QCOMPARE(tune->value(), 10.0);
        QTest::keyClick(tune, Qt::Key(leaveBy));
        QCOMPARE(tune->value(), expected);
        QVERIFY(tune->value() >= 2.0 && tune->value() <= 18.0);
        QVERIFY(tune->text().startsWith(locale.toString(expected, 'f', 4)));
        // Enter also applied the value; the cases that follow share the window
        // and expect an empty log.
        h->find<QTextEdit>("logger")->clear();
    }

    void windowFrame()
    {
        MainWindow *w = h->window.get();
        QCOMPARE(w->windowTitle(), QString("Varonel RF Upconverter/Downconverter"));
        QVERIFY(!w->windowIcon().isNull());
        QCOMPARE(w->maximumSize(), QSize(680, 825));
        QCOMPARE(w->minimumSize(), QSize(450, 75));
        w->resize(1000, 1000);
        QCOMPARE(w->size(), QSize(680, 825));

        QWidget *central = widget("centralWidget");
        QWidget *layoutWidget = widget("layoutWidget");
        QCOMPARE(layoutWidget->parentWidget(), central);
        QCOMPARE(layoutWidget->geometry(), QRect(15, 24, 656, 795));
        QCOMPARE(layoutWidget->layout()->spacing(), 6);
        QCOMPARE(layoutWidget->layout()->contentsMargins(), QMargins());

        auto *logger = h->find<QTextEdit>("logger");
        QVERIFY(logger->isReadOnly());
        QVERIFY(logger->maximumHeight() <= 100);
        QVERIFY(logger->document()->isEmpty());
    }

    // The rows stack top to bottom in the order the operator reads them.
    void rowOrder()
    {
        const char *const rows[] = {"usbButton", "line_3", "pllmBox", "tuneFreqBox",   "lo1box",
                                    "lnaBox",    "line",   "logger",  "logClearButton"};
        int previousBottom = -1;
        for (const char *name : rows) {
            QWidget *w = widget(name);
            QVERIFY2(w, name);
            const int top = w->mapTo(h->window.get(), QPoint(0, 0)).y();
            QVERIFY2(top > previousBottom - 2, name);
            previousBottom = top + w->height();
        }
        QVERIFY(widget("lo1box")->y() < widget("refFreq_box")->y());
        QCOMPARE(widget("lo1box")->x(), widget("refFreq_box")->x());
        const std::pair<const char *, const char *> sideBySide[] = {
            {"pllmBox", "lockBox"},           {"tuneFreqBox", "ifBox"},
            {"ifBox", "rfAttenBox"},          {"lo1box", "refSelectBox"},
            {"refSelectBox", "filterBox"},    {"lnaBox", "physicalBox"},
            {"physicalBox", "statesBox"},     {"statesBox", "networkBox"},
            {"logClearButton", "statusLabel"}};
        for (const auto &pair : sideBySide) {
            const int left = widget(pair.first)->mapTo(h->window.get(), QPoint(0, 0)).x();
            const int right = widget(pair.second)->mapTo(h->window.get(), QPoint(0, 0)).x();
            QVERIFY2(left < right, pair.second);
        }
    }

    // Every button slot of the window is bound by name, so each needs a
    // button of exactly that name.
    void everyButtonSlotHasItsButton()
    {
        const QMetaObject *meta = &MainWindow::staticMetaObject;
        int buttonSlots = 0;
        for (int i = meta->methodOffset(); i < meta->methodCount(); ++i) {
            const QString name = QString::fromLatin1(meta->method(i).name());
            if (!name.startsWith("on_") || !name.endsWith("_clicked"))
                continue;
            ++buttonSlots;
            const QString object = name.mid(3, name.size() - 3 - int(strlen("_clicked")));
            QVERIFY2(h->window->findChild<QAbstractButton *>(object), qPrintable(object));
        }
        QVERIFY(buttonSlots >= 17);
        QVERIFY(h->find<QTextEdit>("logger"));
    }

    // The window has a fixed size, so its rows must share the width without
    // squeezing any caption or value below what its text needs. The longest
    // texts the panel shows at run time are checked too: the decoder and the
    // connection status replace the initial ones and the rows share the
    // width anew. Under a font wider than the design's (a monospace family
    // at the design point size) the window grows instead of squeezing any
    // widget below its minimum size. Each case has a window of its own.
    void nothingIsClipped_data()
    {
        QTest::addColumn<QString>("reply");
        QTest::addColumn<QString>("style");
        QTest::addColumn<QString>("family");
        const QString lnaOn = "18.30000,18.0000,31,0,1,1,1,1,1,1,100,3,1,100.0,10.00,1";
        QTest::newRow("initial texts") << QString() << QString() << QString();
        QTest::newRow("LNA on, all locked") << lnaOn << QString() << QString();
        QTest::newRow("LNA off, unlocked")
            << "10.30000,10.0000,0,1,0,0,0,0,0,0,10,0,0,-40.0,0.00,0" << QString() << QString();
        QTest::newRow("Windows style, monospace") << lnaOn << "Windows"
                                                  << "DejaVu Sans Mono";
        QTest::newRow("Fusion style, monospace") << lnaOn << "Fusion"
                                                 << "DejaVu Sans Mono";
    }

    void nothingIsClipped()
    {
        QFETCH(QString, reply);
        QFETCH(QString, style);
        QFETCH(QString, family);
        const QString designStyle = QApplication::style()->objectName();
        const QFont designFont = QApplication::font();
        const auto restore = qScopeGuard([&] {
            QApplication::setStyle(designStyle);
            QApplication::setFont(designFont);
        });
        if (!family.isEmpty()) {
            QApplication::setStyle(style);
            QFont font = designFont;
            font.setFamily(family);
            QApplication::setFont(font);
        }
        PanelHarness own;
        MainWindow &w = own.build();
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        if (!reply.isEmpty()) {
            own.button("usbButton")->setText("Disconnect USB");
            own.button("tcpipButton")->setText("Disconnect TCP/IP");
            w.handleStatus(reply);
        }
        own.find<QDoubleSpinBox>("tuneFreqSpin")->setValue(18.0);
        // each level of nested layouts posts its request to the next one up
        for (int level = 0; level < 4; ++level)
            QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);

        QStringList clipped;
        for (QWidget *child : w.findChildren<QWidget *>()) {
            if (child->window() != &w || !child->isVisibleTo(&w))
                continue;
            // Other fonts are held to the layout's promise only: the form
            // caps some widths for its own font.
            QString why = family.isEmpty() ? clipping(child) : QString();
            const QSize least = child->minimumSizeHint().boundedTo(child->maximumSize());
            if (why.isEmpty() && !child->objectName().startsWith("qt_") &&
                (child->width() < least.width() || child->height() < least.height()))
                why = "is smaller than its minimum size hint";
            if (why.isEmpty() && !child->parentWidget()->rect().contains(child->geometry()))
                why = "reaches past its parent";
            if (!why.isEmpty())
                clipped << child->objectName() + " " + why;
        }
        QVERIFY2(clipped.isEmpty(), qPrintable(clipped.join("; ")));
    }
};

QTEST_MAIN(TestMainForm)
#include "tst_mainform.moc"
