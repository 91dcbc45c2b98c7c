// Every lobby message a host or a member decodes: what decodes encodes back
// to the same bytes, and every name in it may be shown as it is.
#include "sdk/lobby/LobbyMessages.h"

#include <algorithm>
#include <cstdlib>

namespace {
bool namesValid(const sdk::lobby::LobbyMessage& message) {
    using namespace sdk::lobby;
    if (const auto* request = std::get_if<JoinRequest>(&message))
        return validUserName(request->name);
    if (const auto* joined = std::get_if<MemberJoined>(&message))
        return validUserName(joined->name);
    if (const auto* welcome = std::get_if<Welcome>(&message))
        return std::all_of(welcome->members.begin(), welcome->members.end(),
                           [](const MemberRecord& member) { return validUserName(member.name); });
    return true;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    if (const auto message = sdk::lobby::decodeLobbyMessage(bytes)) {
        const auto again = sdk::lobby::encodeLobbyMessage(*message);
        if (again.size() != size || !std::equal(again.begin(), again.end(), data))
            std::abort();
        if (!namesValid(*message))
            std::abort();
    }
    return 0;
}
