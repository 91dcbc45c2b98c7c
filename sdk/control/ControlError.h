#pragma once

#include <stdexcept>

// A control socket failure, with a text for a person.
class ControlError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
