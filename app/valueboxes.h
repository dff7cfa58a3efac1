#ifndef VALUEBOXES_H
#define VALUEBOXES_H

#include <QString>
#include <functional>

namespace Ui
{
class MainWindow;
}

// The window's tune, attenuation and reference boxes.
namespace ValueBoxes
{
// Enter in each box applies it as the box's "Set" button does (EnterApplies);
// a number typed out of range sends nothing, and `log` gets a failure entry,
// made by LogEntry, that names the box's range.
void install(Ui::MainWindow *ui, const std::function<void(const QString &html)> &log);
} // namespace ValueBoxes

#endif
