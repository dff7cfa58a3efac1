#ifndef STATUSDISPLAY_H
#define STATUSDISPLAY_H

#include <QIcon>
#include <QPixmap>
#include <QString>

class QLabel;
class QWidget;
class StatusReply;

namespace Ui
{
class MainWindow;
}

// Shows a status reply in the window's values, lock pictures, lamps and the
// LNA and override buttons. Every picture and value also gets an accessible
// name that says what it shows ("LO2 locked", "IF 300 MHz selected"), so a
// screen reader, and a test, can read the state without the pixels.
class StatusDisplay
{
public:
    // Draws into the widgets of `ui`, which outlives it; the panel's
    // pictures must already be registered.
    explicit StatusDisplay(Ui::MainWindow *ui);

    void show(const StatusReply &status);

private:
    struct Lamp {
        QLabel *label;
        QString name;
    };
    void showValue(QLabel *label, const QString &what, const QString &text, const QString &unit);
    // Lights the first lamp of a pair when set, the second otherwise.
    void showLampPair(const Lamp &whenSet, const Lamp &otherwise, bool set);
    void showLamp(const Lamp &lamp, bool lit);
    static void describe(QWidget *widget, const QString &name, const QString &description);

    Ui::MainWindow *ui;
    const QIcon powerOnIcon;
    const QIcon powerSymbolIcon;
    const QIcon lightOffIcon;
    const QIcon lightBlueIcon;
    const QPixmap lockPixmap;
    const QPixmap unlockPixmap;
    const QPixmap lightOnPixmap;
    const QPixmap lightOffPixmap;
};

#endif
