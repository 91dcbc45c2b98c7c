// Starting and stopping a program on Windows (the client window's way): the
// arguments arrive as given, spaces and quotes included, and a program that
// does not end when asked is ended. The child is this test program itself,
// running one of its disabled tests.

#include "sdk/os/Process.h"

#include <windows.h> // before the shell's header

#include <shellapi.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

using namespace sdk::os;
using namespace std::chrono_literals;

namespace {

const std::vector<std::string> awkward{
    "plain", "with space", "quote\"inside", "trailing\\", "back\\\\slashes\\\" and quote", ""};

std::string thisProgram() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return std::filesystem::path(path).string();
}

std::string reportPath() {
    return (std::filesystem::temp_directory_path() /
            ("vaskor-process-test-" + std::to_string(currentProcessId()) + ".txt"))
        .string();
}

// The child: writes the arguments after the filter, one a line, to the file
// its parent named, then waits to be stopped.
TEST(ProcessChild, DISABLED_ReportsArgumentsAndWaits) {
    const char* report = std::getenv("VASKOR_PROCESS_TEST_REPORT");
    ASSERT_NE(report, nullptr);
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    {
        std::ofstream out(std::string(report) + ".part", std::ios::binary);
        for (int i = 3; i < count; ++i) // program, filter, disabled switch
            out << std::filesystem::path(arguments[i]).string() << '\n';
    }
    LocalFree(arguments);
    std::filesystem::rename(std::string(report) + ".part", report);
    std::this_thread::sleep_for(60s);
}

TEST(Process, ArgumentsArriveAsGivenAndAStuckProgramIsEnded) {
    const std::string report = reportPath();
    std::filesystem::remove(report);
    _putenv_s("VASKOR_PROCESS_TEST_REPORT", report.c_str());
    std::vector<std::string> arguments{"--gtest_filter=ProcessChild.*",
                                       "--gtest_also_run_disabled_tests"};
    arguments.insert(arguments.end(), awkward.begin(), awkward.end());
    StartedProcess started = startProcess(thisProgram(), arguments);
    ASSERT_TRUE(started.process) << started.failure << " (" << GetLastError() << ")";

    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (!std::filesystem::exists(report) && started.process->running() &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(10ms);
    ASSERT_TRUE(std::filesystem::exists(report)) << "the child never reported";
    std::ifstream in(report, std::ios::binary);
    std::vector<std::string> got;
    for (std::string line; std::getline(in, line);)
        got.push_back(line);
    in.close();
    std::filesystem::remove(report);
    EXPECT_EQ(got, awkward);

    // It waits a minute; stopping it takes about the one second of grace.
    const ProcessId pid = started.process->processId();
    EXPECT_TRUE(started.process->running());
    const auto stopping = std::chrono::steady_clock::now();
    started.process.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - stopping, 10s);
    HANDLE gone = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
    if (gone) {
        EXPECT_EQ(WaitForSingleObject(gone, 0), WAIT_OBJECT_0) << "the child still runs";
        CloseHandle(gone);
    }
}

TEST(Process, MissingProgramFailsWithAReason) {
    StartedProcess started = startProcess("C:/no/such/program.exe", {});
    EXPECT_FALSE(started.process);
    EXPECT_FALSE(started.failure.empty());
    EXPECT_FALSE(isExecutable("C:/no/such/program.exe"));
    EXPECT_TRUE(isExecutable(thisProgram()));
    const auto folder = programDirectory();
    ASSERT_TRUE(folder);
    EXPECT_EQ(std::filesystem::path(*folder), std::filesystem::path(thisProgram()).parent_path());
    EXPECT_EQ(libraryDirectory(), programDirectory()) << "linked in: the program's module";
}

} // namespace
