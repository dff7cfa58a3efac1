#include "servelog.h"

#include "printabletext.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>
#include <QMutex>
#include <QMutexLocker>
#include <QTimer>
#include <cstdio>

namespace
{

struct Repeats {
    QElapsedTimer period;
    int written = 0;
    qint64 unwritten = 0;
    // Tells the summary timer of an ended period from the current one's.
    quint64 generation = 0;
};

QMutex repeatsMutex;
QHash<QString, Repeats> repeats;
quint64 generations = 0;

// With `repeatsMutex` held: the period's withheld lines, told; the kind
// starts afresh with its next line.
void endPeriod(const QString &kind)
{
    const auto found = repeats.find(kind);
    if (found == repeats.end())
        return;
    if (found->unwritten > 0)
        serveLog(QStringLiteral("and %1 more %2 in the last %3 s")
                     .arg(QString::number(found->unwritten), kind,
                          QString::number((found->period.elapsed() + 500) / 1000)));
    repeats.erase(found);
}

// The summary is due at the period's end even when the flood stops before.
void summariseLater(const QString &kind, quint64 generation)
{
    QCoreApplication *app = QCoreApplication::instance();
    if (!app)
        return;
    QMetaObject::invokeMethod(
        app,
        [kind, generation, app] {
            QTimer::singleShot(RepeatedLinesPeriodMs, Qt::PreciseTimer, app, [kind, generation] {
                QMutexLocker lock(&repeatsMutex);
                const auto found = repeats.constFind(kind);
                if (found != repeats.cend() && found->generation == generation)
                    endPeriod(kind);
            });
        },
        Qt::QueuedConnection);
}
} // namespace

void serveLog(const QString &event)
{
    const QString time = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
    // Written at once: the log is followed live, and a killed server loses
    // nothing. An event may quote the instrument or a client: one line, printable.
    std::fprintf(stderr, "%s %s\n", time.toUtf8().constData(),
                 printableText(event).toUtf8().constData());
    std::fflush(stderr);
}

void serveLogRepeated(const QString &kind, const QString &event, int count)
{
    QMutexLocker lock(&repeatsMutex);
    auto found = repeats.find(kind);
    if (found != repeats.end() && found->period.hasExpired(RepeatedLinesPeriodMs)) {
        endPeriod(kind);
        found = repeats.end();
    }
    if (found == repeats.end()) {
        found = repeats.insert(kind, Repeats());
        found->period.start();
        found->generation = ++generations;
        summariseLater(kind, found->generation);
    }
    if (found->written < RepeatedLinesPerPeriod) {
        ++found->written;
        serveLog(event);
    } else {
        found->unwritten += count;
    }
}

QString endpointName(const QHostAddress &address, quint16 port)
{
    const QString host = address.protocol() == QAbstractSocket::IPv6Protocol
                             ? '[' + address.toString() + ']'
                             : address.toString();
    return host + ':' + QString::number(port);
}
