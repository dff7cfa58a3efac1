#include "valueboxes.h"
#include "ui_mainwindow.h"

#include "enterapplies.h"
#include "logentry.h"
#include "rangeentry.h"

#include <cmath>

namespace
{
// Why a text read as `verdict` was not taken, after the box's name and the
// text; numbers in the box's locale.
QString reason(const QAbstractSpinBox &box, RangeEntry::Verdict verdict)
{
    const std::optional<RangeEntry::Limits> limits = RangeEntry::limitsOf(box);
    if (!limits || verdict == RangeEntry::Verdict::NotANumber)
        return " is not a number";
    const QLocale locale = box.locale();
    const QString unit = ' ' + limits->suffix.trimmed();
    if (verdict == RangeEntry::Verdict::TooManyPlaces)
        return " is not a multiple of " +
               locale.toString(std::pow(10.0, -limits->decimals), 'f', limits->decimals) + unit;
    // A decimal range shows one place: "2.0 to 18.0 GHz".
    const int places = limits->decimals > 0 ? 1 : 0;
    return " is out of range (" + locale.toString(limits->minimum, 'f', places) + " to " +
           locale.toString(limits->maximum, 'f', places) + unit + ')';
}
} // namespace

namespace ValueBoxes
{
void install(Ui::MainWindow *ui)
{
    EnterApplies::install(ui->tuneFreqSpin, ui->tuneFreqButton);
    EnterApplies::install(ui->rfAttenSpin, ui->rfAttenButton);
    EnterApplies::install(ui->refFreqSpin, ui->refFreqButton);
}

std::optional<double> take(QAbstractSpinBox *box, const QString &what,
                           const std::function<void(const QString &html)> &log)
{
    const QString typed = box->text();
    const RangeEntry::Verdict verdict = RangeEntry::read(*box, typed).verdict;
    // An exact text becomes the value; any other gives way to the last value taken.
    box->interpretText();
    if (verdict != RangeEntry::Verdict::Exact) {
        // Text that is no number is quoted: the operator sees what stood in the
        // box, an empty one too.
        const QString shown = verdict == RangeEntry::Verdict::NotANumber
                                  ? LogEntry::quoted(typed.trimmed())
                                  : typed.trimmed();
        log(LogEntry::failure(what + ' ' + shown + reason(*box, verdict) + "; nothing was sent."));
        return std::nullopt;
    }
    return box->property("value").toDouble();
}
} // namespace ValueBoxes
