// The control channel on Windows: named pipes behind the socket-like seam,
// reachable by this user alone, and the readiness that the core sleeps on.

#include "sdk/os/LocalSocket.h"
#include "sdk/os/Process.h"
#include "sdk/os/RuntimeDirectory.h"
#include "sdk/os/SocketWatch.h"
#include "sdk/os/WaitSet.h"
#include "sdk/os/win32/Pipe.h"

#include <aclapi.h>
#include <sddl.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <filesystem>
#include <string>

using namespace sdk::os;
using namespace std::chrono_literals;

namespace {

constexpr DWORD patience = 5000; // ms; a condition, not a time: the wait ends when it holds

HANDLE eventOf(Handle handle) {
    return reinterpret_cast<HANDLE>(handle);
}

bool isSet(Handle handle, DWORD within = 0) {
    return WaitForSingleObject(eventOf(handle), within) == WAIT_OBJECT_0;
}

std::string temporaryFolder() {
    wchar_t text[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathW(MAX_PATH + 1, text);
    std::string path = std::filesystem::path(std::wstring(text, length)).generic_string();
    while (path.ends_with("/"))
        path.pop_back();
    return path;
}

// A private folder of the test's own, removed afterwards.
class ControlPipeTest : public ::testing::Test {
protected:
    void SetUp() override {
        usual = temporaryFolder() + "/vaskor-pipe-test-" + std::to_string(currentProcessId());
        std::string failure;
        folder = privateDirectoryFor(usual, failure);
        ASSERT_FALSE(folder.empty()) << failure;
    }
    void TearDown() override {
        std::error_code ignored;
        for (const auto& made : privateDirectoriesFor(usual))
            std::filesystem::remove_all(made, ignored);
        std::filesystem::remove_all(usual, ignored);
    }

    std::string pathOf(const std::string& name) const { return folder + "/" + name; }

    // A listener and one accepted client of it.
    struct Pair {
        OwnedHandle listener, client, server;
    };
    Pair connectedPair(const std::string& name) {
        Pair pair;
        std::string failure;
        pair.listener = listenLocalSocketIfFree(pathOf(name), failure);
        EXPECT_TRUE(pair.listener.valid()) << failure;
        std::error_code error;
        pair.client = connectLocalSocketWithin(pathOf(name), 1000ms, error);
        EXPECT_TRUE(pair.client.valid()) << error.message();
        pair.server = acceptLocalSocket(pair.listener.get(), error);
        EXPECT_TRUE(pair.server.valid()) << error.message();
        return pair;
    }

    std::string usual;
    std::string folder;
};

// Reads what waits, waiting on the end for up to patience.
std::string receiveAll(Handle end, std::size_t wanted) {
    std::string got;
    std::array<char, 4096> buffer{};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(patience);
    while (got.size() < wanted && std::chrono::steady_clock::now() < deadline) {
        const Transfer transfer = receiveSome(end, buffer);
        if (transfer.status == Transfer::Status::ended)
            break;
        if (transfer.status == Transfer::Status::wouldBlock)
            waitForSocket(end, false, 100ms);
        else
            got.append(buffer.data(), transfer.bytes);
    }
    return got;
}

TEST_F(ControlPipeTest, ClientAndCoreTalkBothWaysAndTheCoreKnowsItsUser) {
    Pair pair = connectedPair("talk.sock");
    ASSERT_TRUE(pair.server.valid());
    EXPECT_TRUE(peerIsThisUser(pair.server.get()));
    std::array<char, 16> buffer{};
    EXPECT_EQ(receiveSome(pair.server.get(), buffer).status, Transfer::Status::wouldBlock);

    // More than one write takes and more than the pipe holds: all of it, in order.
    std::string request(200 * 1024, '\0');
    for (std::size_t i = 0; i < request.size(); ++i)
        request[i] = static_cast<char>('a' + i % 26);
    std::size_t sent = 0;
    std::string got;
    std::array<char, 8192> chunk{};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(patience);
    while (got.size() < request.size() && std::chrono::steady_clock::now() < deadline) {
        if (sent < request.size()) {
            const Transfer out =
                sendSome(pair.client.get(), std::string_view(request).substr(sent));
            ASSERT_NE(out.status, Transfer::Status::ended);
            if (out.status == Transfer::Status::done)
                sent += out.bytes;
        }
        const Transfer in = receiveSome(pair.server.get(), chunk);
        ASSERT_NE(in.status, Transfer::Status::ended);
        if (in.status == Transfer::Status::done)
            got.append(chunk.data(), in.bytes);
        else
            waitForSocket(pair.server.get(), false, 10ms);
    }
    EXPECT_EQ(got, request);

    ASSERT_EQ(sendSome(pair.server.get(), "state\n").status, Transfer::Status::done);
    EXPECT_EQ(receiveAll(pair.client.get(), 6), "state\n");
}

TEST_F(ControlPipeTest, EitherEndClosingOrStoppingEndsTheOther) {
    Pair closing = connectedPair("close.sock");
    ASSERT_EQ(sendSome(closing.client.get(), "last\n").status, Transfer::Status::done);
    closing.client.reset();
    // What was written before the close still arrives, then the end.
    EXPECT_EQ(receiveAll(closing.server.get(), 100), "last\n");
    std::array<char, 8> buffer{};
    EXPECT_EQ(receiveSome(closing.server.get(), buffer).status, Transfer::Status::ended);

    Pair stopping = connectedPair("stop.sock");
    stopReading(stopping.server.get());
    EXPECT_EQ(receiveSome(stopping.server.get(), buffer).status, Transfer::Status::ended);
    // Its answers still go.
    ASSERT_EQ(sendSome(stopping.server.get(), "bye\n").status, Transfer::Status::done);
    EXPECT_EQ(receiveAll(stopping.client.get(), 4), "bye\n");
}

TEST_F(ControlPipeTest, PathsAreTakenOnceAndLeftOversReplaced) {
    std::string failure;
    const std::string path = pathOf("core.sock");
    OwnedHandle first = listenLocalSocketIfFree(path, failure);
    ASSERT_TRUE(first.valid()) << failure;
    std::error_code error;
    EXPECT_TRUE(fileIdentity(path, error)) << error.message();

    EXPECT_FALSE(listenLocalSocketIfFree(path, failure).valid());
    EXPECT_EQ(failure, "") << "a taken path is no failure, only not free";
    EXPECT_FALSE(listenLocalSocket(path, failure).valid());
    EXPECT_NE(failure.find("already listens"), std::string::npos) << failure;

    // The core is gone and its marker left behind: refused as such, and replaced.
    first.reset();
    EXPECT_FALSE(connectLocalSocketWithin(path, 0ms, error).valid());
    EXPECT_EQ(error, std::errc::connection_refused) << error.message();
    EXPECT_FALSE(listenLocalSocketIfFree(path, failure).valid());
    OwnedHandle second = listenLocalSocket(path, failure);
    EXPECT_TRUE(second.valid()) << failure;

    EXPECT_FALSE(connectLocalSocketWithin(pathOf("nobody.sock"), 0ms, error).valid());
    EXPECT_EQ(error, std::errc::no_such_file_or_directory) << error.message();

    // Someone's file is never taken for a left-over.
    HANDLE file = CreateFileW(std::filesystem::path(pathOf("data.sock")).c_str(), GENERIC_WRITE, 0,
                              nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(file, "keep", 4, &written, nullptr);
    CloseHandle(file);
    EXPECT_FALSE(listenLocalSocket(pathOf("data.sock"), failure).valid());
    EXPECT_NE(failure.find("in the way"), std::string::npos) << failure;
    EXPECT_EQ(std::filesystem::file_size(pathOf("data.sock")), 4u);

    // Only the file of the identity is removed.
    const auto identity = fileIdentity(path, error);
    ASSERT_TRUE(identity);
    removeSocketFile(pathOf("data.sock"), *identity);
    EXPECT_TRUE(std::filesystem::exists(pathOf("data.sock")));
    second.reset();
    removeSocketFile(path, *identity);
    EXPECT_FALSE(std::filesystem::exists(path));
}

// What the core sleeps on: the set's event, forwarded into the wait handle.
TEST_F(ControlPipeTest, WaitHandleWakesForAClientAndARequestAndIsQuietOtherwise) {
    std::string failure;
    OwnedHandle listener = listenLocalSocketIfFree(pathOf("wait.sock"), failure);
    ASSERT_TRUE(listener.valid()) << failure;
    SocketWatch set;
    ASSERT_TRUE(set.valid());
    ASSERT_TRUE(set.add(listener.get()));
    WaitSet waitSet;
    waitSet.watch(set.handle());
    std::array<Handle, 4> ready{};
    const auto pass = [&] {
        const std::size_t count = set.takeReady(ready);
        waitSet.clearWakeUp();
        return count;
    };
    // Quiet: both handles clear once what was still under way (an operation
    // that finishes late, a forwarding on the thread pool: an early wake-up,
    // which costs one empty pass) has come and been taken. An end that stays
    // ready with nothing to read never gets there: the core would spin.
    const auto quiet = [&] {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(patience);
        while ((isSet(set.handle()) || isSet(waitSet.handle())) &&
               std::chrono::steady_clock::now() < deadline) {
            set.takeReady(ready);
            waitSet.clearWakeUp();
        }
        return !isSet(set.handle()) && !isSet(waitSet.handle());
    };
    pass();
    pass(); // the first pass may see the start of the operations
    EXPECT_TRUE(quiet()) << "an idle channel leaves the handle quiet";

    std::error_code error;
    OwnedHandle client = connectLocalSocketWithin(pathOf("wait.sock"), 1000ms, error);
    ASSERT_TRUE(client.valid()) << error.message();
    ASSERT_TRUE(isSet(waitSet.handle(), patience)) << "a new client wakes the core";
    ASSERT_EQ(pass(), 1u);
    EXPECT_EQ(ready[0], listener.get());
    OwnedHandle server = acceptLocalSocket(listener.get(), error);
    ASSERT_TRUE(server.valid()) << error.message();
    ASSERT_TRUE(set.add(server.get()));
    pass();
    pass();
    EXPECT_TRUE(quiet());

    ASSERT_EQ(sendSome(client.get(), "join x\n").status, Transfer::Status::done);
    ASSERT_TRUE(isSet(waitSet.handle(), patience)) << "a request wakes the core";
    ASSERT_EQ(pass(), 1u);
    EXPECT_EQ(ready[0], server.get());
    EXPECT_EQ(receiveAll(server.get(), 7), "join x\n");
    pass();
    pass();
    EXPECT_TRUE(quiet()) << "a request taken leaves the handle quiet";

    // A client that leaves wakes the core too, and the end reads as ended.
    client.reset();
    ASSERT_TRUE(isSet(waitSet.handle(), patience));
    ASSERT_EQ(pass(), 1u);
    std::array<char, 8> buffer{};
    EXPECT_EQ(receiveSome(server.get(), buffer).status, Transfer::Status::ended);
    set.remove(server.get());
    server.reset();
    pass();
    pass();
    EXPECT_TRUE(quiet());
}

// Closing a watched end without removing it first leaves the set whole.
TEST_F(ControlPipeTest, EndClosedWhileWatchedLeavesTheSet) {
    Pair pair = connectedPair("gone.sock");
    SocketWatch set;
    ASSERT_TRUE(set.add(pair.server.get()));
    EXPECT_FALSE(set.add(pair.server.get())) << "an end is in one set once";
    pair.server.reset();
    std::array<Handle, 4> ready{};
    EXPECT_EQ(set.takeReady(ready), 0u);
}

// This process's user as SDDL writes it.
std::wstring userText() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return {};
    std::array<unsigned char, 256> buffer{};
    DWORD size = 0;
    std::wstring text;
    if (GetTokenInformation(token, TokenUser, buffer.data(), buffer.size(), &size)) {
        wchar_t* sid = nullptr;
        if (ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &sid)) {
            text = sid;
            LocalFree(sid);
        }
    }
    CloseHandle(token);
    return text;
}

std::wstring textOf(PSECURITY_DESCRIPTOR descriptor, SECURITY_INFORMATION parts) {
    wchar_t* text = nullptr;
    if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1, parts,
                                                              &text, nullptr))
        return {};
    std::wstring copy = text;
    LocalFree(text);
    return copy;
}

