#pragma once

#include "interfaces/WintunTypes.h"

#include <string_view>

// The library's one logger, set by WintunSetLogger; null logs nowhere.
void setLogger(WintunLoggerCallback logger);

// Logs at error level "<what>: <the system's text for error>", sets errno to
// error (how this library reports failures) and returns it.
int logFailure(std::string_view what, int error);
