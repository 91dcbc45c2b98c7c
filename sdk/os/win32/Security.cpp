#include "sdk/os/win32/Security.h"

#include <aclapi.h>
#include <sddl.h>

#include <cstring>

namespace sdk::os::win32 {

namespace {

std::vector<unsigned char> tokenUser(HANDLE token) {
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    if (size == 0)
        return {};
    std::vector<unsigned char> buffer(size);
    if (!GetTokenInformation(token, TokenUser, buffer.data(), size, &size))
        return {};
    const PSID sid = reinterpret_cast<const TOKEN_USER*>(buffer.data())->User.Sid;
    if (!IsValidSid(sid))
        return {};
    const auto* bytes = static_cast<const unsigned char*>(sid);
    return {bytes, bytes + GetLengthSid(sid)};
}

std::vector<unsigned char> userOfProcess(HANDLE process) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(process, TOKEN_QUERY, &token))
        return {};
    auto sid = tokenUser(token);
    CloseHandle(token);
    return sid;
}

bool isThisUser(PSID sid, const std::vector<unsigned char>& user) {
    return sid && IsValidSid(sid) && !user.empty() && GetLengthSid(sid) == user.size() &&
           std::memcmp(sid, user.data(), user.size()) == 0;
}

std::wstring sidText(std::vector<unsigned char>& sid) {
    wchar_t* text = nullptr;
    if (!ConvertSidToStringSidW(sid.data(), &text))
        return {};
    std::wstring result = text;
    LocalFree(text);
    return result;
}

} // namespace

std::vector<unsigned char> currentUserSid() {
    return userOfProcess(GetCurrentProcess());
}

std::vector<unsigned char> processUserSid(DWORD processId) {
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    if (!process)
        return {};
    auto sid = userOfProcess(process);
    CloseHandle(process);
    return sid;
}

PrivateAttributes::PrivateAttributes(bool folder) {
    auto user = currentUserSid();
    const std::wstring sid = user.empty() ? std::wstring() : sidText(user);
    if (sid.empty())
        return;
    // Owner: the user; protected list (P): one entry, all access, for the user;
    // in a folder inherited by files (OI) and folders (CI) made inside.
    const std::wstring text =
        L"O:" + sid + L"D:P(A;" + (folder ? L"OICI" : L"") + L";GA;;;" + sid + L")";
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(text.c_str(), SDDL_REVISION_1,
                                                              &descriptor, nullptr))
        descriptor = nullptr;
    attributes.nLength = sizeof attributes;
    attributes.lpSecurityDescriptor = descriptor;
    attributes.bInheritHandle = FALSE;
}

PrivateAttributes::~PrivateAttributes() {
    if (descriptor)
        LocalFree(descriptor);
}

bool ownedByThisUserAlone(PSECURITY_DESCRIPTOR descriptor) {
    const auto user = currentUserSid();
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    if (!GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) || !isThisUser(owner, user))
        return false;
    BOOL present = FALSE;
    PACL list = nullptr;
    if (!GetSecurityDescriptorDacl(descriptor, &present, &list, &defaulted) || !present || !list)
        return false; // no list at all lets everyone in
    ACL_SIZE_INFORMATION size{};
    if (!GetAclInformation(list, &size, sizeof size, AclSizeInformation))
        return false;
    for (DWORD i = 0; i < size.AceCount; ++i) {
        void* entry = nullptr;
        if (!GetAce(list, i, &entry))
            return false;
        const auto* header = static_cast<const ACE_HEADER*>(entry);
        if (header->AceType == ACCESS_DENIED_ACE_TYPE)
            continue;
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE)
            return false; // callbacks and objects' entries: not ours to judge
        auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
        const PSID sid = reinterpret_cast<PSID>(&allowed->SidStart);
        // The system itself may enter every folder (Wine lists it always).
        if (!isThisUser(sid, user) && !IsWellKnownSid(sid, WinLocalSystemSid))
            return false;
    }
    return true;
}

bool handleOwnedByThisUser(HANDLE object) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(object, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                        nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    // Windows always names a pipe's owner. Wine names none: there the pipes
    // live in the wine server of this system user alone, which no other
    // user's process reaches.
    const bool same = !owner || isThisUser(owner, currentUserSid());
    LocalFree(descriptor);
    return same;
}

bool pathOwnedByThisUserAlone(const std::wstring& path) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT,
                              OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr,
                              nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    const bool alone = ownedByThisUserAlone(descriptor);
    LocalFree(descriptor);
    return alone;
}

} // namespace sdk::os::win32
