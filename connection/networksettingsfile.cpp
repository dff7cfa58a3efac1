#include "networksettingsfile.h"

#include "connectionlog.h"
#include "wholenumber.h"

#include <QFile>
#include <QList>
#include <QSaveFile>

namespace
{
// Far more than four lines of addresses (or host names) and a port need;
// a huge or foreign file is never read whole.
const qint64 maxFileBytes = 4096;
// No address, host name or port is longer than this.
const int maxValueBytes = 255;
const char *const byteOrderMark = "\xef\xbb\xbf";

// Whether the text decoded from a line encodes back to the very same bytes.
// Decoding cuts a line at a NUL byte (Qt 5), drops a byte order mark at its
// start and turns each byte that is not UTF-8 into a three-byte replacement
// character, which may also take the line past the length limit.
bool decodesExactly(const QByteArray &line)
{
    return !line.contains('\0') && QString::fromUtf8(line).toUtf8() == line;
}
} // namespace

NetworkSettingsFile::NetworkSettingsFile(const QString &path) : path(path) {}

bool NetworkSettingsFile::exists() const
{
    return QFile::exists(path);
}

std::optional<NetworkSettingsFile::Settings> NetworkSettingsFile::read() const
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QByteArray content = file.read(maxFileBytes);
    // An editor that marks its UTF-8 files starts them with a byte order mark.
    if (content.startsWith(byteOrderMark))
        content.remove(0, int(qstrlen(byteOrderMark)));
    const QList<QByteArray> lines = content.split('\n');
    const int cutLine = file.atEnd() ? -1 : lines.size() - 1;
    // A value cut at the read limit would be a different setting, and so
    // would one that a save does not write back byte for byte, so such a
    // line reads as unreadable, which is empty.
    const auto value = [&](int index) {
        if (index >= lines.size())
            return QByteArray();
        QByteArray line = lines.at(index).trimmed();
        if (index != cutLine && line.size() <= maxValueBytes && decodesExactly(line))
            return line;
        qCDebug(lcConnection, "Network settings file: line %d is unreadable", index + 1);
        return QByteArray();
    };
    Settings settings;
    settings.ipAddress = QString::fromUtf8(value(0));
    settings.subnet = QString::fromUtf8(value(1));
    settings.gateway = QString::fromUtf8(value(2));
    settings.port = parsePort(QString::fromUtf8(value(3)));
    return settings;
}

bool NetworkSettingsFile::write(const Settings &settings) const
{
    // A line feed inside a value would shift every later line, so the port
    // would be read from the wrong line; the previous file is kept instead.
    for (const QString *value : {&settings.ipAddress, &settings.subnet, &settings.gateway}) {
        if (value->contains(QLatin1Char('\n')))
            return false;
    }
    const QByteArray content = settings.ipAddress.toUtf8() + '\n' + settings.subnet.toUtf8() +
                               '\n' + settings.gateway.toUtf8() + '\n' +
                               QByteArray::number(settings.port) + '\n';
    // Written aside and renamed into place, so a full disk or a crash never
    // leaves a half-written file, and a reader on the other thread sees
    // either the old settings or the new ones. Only a write that fully
    // reached the disk may replace the file: commit() alone would rename an
    // empty file over it when the disk is full. Where the system has no
    // unnamed temporary files, a save killed before its rename leaves its
    // temporary file beside the target; it stays there, since no name
    // pattern tells it apart from a file of the operator's own.
    QSaveFile file(path);
    // Text: the system's own line ends, so Notepad shows four lines on Windows.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        return false;
    if (file.write(content) != content.size() || !file.flush()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

NetworkSettingsFile::Settings NetworkSettingsFile::defaults()
{
    return {"255.255.255.255", "255.255.255.255", "255.255.255.255", 65535};
}

int NetworkSettingsFile::parsePort(const QString &text)
{
    // A value outside the port range would silently wrap to another port.
    return wholeNumber(text.trimmed(), 0, 65535).value_or(0);
}
