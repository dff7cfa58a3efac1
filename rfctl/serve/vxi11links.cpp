#include "vxi11links.h"

#include <algorithm>

Vxi11Links::~Vxi11Links()
{
    for (const Vxi11Link &l : qAsConst(links))
        shared->removeClient(l.client);
}

Vxi11Link *Vxi11Links::find(qint32 id)
{
    const auto it = links.find(id);
    return it == links.end() ? nullptr : &it.value();
}

qint32 Vxi11Links::create(const QString &peer, const void *owner)
{
    const auto owned = std::count_if(links.cbegin(), links.cend(),
                                     [owner](const Vxi11Link &l) { return l.owner == owner; });
    if (links.size() >= MaxLinks || owned >= MaxLinksPerConnection)
        return 0;
    // Ids stay positive and are not reused soon, so a stale id from a
    // closed link does not reach a new one.
    do
        lastId = lastId == INT32_MAX ? 1 : lastId + 1;
    while (links.contains(lastId));
    Vxi11Link &l = links[lastId];
    l.client = shared->addClient(peer);
    l.owner = owner;
    return lastId;
}

void Vxi11Links::destroy(qint32 id)
{
    const auto it = links.find(id);
    if (it == links.end())
        return;
    shared->removeClient(it->client);
    links.erase(it);
}

void Vxi11Links::destroyOwnedBy(const void *owner)
{
    for (auto it = links.begin(); it != links.end();) {
        if (it->owner == owner) {
            shared->removeClient(it->client);
            it = links.erase(it);
        } else {
            ++it;
        }
    }
}
