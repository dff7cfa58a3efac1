#include "valueboxes.h"
#include "ui_mainwindow.h"

#include "enterapplies.h"
#include "instrumentcommands.h"
#include "logentry.h"

namespace
{
using Log = std::function<void(const QString &html)>;

QString fixed(double value, int decimals)
{
    return QString::number(value, 'f', decimals);
}

EnterApplies::Refused refusal(const Log &log, const QString &what, const QString &minimum,
                              const QString &maximum, const QString &unit)
{
    const QString range = " is out of range (" + minimum + " to " + maximum + ' ' + unit + ')';
    return [log, what, range](const QString &typed) {
        log(LogEntry::failure(what + ' ' + typed.trimmed() + range + "; nothing was sent."));
    };
}
} // namespace

namespace ValueBoxes
{
void install(Ui::MainWindow *ui, const Log &log)
{
    using namespace InstrumentCommands;
    EnterApplies::install(
        ui->tuneFreqSpin, ui->tuneFreqButton,
        refusal(log, "Tune frequency", fixed(MinTuneGHz, 1), fixed(MaxTuneGHz, 1), "GHz"));
    EnterApplies::install(ui->rfAttenSpin, ui->rfAttenButton,
                          refusal(log, "Downconverter attenuation", fixed(MinAttenuationDb, 0),
                                  fixed(MaxAttenuationDb, 0), "dB"));
    EnterApplies::install(ui->refFreqSpin, ui->refFreqButton,
                          refusal(log, "Reference frequency", fixed(MinReferenceMHz, 0),
                                  fixed(MaxReferenceMHz, 0), "MHz"));
}
} // namespace ValueBoxes
