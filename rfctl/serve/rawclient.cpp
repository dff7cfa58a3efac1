#include "rawclient.h"

#include "rawserver.h"
#include "requesttext.h"
#include "servelog.h"

#include <QTcpSocket>

namespace
{
// The socket's read buffer holds a longest line with its CR LF; when it is
// full without a line feed, the line is over-long.
constexpr int LineBufferSize = RawServer::MaxLineBytes + 2;
} // namespace

RawClient::RawClient(QTcpSocket *socket, const QString &peer, SharedLink &link, QObject *parent)
    : QObject(parent), socket(socket), link(link), peer(peer),
      id(link.addClient(peer, SharedLink::LockWait::ReplyTime))
{
    socket->setParent(this);
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    socket->setReadBufferSize(LineBufferSize);
    connect(socket, &QTcpSocket::readyRead, this, &RawClient::readLines);
    connect(socket, &QTcpSocket::disconnected, this, &RawClient::leave);
    readLines();
}

RawClient::~RawClient()
{
    // No outcome still on its way may reach this client afterwards.
    link.removeClient(id);
}

void RawClient::readLines()
{
    while (!gone && waiting < RawServer::MaxRequestsPerClient) {
        if (socket->canReadLine()) {
            takeLine(socket->readLine());
        } else if (socket->bytesAvailable() >= LineBufferSize) {
            if (!discarding)
                serveLog(QStringLiteral("dropping an over-long line from client %1").arg(peer));
            socket->readAll();
            discarding = true;
        } else {
            return;
        }
    }
}

void RawClient::takeLine(QByteArray line)
{
    const bool cut = discarding;
    discarding = false;
    const QString text = RequestText::ofLine(line);
    if (cut || text.isEmpty())
        return;
    ++waiting;
    link.submit(id, text, [this](const SharedLink::Outcome &outcome) { replied(outcome); });
}

void RawClient::replied(const SharedLink::Outcome &outcome)
{
    --waiting;
    if (outcome.status == SharedLink::Outcome::Replied) {
        QByteArray line = outcome.reply.toUtf8();
        line += '\n';
        socket->write(line);
        // Out now, not when the event loop next looks at the socket.
        socket->flush();
        if (socket->bytesToWrite() > RawServer::MaxUnreadOutput) {
            drop(QStringLiteral("it left more than %1 bytes of replies unread")
                     .arg(RawServer::MaxUnreadOutput));
            return;
        }
    }
    readLines();
}

void RawClient::drop(const QString &reason)
{
    serveLog(QStringLiteral("dropping client %1: %2").arg(peer, reason));
    socket->abort();
    leave();
}

void RawClient::leave()
{
    if (gone)
        return;
    gone = true;
    link.removeClient(id);
    deleteLater();
}
