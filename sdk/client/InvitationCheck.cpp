#include "sdk/client/InvitationCheck.h"

#include "sdk/control/ControlProtocol.h"
#include "sdk/lobby/JoinSecret.h"

std::optional<std::string> invitationRefusal(std::string_view text) {
    if (auto problem = invitationProblem(text))
        return problem;
    if (!sdk::lobby::parseJoinSecret(text))
        return "this is not a valid invitation: part of it is missing or mistyped (its check "
               "value does not match); copy the whole invitation again";
    return std::nullopt;
}
