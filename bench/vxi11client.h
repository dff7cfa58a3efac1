#ifndef VXI11CLIENT_H
#define VXI11CLIENT_H

#include "rpcwire.h"

#include <QTcpSocket>
#include <memory>

// A minimal blocking VXI-11 client on one device link: the cost floor of a
// query over the core channel, as a script's VISA library would pay it.
class Vxi11Client
{
public:
    // Connects to the core channel on a loopback port and creates a link.
    bool open(quint16 port);
    // device_write of `text` with END, then device_read until END.
    bool query(const QByteArray &text);

private:
    // The results of one call, null when it failed.
    std::unique_ptr<XdrReader> call(quint32 procedure, const QByteArray &arguments);

    QTcpSocket socket;
    RpcRecordReader reader{1024 * 1024};
    QByteArray reply;
    quint32 xid = 0;
    qint32 link = 0;
};

#endif
