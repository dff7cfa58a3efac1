// The floor the panel's start is measured against: a bare Qt widget program
// that shows one window and, once its first frame is painted, prints its
// peak resident memory in MiB on a line of its own and exits.
#include "peakrss.h"

#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <cstdio>

namespace
{
class Window : public QWidget
{
protected:
    void paintEvent(QPaintEvent *event) override
    {
        QWidget::paintEvent(event);
        if (painted)
            return;
        painted = true;
        // Queued behind the paint, as the panel marks its first frame.
        QTimer::singleShot(0, this, [] {
            std::printf("%s\n", qPrintable(QString::number(
                                    peakRssMiB(QCoreApplication::applicationPid()), 'f', 1)));
            std::fflush(stdout);
            QCoreApplication::quit();
        });
    }

private:
    bool painted = false;
};
} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    Window window;
    window.resize(680, 825);
    window.show();
    return app.exec();
}
