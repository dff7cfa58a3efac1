#include "statusdisplay.h"
#include "ui_mainwindow.h"

#include "statusreply.h"

namespace
{
const char picturePrefix[] = ":/new/prefix1/Pictures/";
} // namespace

const QPixmap &StatusDisplay::Picture::pixmap()
{
    if (decoded.isNull())
        decoded = QPixmap(QLatin1String(picturePrefix) + QLatin1String(file));
    return decoded;
}

const QIcon &StatusDisplay::Picture::icon()
{
    if (asIcon.isNull())
        asIcon = QIcon(pixmap());
    return asIcon;
}

StatusDisplay::StatusDisplay(Ui::MainWindow *ui) : ui(ui)
{
    // Everything these labels show comes from the instrument; a reply that
    // happens to look like markup must appear literally.
    for (QLabel *label : {ui->tuneActLabel, ui->lo1freqLabel, ui->rfAttenLabel, ui->filterLabel,
                          ui->tempLabel, ui->currLabel, ui->refFreqLabel})
        label->setTextFormat(Qt::PlainText);
}

void StatusDisplay::show(const StatusReply &status)
{
    showValue(ui->tuneActLabel, "Tune frequency", status.tuneFrequency(), "GHz");
    showValue(ui->lo1freqLabel, "LO1 frequency", status.lo1Frequency(), "GHz");
    showValue(ui->rfAttenLabel, "Downconverter attenuation", status.attenuation(), "dB");
    showValue(ui->filterLabel, "Filter select state", status.filterState(), "");
    showValue(ui->tempLabel, "Temperature", status.temperature(), QString::fromUtf8("°C"));
    showValue(ui->currLabel, "Current", status.current(), "A");
    showValue(ui->refFreqLabel, "Reference frequency", status.referenceFrequency(), "MHz");

    const bool lnaOn = status.lnaOn();
    ui->lnaLabel->setText(lnaOn ? "ON" : "OFF");
    ui->lnaButton->setText(lnaOn ? "Turn LNA Off" : "Turn LNA On");
    ui->lnaButton->setIcon(lnaOn ? powerSymbol.icon() : powerOn.icon());

    QLabel *const states[] = {ui->lo1Label, ui->lo2Label, ui->lo3Label};
    QLabel *const icons[] = {ui->lo1iconLabel, ui->lo2iconLabel, ui->lo3iconLabel};
    for (int lo = 1; lo <= 3; ++lo) {
        const bool locked = status.loLocked(lo);
        states[lo - 1]->setText(locked ? "LOCKED" : "UNLOCKED");
        icons[lo - 1]->setPixmap(locked ? lock.pixmap() : unlock.pixmap());
        describe(icons[lo - 1], QString("LO%1 %2").arg(lo).arg(locked ? "locked" : "unlocked"),
                 QString("Lock state of LO%1").arg(lo));
    }

    showLampPair({ui->lo1extLight, "LO1 external"}, {ui->lo1intLight, "LO1 internal"},
                 status.lo1External());
    showLampPair({ui->if300Light, "IF 300 MHz"}, {ui->if187Light, "IF 187 MHz"}, status.if300MHz());
    showLampPair({ui->refExtLight, "Reference external"}, {ui->refIntLight, "Reference internal"},
                 status.referenceExternal());

    const bool overrideActive = status.overrideActive();
    ui->extSetButton->setEnabled(overrideActive);
    ui->intSetButton->setEnabled(overrideActive);
    ui->overrideButton->setIcon(overrideActive ? lightBlue.icon() : lightOff.icon());
    ui->overrideButton->setAccessibleDescription(
        overrideActive ? "Reference select override active" : "Reference select override inactive");

    showLampPair({ui->integerLight, "PLL integer"}, {ui->fractionalLight, "PLL fractional"},
                 status.integerPll());
}

void StatusDisplay::showValue(QLabel *label, const QString &what, const QString &text,
                              const QString &unit)
{
    label->setText(text);
    describe(label, (what + ' ' + text + ' ' + unit).trimmed(),
             what + " reported by the instrument");
}

void StatusDisplay::showLampPair(const Lamp &whenSet, const Lamp &otherwise, bool set)
{
    showLamp(whenSet, set);
    showLamp(otherwise, !set);
}

void StatusDisplay::showLamp(const Lamp &lamp, bool lit)
{
    lamp.label->setPixmap(lit ? lightOn.pixmap() : lightOff.pixmap());
    describe(lamp.label, lamp.name + (lit ? " selected" : " not selected"), lamp.name + " lamp");
}

void StatusDisplay::describe(QWidget *widget, const QString &name, const QString &description)
{
    widget->setAccessibleName(name);
    widget->setAccessibleDescription(description);
}
