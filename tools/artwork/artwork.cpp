#include "artwork.h"

#include "icofile.h"
#include "symbolpainter.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QSaveFile>

namespace
{

const char *const iconFile = "mainicon.ico";

struct Entry {
    const char *name;
    int width;
    int height;
};

const Entry catalogue[] = {
    {iconFile, 256, 256},
    {"logo.png", 3600, 600},
    {"lighton.png", 256, 256},
    {"lightoff.png", 256, 256},
    {"lightblue.png", 256, 256},
    {"Lock-icon.png", 256, 256},
    {"Lock-Unlock-icon.png", 256, 256},
    {"poweron.png", 200, 200},
    {"powersymbol.png", 200, 200},
    {"folder_open.png", 128, 128},
    {"save.png", 128, 128},
    {"network-icon.png", 128, 128},
};

QImage blank(const QSize &size)
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

// All drawings are laid out on a 256-unit square and scaled to the target,
// so the shapes keep their proportions at every size.
void beginSquare(QPainter &p, const QImage &image)
{
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(image.width() / 256.0, image.height() / 256.0);
}

// Largest pixel size (at most `start`) at which `text` fits `width`.
qreal fittedSize(QFont font, const QString &text, qreal start, qreal width)
{
    qreal size = start;
    for (; size > 8; size *= 0.95) {
        font.setPixelSize(int(size));
        if (QFontMetricsF(font).horizontalAdvance(text) <= width)
            break;
    }
    return size;
}

void drawLogo(QPainter &p, const QImage &image)
{
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    const qreal h = image.height();
    p.save();
    p.translate(h * 0.06, h * 0.06);
    p.scale(h * 0.88 / 256.0, h * 0.88 / 256.0);
    SymbolPainter::mark(p);
    p.restore();

    const qreal left = h * 1.14;
    const qreal width = image.width() - left - h * 0.08;
    const QString name = QStringLiteral("Varonel");
    const QString line = QStringLiteral("RF Upconverter/Downconverter");

    QFont wordmark(QStringLiteral("DejaVu Sans"));
    wordmark.setBold(true);
    wordmark.setLetterSpacing(QFont::PercentageSpacing, 104);
    wordmark.setPixelSize(int(fittedSize(wordmark, name, h * 0.50, width)));
    QFont tagline(QStringLiteral("DejaVu Sans"));
    tagline.setPixelSize(int(fittedSize(tagline, line, h * 0.21, width)));

    QPainterPath text;
    text.addText(QPointF(left, h * 0.54), wordmark, name);
    p.setPen(Qt::NoPen);
    p.setBrush(SymbolPainter::brandDark);
    p.drawPath(text);

    // the rule under the wordmark spans the longer of the two lines
    const qreal rule = qMax(QFontMetricsF(wordmark).horizontalAdvance(name),
                            QFontMetricsF(tagline).horizontalAdvance(line));
    p.setBrush(SymbolPainter::accent);
    p.drawRoundedRect(QRectF(left + h * 0.02, h * 0.61, rule, h * 0.025), 4, 4);

    QPainterPath sub;
    sub.addText(QPointF(left + h * 0.01, h * 0.88), tagline, line);
    p.setBrush(QColor(0x44, 0x55, 0x6c));
    p.drawPath(sub);
}

QImage drawIcon(int size)
{
    QImage image = blank(QSize(size, size));
    QPainter p(&image);
    beginSquare(p, image);
    SymbolPainter::mark(p);
    return image;
}

} // namespace

QStringList Artwork::fileNames()
{
    QStringList names;
    for (const Entry &e : catalogue)
        names << QString::fromLatin1(e.name);
    return names;
}

QSize Artwork::sizeOf(const QString &fileName)
{
    for (const Entry &e : catalogue)
        if (fileName == QLatin1String(e.name))
            return QSize(e.width, e.height);
    return {};
}

QList<int> Artwork::iconSizes()
{
    return {256, 48, 32, 24, 16};
}

QList<int> Artwork::appIconSizes()
{
    return {48, 64, 128, 256};
}

QImage Artwork::draw(const QString &fileName)
{
    const QSize size = sizeOf(fileName);
    if (size.isEmpty())
        return {};
    if (fileName == QLatin1String(iconFile))
        return drawIcon(size.width());

    QImage image = blank(size);
    QPainter p(&image);
    if (fileName == QLatin1String("logo.png")) {
        drawLogo(p, image);
        return image;
    }
    beginSquare(p, image);
    if (fileName == QLatin1String("lighton.png"))
        SymbolPainter::lamp(p, QColor(0xd8, 0xff, 0xc8), QColor(0x36, 0xd6, 0x3c),
                            QColor(0x0a, 0x70, 0x16));
    else if (fileName == QLatin1String("lightoff.png"))
        SymbolPainter::lamp(p, QColor(0x9a, 0x9a, 0x9a), QColor(0x5c, 0x5c, 0x5c),
                            QColor(0x2c, 0x2c, 0x2c));
    else if (fileName == QLatin1String("lightblue.png"))
        SymbolPainter::lamp(p, QColor(0xd0, 0xec, 0xff), QColor(0x2a, 0x8c, 0xff),
                            QColor(0x08, 0x3a, 0x90));
    else if (fileName == QLatin1String("Lock-icon.png"))
        SymbolPainter::padlock(p, false);
    else if (fileName == QLatin1String("Lock-Unlock-icon.png"))
        SymbolPainter::padlock(p, true);
    else if (fileName == QLatin1String("poweron.png"))
        SymbolPainter::power(p, false);
    else if (fileName == QLatin1String("powersymbol.png"))
        SymbolPainter::power(p, true);
    else if (fileName == QLatin1String("folder_open.png"))
        SymbolPainter::folderOpen(p);
    else if (fileName == QLatin1String("save.png"))
        SymbolPainter::save(p);
    else if (fileName == QLatin1String("network-icon.png"))
        SymbolPainter::network(p);
    return image;
}

namespace
{

// A half-written picture must never replace a good one.
bool writeFile(const QString &path, const QByteArray &bytes, QStringList *errors)
{
    QSaveFile file(path);
    if (bytes.isEmpty() || !QDir().mkpath(QFileInfo(path).path()) ||
        !file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        errors->append(QStringLiteral("cannot write %1").arg(path));
        return false;
    }
    return true;
}

QByteArray pngBytes(const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG"))
        bytes.clear();
    return bytes;
}

} // namespace

bool Artwork::writeAll(const QString &dir, QStringList *errors)
{
    QStringList unreported;
    if (!errors)
        errors = &unreported;
    if (!QDir().mkpath(dir)) {
        errors->append(QStringLiteral("cannot create folder %1").arg(dir));
        return false;
    }
    bool ok = true;
    for (const QString &name : fileNames()) {
        QByteArray bytes;
        if (name == QLatin1String(iconFile)) {
            QList<QImage> images;
            for (int size : iconSizes())
                images << drawIcon(size);
            bytes = IcoFile::encode(images);
        } else {
            bytes = pngBytes(draw(name));
        }
        ok = writeFile(QDir(dir).filePath(name), bytes, errors) && ok;
    }
    return ok;
}

bool Artwork::writeAppIcons(const QString &dir, const QString &name, QStringList *errors)
{
    QStringList unreported;
    if (!errors)
        errors = &unreported;
    bool ok = true;
    for (int size : appIconSizes()) {
        const QString path = QStringLiteral("%1/%2x%2/apps/%3.png").arg(dir).arg(size).arg(name);
        ok = writeFile(path, pngBytes(drawIcon(size)), errors) && ok;
    }
    return ok;
}
