// The network settings file, read from whatever bytes the file holds. What the
// reader accepts must survive a round trip: written back and read again, it
// is the same settings. A reader that cannot promise that must refuse the file.
#include "finding.h"
#include "networksettingsfile.h"

#include <QFile>
#include <QTemporaryDir>
#include <cstdint>

namespace
{

QString pathIn(const QString &name)
{
    static QTemporaryDir dir;
    FUZZ_CHECK(dir.isValid());
    return dir.filePath(name);
}

bool same(const NetworkSettingsFile::Settings &a, const NetworkSettingsFile::Settings &b)
{
    return a.ipAddress == b.ipAddress && a.subnet == b.subnet && a.gateway == b.gateway &&
           a.port == b.port;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString original = pathIn(QStringLiteral("original.vnf"));
    QFile file(original);
    FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    FUZZ_CHECK(file.write(reinterpret_cast<const char *>(data), qint64(size)) == qint64(size));
    file.close();

    const auto read = NetworkSettingsFile(original).read();
    if (!read)
        return 0;
    FUZZ_CHECK(read->port >= 0 && read->port <= 65535);

    const NetworkSettingsFile copy(pathIn(QStringLiteral("copy.vnf")));
    FUZZ_CHECK(copy.write(*read));
    const auto again = copy.read();
    FUZZ_CHECK(again && same(*read, *again));
    return 0;
}
