#ifndef NETWORKSETTINGSFILE_H
#define NETWORKSETTINGSFILE_H

#include <QString>
#include <optional>

// The panel's copy of the instrument's network settings: four text lines
// (IP address, subnet mask, gateway, TCP port), each ended by a line feed.
class NetworkSettingsFile
{
public:
    struct Settings {
        QString ipAddress;
        QString subnet;
        QString gateway;
        int port = 0;
    };

    static constexpr const char *DefaultFileName = "ipdata.vnf";

    explicit NetworkSettingsFile(const QString &path = QString::fromLatin1(DefaultFileName));

    bool exists() const;
    // Nothing when the file cannot be opened. Lines are trimmed, so CRLF
    // endings and stray blanks read the same; a missing line reads as empty,
    // and so does an unreadable one (a NUL byte, or longer than any value).
    // Reads only the first few KiB of the file.
    std::optional<Settings> read() const;
    // Replaces the whole file and touches nothing else beside it. False when a value holds a line
    // feed, which would break the line layout, or when the file cannot be written completely; the
    // previous file is then left as it was.
    bool write(const Settings &settings) const;

    // What the panel writes before it has ever learnt the instrument's settings.
    static Settings defaults();
    // A TCP port, as a line of the file or a typed entry holds it: blanks
    // around it are ignored; 0 for anything that wholeNumber does not read
    // as 0..65535.
    static int parsePort(const QString &text);

private:
    QString path;
};

#endif
