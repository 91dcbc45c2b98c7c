#pragma once

// The unwind data of an image that the program mapped itself: the system's
// exception dispatcher finds a function's unwind information only in the
// images its own loader mapped and in the tables registered here, and an
// exception thrown through a function it cannot find ends the process.

#include <cstdint>

// Registers count function entries (the image's exception directory, already
// checked to lie inside it) for code at imageBase. False when the system
// cannot take the table.
bool registerUnwindTable(void* table, std::uint32_t count, void* imageBase);

// Removes a table registered with registerUnwindTable.
void unregisterUnwindTable(void* table);
