#ifndef MESSAGELOG_H
#define MESSAGELOG_H

#include <QMutex>
#include <QMutexLocker>
#include <QStringList>
#include <QtGlobal>

// Collects the debug output of the code under test for the lifetime of the
// object, so a test can check which diagnostic lines were (not) written.
class MessageLog
{
public:
    MessageLog() : previous(qInstallMessageHandler(&MessageLog::collect)) { snapshot(true); }
    ~MessageLog() { qInstallMessageHandler(previous); }
    MessageLog(const MessageLog &) = delete;
    MessageLog &operator=(const MessageLog &) = delete;

    QStringList all() const { return snapshot(false); }
    bool contains(const QString &line) const { return all().contains(line); }
    int count(const QString &line) const { return all().count(line); }
    QStringList startingWith(const QString &prefix) const
    {
        QStringList found;
        for (const QString &line : all()) {
            if (line.startsWith(prefix))
                found << line;
        }
        return found;
    }

private:
    // The simulator logs from its own thread.
    static QMutex &mutex()
    {
        static QMutex lock;
        return lock;
    }
    static QStringList &lines()
    {
        static QStringList collected;
        return collected;
    }
    static QStringList snapshot(bool clear)
    {
        QMutexLocker locker(&mutex());
        const QStringList copy = lines();
        if (clear)
            lines().clear();
        return copy;
    }
    static void collect(QtMsgType, const QMessageLogContext &, const QString &message)
    {
        QMutexLocker locker(&mutex());
        lines() << message;
    }

    QtMessageHandler previous;
};

#endif
