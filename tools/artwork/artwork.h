#ifndef ARTWORK_H
#define ARTWORK_H

#include <QImage>
#include <QSize>
#include <QString>
#include <QStringList>

// The panel's own images, drawn from code so that every picture in the
// resource collection can be regenerated and reviewed like any source file.
class Artwork
{
public:
    // Every file the panel's resource collection lists, in a stable order.
    static QStringList fileNames();

    // Pixel size of the named picture; the icon file reports its largest image.
    // An empty size for a name that is not part of the collection.
    static QSize sizeOf(const QString &fileName);

    // Draws the named picture on a transparent background; a null image for
    // a name that is not part of the collection.
    static QImage draw(const QString &fileName);

    // Writes every picture into `dir` (created when missing). Returns false
    // and appends one line per failed file to `errors` (may be null) when
    // anything failed.
    static bool writeAll(const QString &dir, QStringList *errors);

    // Image sizes stored in the window icon file, largest first, so that
    // readers taking only the first image get the sharpest one.
    static QList<int> iconSizes();

    // Pixel sizes of the desktop icon installed on Linux.
    static QList<int> appIconSizes();

    // Writes the desktop icon as `dir`/NxN/apps/`name`.png at every
    // appIconSizes() size, laid out as an icon theme folder. Reports failures
    // as writeAll() does.
    static bool writeAppIcons(const QString &dir, const QString &name, QStringList *errors);
};

#endif
