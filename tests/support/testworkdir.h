#ifndef TESTWORKDIR_H
#define TESTWORKDIR_H

#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

// Moves the process into a fresh temporary folder for the lifetime of the
// object, so a suite's settings file never meets another suite's. Its name
// has a space and letters beyond ASCII, as an operator's folders may have.
class TestWorkdir
{
public:
    TestWorkdir()
        : dir(QDir::tempPath() + QString::fromUtf8("/rf panel \u00e4\u00f8-XXXXXX")),
          previous(QDir::currentPath())
    {
        QDir::setCurrent(dir.path());
    }
    ~TestWorkdir() { QDir::setCurrent(previous); }
    TestWorkdir(const TestWorkdir &) = delete;
    TestWorkdir &operator=(const TestWorkdir &) = delete;

    QString path() const { return dir.path(); }

    // Writes the four-line settings file the panel reads its TCP/IP address from.
    static bool writeSettings(const QString &host, int port)
    {
        return writeSettings(host.toUtf8() + "\n255.255.255.0\n" + host.toUtf8() + "\n" +
                             QByteArray::number(port) + "\n");
    }
    static bool writeSettings(const QByteArray &content)
    {
        QFile file("ipdata.vnf");
        return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
    }

    // The settings file as it stands, or "(no file)".
    static QByteArray rawSettings()
    {
        QFile file("ipdata.vnf");
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(no file)");
    }
    // The same with the system's line ends read as line feeds.
    static QByteArray settings() { return rawSettings().replace(nativeLines("\n"), "\n"); }

    // `text` with each line feed turned into the line end the system's text files have.
    static QByteArray nativeLines(QByteArray text)
    {
#ifdef Q_OS_WIN
        text.replace('\n', "\r\n");
#endif
        return text;
    }

private:
    QTemporaryDir dir;
    QString previous;
};

#endif
