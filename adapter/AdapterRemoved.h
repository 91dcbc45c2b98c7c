#pragma once

#include <stdexcept>

// The adapter was deleted under its session (by anyone): nothing more can
// pass through it, and a run cannot go on without it.
class AdapterRemoved : public std::runtime_error {
public:
    AdapterRemoved() : std::runtime_error("The virtual adapter was removed.") {}
};
