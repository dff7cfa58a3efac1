#include "servelog.h"

#include "printabletext.h"

#include <QDateTime>
#include <cstdio>

void serveLog(const QString &event)
{
    const QString time = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
    // Written at once: the log is followed live, and a killed server loses
    // nothing. An event may quote the instrument or a client: one line, printable.
    std::fprintf(stderr, "%s %s\n", time.toUtf8().constData(),
                 printableText(event).toUtf8().constData());
    std::fflush(stderr);
}

QString endpointName(const QHostAddress &address, quint16 port)
{
    const QString host = address.protocol() == QAbstractSocket::IPv6Protocol
                             ? '[' + address.toString() + ']'
                             : address.toString();
    return host + ':' + QString::number(port);
}
