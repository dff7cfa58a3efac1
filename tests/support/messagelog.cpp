#include "messagelog.h"

#include <QMutex>
#include <QMutexLocker>

namespace
{
// The simulator and the connection worker log from threads of their own.
QMutex mutex;
MessageLog *active = nullptr;
} // namespace

MessageLog::MessageLog()
{
    QMutexLocker lock(&mutex);
    outer = active;
    active = this;
    previous = qInstallMessageHandler(&MessageLog::collect);
    // Not the outer log's handler, which would hand the message back here.
    console = outer ? outer->console : previous;
}

MessageLog::~MessageLog()
{
    QMutexLocker lock(&mutex);
    qInstallMessageHandler(previous);
    active = outer;
}

QStringList MessageLog::lines() const
{
    QMutexLocker lock(&mutex);
    return collected;
}

void MessageLog::clear()
{
    QMutexLocker lock(&mutex);
    collected.clear();
}

QStringList MessageLog::startingWith(const QString &prefix) const
{
    QStringList found;
    for (const QString &line : lines()) {
        if (line.startsWith(prefix))
            found << line;
    }
    return found;
}

void MessageLog::collect(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    QtMessageHandler passOn = nullptr;
    {
        QMutexLocker lock(&mutex);
        if (!active)
            return;
        active->collected << text;
        if (type != QtDebugMsg)
            passOn = active->console;
    }
    if (passOn)
        passOn(type, context, text);
}