// A folder that others may enter is never used; one beside it is made.
TEST_F(ControlPipeTest, FolderOthersMayEnterIsPassedOver) {
    const std::string open = usual + "-open";
    PSECURITY_DESCRIPTOR everyone = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
        L"D:(A;OICI;GA;;;WD)", SDDL_REVISION_1, &everyone, nullptr));
    SECURITY_ATTRIBUTES attributes{sizeof attributes, everyone, FALSE};
    ASSERT_TRUE(CreateDirectoryW(std::filesystem::path(open).c_str(), &attributes));
    LocalFree(everyone);
    PSECURITY_DESCRIPTOR seen = nullptr;
    ASSERT_EQ(GetNamedSecurityInfoW(std::filesystem::path(open).c_str(), SE_FILE_OBJECT,
                                    DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr, nullptr,
                                    &seen),
              ERROR_SUCCESS);
    const std::wstring list = textOf(seen, DACL_SECURITY_INFORMATION);
    LocalFree(seen);
    std::string failure;
    const std::string chosen = privateDirectoryFor(open, failure);
    std::error_code ignored;
    for (const auto& made : privateDirectoriesFor(open))
        std::filesystem::remove_all(made, ignored);
    std::filesystem::remove_all(open, ignored);
    if (list.find(L";WD)") == std::wstring::npos)
        GTEST_SKIP() << "this system keeps no access list for folders (Wine derives one from "
                        "the Unix mode): "
                     << std::filesystem::path(list).string();
    EXPECT_NE(chosen, open);
    EXPECT_TRUE(isPrivateDirectoryName(chosen, open)) << chosen << " " << failure;
}

