#include "replystep.h"

#include "connectionlog.h"

void ReplyStep::reset()
{
    outOfStep = false;
    markersOwed = 0;
    markerReply.reset();
}

void ReplyStep::ended(const QString &query, const std::optional<QByteArray> &reply)
{
    const bool marker =
        query.trimmed().compare(QLatin1String(MarkerQuery), Qt::CaseInsensitive) == 0;
    if (!reply) {
        outOfStep = true;
        if (marker)
            ++markersOwed;
    } else if (marker) {
        markerReply = *reply;
    }
}

bool ReplyStep::catchUp(const std::function<std::optional<QByteArray>()> &next, bool joinable)
{
    ++markersOwed;
    while (markersOwed > 0) {
        const std::optional<QByteArray> reply = next();
        if (!reply)
            return false;
        const QByteArray text = reply->trimmed();
        // Before the link has had one, only replies to the marker can come.
        if (!markerReply)
            markerReply = text;
        if (text == *markerReply)
            --markersOwed;
        else if (joinable && text.endsWith(*markerReply))
            // Silence may join replies into one; the last is the newest marker's.
            markersOwed = 0;
        else
            qCDebug(lcConnection) << "Reply dropped: it answers an earlier query";
    }
    outOfStep = false;
    return true;
}
