#include "icofile.h"

#include <QBuffer>
#include <QDataStream>
#include <QImageWriter>

namespace
{

const int headerSize = 6;
const int entrySize = 16;

struct Encoded {
    QByteArray entry; // directory entry without its 4-byte data offset
    QByteArray data;
};

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
    return true;
}

} // namespace

QByteArray IcoFile::encode(const QList<QImage> &images)
{
    if (images.isEmpty())
        return {};
    QList<Encoded> parts;
    for (const QImage &image : images) {
        Encoded part;
        if (!encodeOne(image, &part))
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