// The pipe and its marker file let in this user alone: every entry of their
// access lists names the user (or the system itself).
TEST_F(ControlPipeTest, PipeAndMarkerListThisUserAlone) {
    Pair pair = connectedPair("acl.sock");
    ASSERT_TRUE(pair.server.valid());
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_EQ(GetSecurityInfo(sdk::os::win32::pipeEndOf(pair.server.get())->pipe, SE_KERNEL_OBJECT,
                              DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr, nullptr,
                              &descriptor),
              ERROR_SUCCESS);
    const std::wstring pipeList = textOf(descriptor, DACL_SECURITY_INFORMATION);
    LocalFree(descriptor);
    ASSERT_EQ(GetNamedSecurityInfoW(std::filesystem::path(pathOf("acl.sock")).c_str(),
                                    SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                    nullptr, nullptr, &descriptor),
              ERROR_SUCCESS);
    const std::wstring markerList = textOf(descriptor, DACL_SECURITY_INFORMATION);
    LocalFree(descriptor);
    const std::wstring user = userText();
    ASSERT_FALSE(user.empty());
    for (const std::wstring& list : {pipeList, markerList}) {
        SCOPED_TRACE(std::filesystem::path(list).string());
        EXPECT_TRUE(list.starts_with(L"D:")) << "an access list is there";
        // Each entry: (type;flags;rights;;;sid)
        std::size_t entries = 0;
        for (std::size_t open = list.find(L'('); open != std::wstring::npos;
             open = list.find(L'(', open + 1)) {
            const std::size_t close = list.find(L')', open);
            const std::wstring entry = list.substr(open + 1, close - open - 1);
            const std::wstring sid = entry.substr(entry.rfind(L';') + 1);
            if (entry.starts_with(L"A;")) {
                EXPECT_TRUE(sid == user || sid == L"SY") << std::filesystem::path(entry).string();
            }
            ++entries;
        }
        EXPECT_GT(entries, 0u) << "an empty list would let no one in, the user included";
    }
}

} // namespace
