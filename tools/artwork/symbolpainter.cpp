#include "symbolpainter.h"

#include <QLinearGradient>
#include <QPainterPath>
#include <QRadialGradient>
#include <cmath>

void SymbolPainter::lamp(QPainter &p, const QColor &glow, const QColor &body, const QColor &edge)
{
    const QPointF centre(128, 128);
    QLinearGradient bezel(0, 14, 0, 242);
    bezel.setColorAt(0, QColor(0xee, 0xee, 0xee));
    bezel.setColorAt(1, QColor(0x5a, 0x5a, 0x5a));
    p.setPen(QPen(QColor(0x40, 0x40, 0x40), 4));
    p.setBrush(bezel);
    p.drawEllipse(centre, 112, 112);

    QRadialGradient glass(QPointF(128, 128), 96, QPointF(104, 100));
    glass.setColorAt(0, glow);
    glass.setColorAt(0.55, body);
    glass.setColorAt(1, edge);
    p.setPen(QPen(edge.darker(140), 3));
    p.setBrush(glass);
    p.drawEllipse(centre, 94, 94);

    QLinearGradient shine(0, 40, 0, 128);
    shine.setColorAt(0, QColor(255, 255, 255, 190));
    shine.setColorAt(1, QColor(255, 255, 255, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(shine);
    p.drawEllipse(QRectF(72, 42, 112, 70));
}

// The shackle of an open lock is lifted, its right leg clear of the body.
void SymbolPainter::padlock(QPainter &p, bool open)
{
    QPainterPath shackle;
    if (open) {
        shackle.moveTo(84, 130);
        shackle.lineTo(84, 64);
        shackle.arcTo(QRectF(84, 20, 88, 88), 180, -180);
        shackle.lineTo(172, 84);
    } else {
        shackle.moveTo(84, 130);
        shackle.lineTo(84, 92);
        shackle.arcTo(QRectF(84, 48, 88, 88), 180, -180);
        shackle.lineTo(172, 130);
    }
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(0x4a, 0x4a, 0x4a), 34, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(shackle);
    QLinearGradient steel(60, 0, 196, 0);
    steel.setColorAt(0, QColor(0xf4, 0xf4, 0xf4));
    steel.setColorAt(1, QColor(0x9a, 0x9a, 0x9a));
    p.setPen(QPen(QBrush(steel), 22, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(shackle);
    QLinearGradient brass(0, 118, 0, 242);
    brass.setColorAt(0, QColor(0xff, 0xdc, 0x6a));
    brass.setColorAt(0.5, QColor(0xe8, 0xa8, 0x26));
    brass.setColorAt(1, QColor(0xb0, 0x74, 0x10));
    p.setPen(QPen(QColor(0x7a, 0x52, 0x09), 5));
    p.setBrush(brass);
    p.drawRoundedRect(QRectF(38, 118, 180, 124), 22, 22);

    QPainterPath keyhole;
    keyhole.addEllipse(QPointF(128, 164), 17, 17);
    QPolygonF slot;
    slot << QPointF(120, 170) << QPointF(136, 170) << QPointF(142, 212) << QPointF(114, 212);
    keyhole.addPolygon(slot);
    keyhole.setFillRule(Qt::WindingFill);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x4a, 0x32, 0x06));
    p.drawPath(keyhole.simplified());
}

// A round push button carrying the power symbol; lit green when `on`.
void SymbolPainter::power(QPainter &p, bool on)
{
    QLinearGradient face(0, 20, 0, 236);
    face.setColorAt(0, on ? QColor(0x8c, 0xf5, 0x8e) : QColor(0xfa, 0xfa, 0xfa));
    face.setColorAt(1, on ? QColor(0x1c, 0x96, 0x30) : QColor(0xb4, 0xb4, 0xb4));
    p.setPen(QPen(on ? QColor(0x0f, 0x5e, 0x1c) : QColor(0x70, 0x70, 0x70), 8));
    p.setBrush(face);
    p.drawEllipse(QPointF(128, 128), 112, 112);

    const QColor mark = on ? QColor(Qt::white) : QColor(0x4a, 0x4a, 0x4a);
    p.setPen(QPen(mark, 22, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(66, 72, 124, 124), 125 * 16, 290 * 16);
    p.drawLine(QPointF(128, 52), QPointF(128, 128));
}

void SymbolPainter::folderOpen(QPainter &p)
{
    const QColor line(0x9a, 0x68, 0x12);
    QPainterPath back;
    back.moveTo(20, 56);
    back.lineTo(20, 36);
    back.quadTo(20, 28, 28, 28);
    back.lineTo(92, 28);
    back.lineTo(108, 46);
    back.lineTo(212, 46);
    back.quadTo(220, 46, 220, 54);
    back.lineTo(220, 214);
    back.lineTo(20, 214);
    back.closeSubpath();
    p.setPen(QPen(line, 7, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(QColor(0xe2, 0xa4, 0x2c));
    p.drawPath(back);

    p.setPen(QPen(QColor(0x90, 0x90, 0x90), 5));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(46, 62, 150, 110));
    p.setPen(QPen(QColor(0xb8, 0xc4, 0xd4), 7, Qt::SolidLine, Qt::RoundCap));
    for (int y = 84; y <= 124; y += 20)
        p.drawLine(QPointF(66, y), QPointF(176, y));

    QPolygonF front;
    front << QPointF(58, 104) << QPointF(248, 104) << QPointF(214, 226) << QPointF(14, 226);
    QLinearGradient flap(0, 104, 0, 226);
    flap.setColorAt(0, QColor(0xff, 0xdf, 0x7e));
    flap.setColorAt(1, QColor(0xf0, 0xae, 0x34));
    p.setPen(QPen(line, 7, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(flap);
    p.drawPolygon(front);
}

void SymbolPainter::save(QPainter &p)
{
    QPainterPath disk;
    disk.moveTo(36, 20);
    disk.lineTo(196, 20);
    disk.lineTo(236, 60);
    disk.lineTo(236, 220);
    disk.quadTo(236, 236, 220, 236);
    disk.lineTo(36, 236);
    disk.quadTo(20, 236, 20, 220);
    disk.lineTo(20, 36);
    disk.quadTo(20, 20, 36, 20);
    QLinearGradient plastic(0, 20, 0, 236);
    plastic.setColorAt(0, brandLight.lighter(115));
    plastic.setColorAt(1, brandDark);
    p.setPen(QPen(QColor(0x0c, 0x22, 0x44), 7, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(plastic);
    p.drawPath(disk);

    p.setPen(QPen(QColor(0x6e, 0x78, 0x86), 5));
    p.setBrush(QColor(0xdc, 0xe2, 0xea));
    p.drawRect(QRectF(66, 20, 118, 70));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x2a, 0x36, 0x48));
    p.drawRect(QRectF(146, 32, 24, 46));

    p.setPen(QPen(QColor(0x9a, 0xa4, 0xb2), 5));
    p.setBrush(Qt::white);
    p.drawRoundedRect(QRectF(48, 126, 160, 110), 8, 8);
    p.setPen(QPen(QColor(0xb8, 0xc4, 0xd4), 8, Qt::SolidLine, Qt::RoundCap));
    for (int y = 156; y <= 206; y += 25)
        p.drawLine(QPointF(70, y), QPointF(186, y));
}

void SymbolPainter::monitor(QPainter &p, const QRectF &screen)
{
    p.setPen(QPen(QColor(0x28, 0x30, 0x3c), 8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    QLinearGradient glass(0, screen.top(), 0, screen.bottom());
    glass.setColorAt(0, QColor(0x9c, 0xd4, 0xff));
    glass.setColorAt(1, brandLight);
    p.setBrush(glass);
    p.drawRoundedRect(screen, 8, 8);
    const qreal cx = screen.center().x();
    p.drawLine(QPointF(cx, screen.bottom() + 4), QPointF(cx, screen.bottom() + 12));
    p.drawLine(QPointF(cx - 18, screen.bottom() + 14), QPointF(cx + 18, screen.bottom() + 14));
}

// One station above two others, joined by a cable bus.
void SymbolPainter::network(QPainter &p)
{
    p.setPen(QPen(QColor(0x28, 0x30, 0x3c), 10, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawLine(QPointF(128, 100), QPointF(128, 144));
    p.drawLine(QPointF(56, 144), QPointF(200, 144));
    p.drawLine(QPointF(56, 144), QPointF(56, 162));
    p.drawLine(QPointF(200, 144), QPointF(200, 162));
    monitor(p, QRectF(76, 14, 104, 72));
    monitor(p, QRectF(8, 162, 96, 66));
    monitor(p, QRectF(152, 162, 96, 66));
    p.setPen(Qt::NoPen);
    p.setBrush(accent);
    p.drawEllipse(QPointF(128, 144), 14, 14);
}

// The brand mark: a frequency sweep on a rounded square.
void SymbolPainter::mark(QPainter &p)
{
    QLinearGradient tile(0, 8, 0, 248);
    tile.setColorAt(0, brandLight);
    tile.setColorAt(1, brandDark);
    p.setPen(Qt::NoPen);
    p.setBrush(tile);
    p.drawRoundedRect(QRectF(8, 8, 240, 240), 48, 48);

    QPainterPath wave;
    const int steps = 120;
    for (int i = 0; i <= steps; ++i) {
        const qreal t = qreal(i) / steps;
        // the period shortens from left to right, like a rising frequency
        const qreal x = 36 + 184 * t;
        const qreal y = 128 - 62 * std::sin(2 * M_PI * (1.2 * t + 1.3 * t * t));
        if (i == 0)
            wave.moveTo(x, y);
        else
            wave.lineTo(x, y);
    }
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(Qt::white, 22, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(wave);
    p.setPen(QPen(accent, 10, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(40, 214), QPointF(216, 214));
}
