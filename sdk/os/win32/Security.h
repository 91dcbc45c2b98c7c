#pragma once

// Who this process runs as, and objects that only this user may reach.

#include <windows.h>

#include <string>
#include <vector>

namespace sdk::os::win32 {

// The user of this process's token, as a SID's bytes; empty when unknown.
std::vector<unsigned char> currentUserSid();
// The user of another process's token; empty when it cannot be read.
std::vector<unsigned char> processUserSid(DWORD processId);

// Security attributes that make this user the owner and give this user alone
// access: a protected list, so that nothing is inherited from the parent.
// Folders pass it on to what is made inside them.
class PrivateAttributes {
public:
    explicit PrivateAttributes(bool folder);
    ~PrivateAttributes();
    PrivateAttributes(const PrivateAttributes&) = delete;
    PrivateAttributes& operator=(const PrivateAttributes&) = delete;

    // Null when the user is unknown: callers then make nothing.
    SECURITY_ATTRIBUTES* get() { return descriptor ? &attributes : nullptr; }

private:
    SECURITY_ATTRIBUTES attributes{};
    PSECURITY_DESCRIPTOR descriptor = nullptr;
};

// Whether this user owns the object and its access list allows no one else
// (but the system).
bool ownedByThisUserAlone(PSECURITY_DESCRIPTOR descriptor);
// The same for the object a kernel handle names (a pipe).
bool handleOwnedByThisUser(HANDLE object);
// The same for a file or folder by name.
bool pathOwnedByThisUserAlone(const std::wstring& path);

} // namespace sdk::os::win32
