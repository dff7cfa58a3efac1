#include "icofile.h"

#include <QBuffer>
#include <QDataStream>
#include <QImageWriter>
#include <algorithm>

namespace
{

const int headerSize = 6;
const int entrySize = 16;

struct Encoded {
    QByteArray entry; // directory entry without its 4-byte data offset
    QByteArray data;
};

int rowBytes(int width, int bitsPerPixel)
{
    return (width * bitsPerPixel + 31) / 32 * 4;
}

// Qt's ico writer leaves the padding at the end of each transparency-mask row
// uninitialised, which makes the file differ from run to run. Zeroes it.
bool clearMaskPadding(QByteArray *data)
{
    QDataStream in(*data);
    in.setByteOrder(QDataStream::LittleEndian);
    quint32 headerLength = 0;
    qint32 width = 0, doubledHeight = 0;
    quint16 planes = 0, bitsPerPixel = 0;
    in >> headerLength >> width >> doubledHeight >> planes >> bitsPerPixel;
    const int height = doubledHeight / 2;
    if (in.status() != QDataStream::Ok || width <= 0 || height <= 0 || width > 256 ||
        height > 256 || bitsPerPixel != 32)
        return false;

    const int colourBytes = rowBytes(width, bitsPerPixel) * height;
    const int maskRow = rowBytes(width, 1);
    const int used = (width + 7) / 8;
    if (qint64(headerLength) + colourBytes + qint64(maskRow) * height > data->size())
        return false;
    char *mask = data->data() + headerLength + colourBytes;
    for (int y = 0; y < height; ++y) {
        char *row = mask + y * maskRow;
        if (width % 8)
            row[used - 1] = char(row[used - 1] & (0xff << (8 - width % 8)));
        std::fill(row + used, row + maskRow, 0);
    }
    return true;
}

// Encodes one image with Qt's ico writer and splits the single-image file
// into its directory entry and its image data.
bool encodeOne(const QImage &image, Encoded *out)
{
    QByteArray file;
    QBuffer buffer(&file);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "ico");
    if (!writer.write(image))
        return false;

    QDataStream in(file);
    in.setByteOrder(QDataStream::LittleEndian);
    quint16 reserved = 0, type = 0, count = 0;
    in >> reserved >> type >> count;
    if (file.size() < headerSize + entrySize || reserved != 0 || type != 1 || count != 1)
        return false;

    QDataStream entry(file.mid(headerSize, entrySize));
    entry.setByteOrder(QDataStream::LittleEndian);
    entry.skipRawData(8);
    quint32 length = 0, offset = 0;
    entry >> length >> offset;
    if (offset < quint32(headerSize + entrySize) || quint64(offset) + length > quint64(file.size()))
        return false;

    out->entry = file.mid(headerSize, entrySize - 4);
    out->data = file.mid(int(offset), int(length));
    return clearMaskPadding(&out->data);
}

} // namespace

QByteArray IcoFile::encode(const QList<QImage> &images)
{
    if (images.isEmpty())
        return {};
    QList<Encoded> parts;
    for (const QImage &image : images) {
        Encoded part;
        if (!encodeOne(image.convertToFormat(QImage::Format_ARGB32), &part))
            return {};
        parts.append(part);
    }

    QByteArray file;
    QDataStream out(&file, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    out << quint16(0) << quint16(1) << quint16(parts.size());
    quint32 offset = headerSize + entrySize * parts.size();
    for (const Encoded &part : parts) {
        out.writeRawData(part.entry.constData(), part.entry.size());
        out << offset;
        offset += part.data.size();
    }
    for (const Encoded &part : parts)
        out.writeRawData(part.data.constData(), part.data.size());
    return file;
}
