#include "firstpaint.h"

#include <QEvent>
#include <QTimer>
#include <QWidget>

namespace
{
class FirstPaintWatch : public QObject
{
public:
    FirstPaintWatch(QWidget *window, std::function<void()> then)
        : QObject(window), window(window), then(std::move(then))
    {
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == window && event->type() == QEvent::Paint) {
            window->removeEventFilter(this);
            QTimer::singleShot(0, window, std::move(then));
            deleteLater();
        }
        return false;
    }

private:
    QWidget *const window;
    std::function<void()> then;
};
} // namespace

void afterFirstPaint(QWidget *window, std::function<void()> then)
{
    new FirstPaintWatch(window, std::move(then));
}
