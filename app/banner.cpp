#include "banner.h"

#include <QEvent>
#include <QImageReader>
#include <QLabel>
#include <QPixmap>

namespace
{
QPixmap atRatio(QPixmap picture, qreal ratio)
{
    picture.setDevicePixelRatio(ratio);
    return picture;
}

class LogoOnPaint : public QObject
{
public:
    LogoOnPaint(QLabel *label, std::future<QImage> logo, qreal ratio)
        : QObject(label), label(label), logo(std::move(logo)), ratio(ratio)
    {
        label->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == label && event->type() == QEvent::Paint && logo.valid()) {
            label->removeEventFilter(this);
            label->setPixmap(atRatio(QPixmap::fromImage(logo.get()), ratio));
        }
        return false;
    }

private:
    QLabel *const label;
    std::future<QImage> logo;
    const qreal ratio;
};
} // namespace

std::future<QImage> Banner::readLogo(QSize size, qreal ratio)
{
    return std::async(std::launch::async, [size, ratio] {
        QImageReader reader(QStringLiteral(":/new/prefix1/Pictures/logo.png"));
        reader.setScaledSize(reader.size().scaled(size * ratio, Qt::KeepAspectRatio));
        return reader.read();
    });
}

void Banner::showWhenPainted(QLabel *label, std::future<QImage> logo, qreal ratio)
{
    QPixmap blank(label->maximumSize() * ratio);
    blank.fill(Qt::transparent);
    label->setPixmap(atRatio(blank, ratio));
    new LogoOnPaint(label, std::move(logo), ratio);
}
