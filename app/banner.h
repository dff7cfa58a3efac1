#ifndef BANNER_H
#define BANNER_H

#include <QImage>
#include <QSize>
#include <future>

class QLabel;

// The panel's logo is drawn many times larger than the banner shows it, and
// reading it is the longest step of the start. It is read on a thread of its
// own while the window is built and laid out, and at the banner's size, so
// that it is never held whole in memory nor scaled down on every paint.
namespace Banner
{
// Starts reading the logo to fit `size` device-independent pixels at the
// device pixel `ratio`.
std::future<QImage> readLogo(QSize size, qreal ratio);

// Shows a blank picture of the logo's size in `label`, so that the layout
// is the final one, until the label's first paint, which waits for `logo`
// and shows it.
void showWhenPainted(QLabel *label, std::future<QImage> logo, qreal ratio);
} // namespace Banner

#endif
