// Arbitrary bytes through the framing and both decoders: nothing may crash,
// and whatever decodes must encode back to a line that decodes the same.
#include "sdk/control/ControlProtocol.h"
#include "sdk/control/LineReader.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

void check(bool condition) {
    if (!condition)
        std::abort();
}

void checkLine(const std::string& line) {
    if (const auto decoded = decodeServerMessage(line); decoded.message) {
        std::string again = encodeServerMessage(*decoded.message);
        check(again.back() == '\n');
        again.pop_back();
        const auto redecoded = decodeServerMessage(again);
        check(redecoded.message && *redecoded.message == *decoded.message);
    } else {
        check(!decoded.error.empty());
    }
    if (const auto request = decodeJoinRequest(line); request.message) {
        std::string again = encodeJoinRequest(*request.message);
        again.pop_back();
        const auto redecoded = decodeJoinRequest(again);
        check(redecoded.message && *redecoded.message == *request.message);
        invitationProblem(request.message->invitation);
    }
    if (const auto request = decodeClientRequest(line); request.message) {
        const bool members = std::holds_alternative<MembersRequest>(*request.message);
        std::string again = members ? encodeMembersRequest()
                                    : encodeJoinRequest(std::get<JoinRequest>(*request.message));
        again.pop_back();
        const auto redecoded = decodeClientRequest(again);
        check(redecoded.message && *redecoded.message == *request.message);
    } else {
        check(!request.error.empty());
    }
    const std::string clean = sanitizeText(line, controlLimits::textBytes);
    check(isProtocolText(clean, controlLimits::textBytes));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    LineReader reader(controlLimits::lineBytes);
    // Two chunks, to cross the framing's chunk boundary too.
    reader.append(bytes.substr(0, size / 2));
    while (const auto line = reader.next())
        checkLine(*line);
    reader.append(bytes.substr(size / 2));
    while (const auto line = reader.next()) {
        check(line->size() <= controlLimits::lineBytes);
        checkLine(*line);
    }
    return 0;
}
