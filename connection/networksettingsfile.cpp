#include "networksettingsfile.h"

#include <QFile>
#include <QSaveFile>

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
    Settings settings;
    settings.ipAddress = QString::fromUtf8(file.readLine().trimmed());
    settings.subnet = QString::fromUtf8(file.readLine().trimmed());
    settings.gateway = QString::fromUtf8(file.readLine().trimmed());
    settings.port = parsePort(QString::fromUtf8(file.readLine().trimmed()));
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
    // Written aside and renamed into place, so a full disk or a crash never
    // leaves a half-written file, and a reader on the other thread sees
    // either the old settings or the new ones.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(settings.ipAddress.toUtf8() + '\n' + settings.subnet.toUtf8() + '\n' +
               settings.gateway.toUtf8() + '\n' + QByteArray::number(settings.port) + '\n');
    return file.commit();
}

NetworkSettingsFile::Settings NetworkSettingsFile::defaults()
{
    return {"255.255.255.255", "255.255.255.255", "255.255.255.255", 65535};
}

int NetworkSettingsFile::parsePort(const QString &text)
{
    bool ok = false;
    const int port = text.trimmed().toInt(&ok, 10);
    // A value outside the port range would silently wrap to another port.
    return ok && port >= 0 && port <= 65535 ? port : 0;
}
