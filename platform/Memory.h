#pragma once

// Page memory for the in-memory loader, with the Windows page model on every
// system: a block is reserved and committed at once, parts of it are
// re-committed, protected or decommitted, and the whole block is released.

#include <cstddef>
#include <cstdint>

// Windows page-protection values; the loader's section table is written in them.
constexpr std::uint32_t pageNoAccess = 0x01;
constexpr std::uint32_t pageReadOnly = 0x02;
constexpr std::uint32_t pageReadWrite = 0x04;
constexpr std::uint32_t pageWriteCopy = 0x08;
constexpr std::uint32_t pageExecute = 0x10;
constexpr std::uint32_t pageExecuteRead = 0x20;
constexpr std::uint32_t pageExecuteReadWrite = 0x40;
constexpr std::uint32_t pageExecuteWriteCopy = 0x80;
constexpr std::uint32_t pageNoCache = 0x200;

std::size_t memoryPageSize();

// Reserves and commits size bytes of zeroed read-write memory exactly at
// preferred, or anywhere when preferred is null. Null when that is not possible.
void* reserveAndCommitPages(void* preferred, std::size_t size);

// Commits pages inside a block as read-write; true on success.
bool commitPages(void* address, std::size_t size);

// Sets the protection of the pages that hold [address, address + size).
bool protectPages(void* address, std::size_t size, std::uint32_t protection);

// Gives the pages back to the system; they stay reserved but inaccessible.
bool decommitPages(void* address, std::size_t size);

// Releases a whole block returned by reserveAndCommitPages.
void releasePages(void* block, std::size_t size);
