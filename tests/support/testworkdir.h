#ifndef TESTWORKDIR_H
#define TESTWORKDIR_H

#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

// Moves the process into a fresh temporary folder for the lifetime of the
// object, so a suite's settings file never meets another suite's.
class TestWorkdir
{
public:
    TestWorkdir() : previous(QDir::currentPath()) { QDir::setCurrent(dir.path()); }
    ~TestWorkdir() { QDir::setCurrent(previous); }
    TestWorkdir(const TestWorkdir &) = delete;
    TestWorkdir &operator=(const TestWorkdir &) = delete;

    QString path() const { return dir.path(); }

    // Writes the four-line settings file the panel reads its TCP/IP address from.
    static void writeSettings(const QString &host, int port)
    {
        QFile file("ipdata.vnf");
        if (!file.open(QIODevice::WriteOnly))
            return;
        file.write(host.toUtf8() + "\n255.255.255.0\n" + host.toUtf8() + "\n" +
                   QByteArray::number(port) + "\n");
    }

private:
    QTemporaryDir dir;
    QString previous;
};

#endif
