#pragma once

// Who runs this process.

#include <string>

namespace sdk::os {

// The login name of the current user: the user database's, else the
// environment's, else "user".
std::string loginName();

} // namespace sdk::os
