#include "requestqueue.h"

void SharedLink::RequestQueue::push(const Request &request, bool first)
{
    Line &line = lines[request.client];
    if (line.requests.empty() && request.client != 0)
        turns.insert({line.served, request.client});
    if (first)
        line.requests.push_front(request);
    else
        line.requests.push_back(request);
    line.bytes += request.text.size();
    total += request.text.size();
}

std::optional<SharedLink::Request> SharedLink::RequestQueue::takeNext(ClientId lockHolder)
{
    const auto own = lines.find(0);
    if (own != lines.end() && !own->requests.empty())
        return takeFront(*own);
    const ClientId next = lockHolder != 0 ? lockHolder : turns.empty() ? 0 : turns.begin()->second;
    const auto found = lines.find(next);
    if (next == 0 || found == lines.end() || found->requests.empty())
        return std::nullopt;
    // Served now, the client goes behind every other one waiting.
    turns.erase({found->served, next});
    found->served = ++servedCount;
    Request request = takeFront(*found);
    if (!found->requests.empty())
        turns.insert({found->served, next});
    return request;
}

QList<SharedLink::Request>
SharedLink::RequestQueue::takeIf(const std::function<bool(Request &)> &taken)
{
    QList<Request> out;
    for (auto line = lines.begin(); line != lines.end(); ++line) {
        if (line->requests.empty())
            continue;
        std::deque<Request> kept;
        for (Request &request : line->requests) {
            if (!taken(request)) {
                kept.push_back(std::move(request));
                continue;
            }
            line->bytes -= request.text.size();
            total -= request.text.size();
            out.append(request);
        }
        line->requests.swap(kept);
        if (line->requests.empty())
            turns.erase({line->served, line.key()});
    }
    return out;
}

void SharedLink::RequestQueue::drop(ClientId client, bool gone)
{
    const auto line = lines.find(client);
    if (line == lines.end())
        return;
    total -= line->bytes;
    line->bytes = 0;
    line->requests.clear();
    turns.erase({line->served, client});
    if (gone)
        lines.erase(line);
}

qint64 SharedLink::RequestQueue::bytes() const
{
    return total;
}

qint64 SharedLink::RequestQueue::bytes(ClientId client) const
{
    const auto line = lines.constFind(client);
    return line == lines.constEnd() ? 0 : line->bytes;
}

SharedLink::Request SharedLink::RequestQueue::takeFront(Line &line)
{
    Request request = std::move(line.requests.front());
    line.requests.pop_front();
    line.bytes -= request.text.size();
    total -= request.text.size();
    return request;
}
