#include "requestqueue.h"

void SharedLink::RequestQueue::push(const Request &request, bool first)
{
    queue.insert(first ? 0 : queue.size(), request);
    total += request.text.size();
    perClient[request.client] += request.text.size();
}

std::optional<SharedLink::Request> SharedLink::RequestQueue::takeNext(ClientId lockHolder)
{
    for (int i = 0; i < queue.size(); ++i) {
        const ClientId client = queue.at(i).client;
        if (client == 0 || lockHolder == 0 || client == lockHolder)
            return takeAt(i);
    }
    return std::nullopt;
}

QList<SharedLink::Request>
SharedLink::RequestQueue::takeIf(const std::function<bool(Request &)> &taken)
{
    QList<Request> out;
    for (int i = 0; i < queue.size();) {
        if (taken(queue[i]))
            out.append(takeAt(i));
        else
            ++i;
    }
    return out;
}

void SharedLink::RequestQueue::drop(ClientId client)
{
    takeIf([client](const Request &r) { return r.client == client; });
    perClient.remove(client);
}

qint64 SharedLink::RequestQueue::bytes() const
{
    return total;
}

qint64 SharedLink::RequestQueue::bytes(ClientId client) const
{
    return perClient.value(client);
}

SharedLink::Request SharedLink::RequestQueue::takeAt(int index)
{
    Request request = queue.takeAt(index);
    total -= request.text.size();
    perClient[request.client] -= request.text.size();
    return request;
}
