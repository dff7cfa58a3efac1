#ifndef ICOFILE_H
#define ICOFILE_H

#include <QByteArray>
#include <QImage>
#include <QList>

// Builds a Windows icon file holding several images. Qt's ico writer stores
// one image per file, so each image is encoded by it separately and the
// directories are merged into one.
class IcoFile
{
public:
    // The icon file bytes; empty when an image could not be encoded.
    static QByteArray encode(const QList<QImage> &images);
};

#endif
