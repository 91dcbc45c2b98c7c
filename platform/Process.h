#pragma once

// True when a 32-bit build runs on a 64-bit Windows (WOW64); always false on Linux.
bool isWow64Process();
