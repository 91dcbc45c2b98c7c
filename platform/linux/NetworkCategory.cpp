#include "platform/NetworkCategory.h"

#include "platform/linux/AdapterAlias.h"
#include "platform/linux/FirewallZone.h"
#include "platform/linux/Netlink.h"

void markNamedNetworksPrivate(std::u16string_view name) {
    std::vector<LinkSummary> links;
    if (listLinks(links) != 0)
        return;
    for (const auto& link : links) {
        auto identity = decodeAdapterAlias(link.alias);
        if (identity && identity->name == name)
            putInterfaceIntoHomeZone(link.name);
    }
}
