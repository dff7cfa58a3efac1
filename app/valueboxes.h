#ifndef VALUEBOXES_H
#define VALUEBOXES_H

#include <QString>
#include <functional>
#include <optional>

class QAbstractSpinBox;

namespace Ui
{
class MainWindow;
}

// The window's tune, attenuation and reference boxes.
namespace ValueBoxes
{
// Enter in each box clicks the box's "Set" button (EnterApplies).
void install(Ui::MainWindow *ui);

// The value typed in `box` (RangeEntry), now the box's value, when it reads
// as one of the box's values exactly. Otherwise nothing: the box shows its
// last value taken again, and `log` gets a failure entry, made by LogEntry,
// that names the box as `what`, the text typed and why it cannot be set.
std::optional<double> take(QAbstractSpinBox *box, const QString &what,
                           const std::function<void(const QString &html)> &log);
} // namespace ValueBoxes

#endif
