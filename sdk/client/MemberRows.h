#pragma once

// One lobby member as a person reads it, the same in the window and on the
// command line: name, direct or relayed, the endpoint in use, the round trip.

#include "sdk/control/ControlProtocol.h"

#include <string>
#include <vector>

// "name<TAB>path<TAB>endpoint<TAB>round trip"; "-" where there is none.
std::string memberRow(const MemberMessage& member);
// Every member's row, one a line; a line saying so when there is no lobby.
std::string memberRows(const std::vector<MemberMessage>& members);
