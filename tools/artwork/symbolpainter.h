#ifndef SYMBOLPAINTER_H
#define SYMBOLPAINTER_H

#include <QColor>
#include <QPainter>
#include <QRectF>

// The panel's symbols, each drawn on a 256 by 256 unit square; the caller
// scales the painter to the picture size, so shapes keep their proportions.
class SymbolPainter
{
public:
    static inline const QColor brandDark{0x12, 0x32, 0x5e};
    static inline const QColor brandLight{0x2f, 0x6f, 0xc4};
    static inline const QColor accent{0xff, 0xb0, 0x2e};

    // A round lamp behind a bezel; `glow` is the hot spot, `edge` the rim of the glass.
    static void lamp(QPainter &p, const QColor &glow, const QColor &body, const QColor &edge);
    static void padlock(QPainter &p, bool open);
    static void power(QPainter &p, bool on);
    static void folderOpen(QPainter &p);
    static void save(QPainter &p);
    static void network(QPainter &p);
    // The brand mark, shared by the window icon and the logo.
    static void mark(QPainter &p);

private:
    static void monitor(QPainter &p, const QRectF &screen);
};

#endif
