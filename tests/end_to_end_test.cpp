// end_to_end_test.cpp - the real executable, run in the emulated device.

#include "cannot_run_here.h"
#include "emulated_device.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

using emulated::AppInfo;
using emulated::Service;
using std::chrono::milliseconds;

namespace {

const char* const set_file = "huawei_fac_info: 0x1a\ncharge_flag: 1\nboard_id: 3\n";
const char* const unset_file = "huawei_fac_info: 0x1a\ncharge_flag: 0\nboard_id: 3\n";

struct Case {
    const char* name;
    AppInfo app_info;
    std::string contents;
    Service service;
    std::string out; // all the program may print
    const char* property; // what pavoki.charging reads afterwards; nullptr: never stored
    std::vector<std::string> args = {};
    std::vector<emulated::FifoPiece> fifo_pieces = {};
    milliseconds at_least = milliseconds(0);
    std::vector<std::string> wrapper = {};
};

// Holds the program's send back long enough for a service that hangs up at
// once to be gone before the message goes out.
const std::vector<std::string> delay_the_send
    = { "strace", "-f", "-qq", "-o", "/dev/null", "-e", "inject=sendto:delay_enter=200000" };

const Case cases[] = {
    { "flag_set", AppInfo::file, set_file, Service::serve, "Charge Flag: 1", "true" },
    { "flag_not_set", AppInfo::file, unset_file, Service::serve, "", "false" },
    { "key_absent", AppInfo::file, "board_id: 3\n", Service::serve, "", "false" },
    { "empty_file", AppInfo::file, "", Service::serve, "", "false" },
    { "file_missing", AppInfo::absent, "", Service::serve,
        "could not open /proc/app_info:No such file or directory", "false" },
    { "file_unreadable", AppInfo::unreadable, set_file, Service::serve,
        "could not open /proc/app_info:Permission denied", "false" },
    { "directory_in_its_place", AppInfo::directory, "", Service::serve,
        "could not read /proc/app_info:Is a directory", "false" },
    { "symlink_to_set_file", AppInfo::symlink, set_file, Service::serve, "Charge Flag: 1", "true" },
    { "arguments_ignored", AppInfo::file, set_file, Service::serve, "Charge Flag: 1", "true",
        { "--help", "-v", "charge_flag: 0", "" } },
    { "slow_file_read_once", AppInfo::fifo, "", Service::serve, "", "false", {},
        { { milliseconds(100), "board_id: 3\n" }, { milliseconds(300), "charge_flag: 1\n" } } },
    { "slow_file_flag_set", AppInfo::fifo, "", Service::serve, "Charge Flag: 1", "true", {},
        { { milliseconds(100), set_file } } },
    { "service_absent", AppInfo::file, set_file, Service::absent, "Charge Flag: 1", nullptr },
    { "service_not_listening", AppInfo::file, set_file, Service::not_listening, "Charge Flag: 1", nullptr },
    { "service_hangs_up_at_once", AppInfo::file, set_file, Service::hang_up_at_once, "Charge Flag: 1",
        nullptr },
    { "service_gone_before_the_message", AppInfo::file, set_file, Service::hang_up_at_once, "Charge Flag: 1",
        nullptr, {}, {}, milliseconds(200), delay_the_send },
    { "service_slow", AppInfo::file, unset_file, Service::slow, "", "false", {}, {},
        milliseconds(stub::slow_delay_ms) },
    { "service_never_closes", AppInfo::file, set_file, Service::never_close, "Charge Flag: 1", "true", {}, {},
        milliseconds(250) },
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

// The same program for this machine and for the device's ARMv7-A core, the
// latter run under CPU emulation: both must behave alike in every case.
struct Executable {
    const char* name;
    const char* path;
};

const Executable executables[] = {
    { "host", CHARGE_PROBE_PATH },
    { "armv7", ARMV7_CHARGE_PROBE_PATH },
};

void PrintTo(const Executable& e, std::ostream* os) { *os << e.path; }

class EndToEnd : public ::testing::TestWithParam<std::tuple<Executable, Case>> { };

TEST_P(EndToEnd, RunsAsOnTheDevice)
{
    const auto& [executable, c] = GetParam();
    if (!std::filesystem::exists(executable.path))
        CANNOT_RUN_HERE(std::string(executable.path) + " is not built; script/test builds it");
    emulated::Device device;
    device.executable = executable.path;
    device.args = c.args;
    device.app_info = c.app_info;
    device.contents = c.contents;
    device.fifo_pieces = c.fifo_pieces;
    device.service = c.service;
    device.wrapper = c.wrapper;

    emulated::Run run = emulated::run(device);
    if (!run.unavailable.empty())
        CANNOT_RUN_HERE("the emulated device cannot run here: " + run.unavailable);

    EXPECT_EQ(run.signal, 0);
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(run.err, "");
    if (c.property) {
        // Written once, and whole.
        ASSERT_EQ(run.requests.size(), 1u);
        EXPECT_TRUE(run.requests[0].complete());
        EXPECT_EQ(run.requests[0].command(), 1u);
        EXPECT_EQ(run.requests[0].name(), "pavoki.charging");
        EXPECT_EQ(run.requests[0].value(), c.property);
    } else {
        EXPECT_TRUE(run.requests.empty());
    }
    EXPECT_GE(run.elapsed, c.at_least);
    // However the service behaves, the program does not linger.
    EXPECT_LT(run.elapsed, c.at_least + milliseconds(2000));
}

INSTANTIATE_TEST_SUITE_P(Table, EndToEnd,
    ::testing::Combine(::testing::ValuesIn(executables), ::testing::ValuesIn(cases)),
    [](const auto& p) { return std::string(std::get<0>(p.param).name) + "_" + std::get<1>(p.param).name; });

} // namespace
