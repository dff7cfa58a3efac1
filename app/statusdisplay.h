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

    // One of the panel's pictures, decoded when first shown rather than when
    // the window is built (most appear only once the instrument has
    // answered), then kept.
    class Picture
    {
    public:
        explicit Picture(const char *file) : file(file) {}
        const QPixmap &pixmap();
        const QIcon &icon();

    private:
        const char *const file;
        QPixmap decoded;
        QIcon asIcon;
    };

    Ui::MainWindow *ui;
    Picture powerOn{"poweron.png"};
    Picture powerSymbol{"powersymbol.png"};
    Picture lightOff{"lightoff.png"};
    Picture lightBlue{"lightblue.png"};
    Picture lock{"Lock-icon.png"};
    Picture unlock{"Lock-Unlock-icon.png"};
    Picture lightOn{"lighton.png"};
};

#endif
