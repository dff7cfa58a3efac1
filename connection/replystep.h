#ifndef REPLYSTEP_H
#define REPLYSTEP_H

#include <QByteArray>
#include <QString>
#include <functional>
#include <optional>

// Whether the replies read from a link answer the queries sent on it.
// Replies do not say which query they answer, so once a query has given up,
// its reply may still come and would be taken for the next query's. The
// marker's reply is the one reply known to answer a query sent now; every
// reply before it answers an earlier query. One object per link.
class ReplyStep
{
public:
    // Sent to get back in step; the instrument answers it with the same
    // reply every time.
    static constexpr char MarkerQuery[] = "*IDN?";

    // A new link: in step, no marker owed, the marker's reply not known.
    void reset();
    bool inStep() const { return !outOfStep; }
    // Replies of earlier queries may still come (a cut reply, a give-up).
    void lose() { outOfStep = true; }
    // `query` got `reply`, trimmed; none when it gave up.
    void ended(const QString &query, const std::optional<QByteArray> &reply);
    // After MarkerQuery was sent to catch up: reads replies with `next`
    // (none when one did not come in time) and drops those of earlier
    // queries until every marker owed has had its own. `joinable`: silence,
    // not a line feed, ends the instrument's replies, so several may come
    // joined in one. False, still out of step, when a reply did not come.
    bool catchUp(const std::function<std::optional<QByteArray>()> &next, bool joinable);

private:
    bool outOfStep = false;
    // Marker queries sent whose reply has not been read.
    int markersOwed = 0;
    // The link's reply to MarkerQuery; none before the first.
    std::optional<QByteArray> markerReply;
};

#endif
