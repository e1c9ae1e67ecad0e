// fault_test.cpp - the real executable in the emulated device, under strace:
// faults injected into its system calls, and the calls one run may make.

#include "cannot_run_here.h"
#include "emulated_device.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const char* const set_file = "board_id: 3\ncharge_flag: 1\n";

// One system call as strace wrote it down.
struct Call {
    std::string name;
    std::string args;
    std::string result;

    bool injected() const { return result.find("(INJECTED)") != std::string::npos; }
    // "read", or "read EINTR" where the error was injected.
    std::string summary() const
    {
        if (!injected())
            return name;
        std::string err = result.substr(result.find(' ') + 1);
        return name + " " + err.substr(0, err.find(' '));
    }
};

// The calls of the program itself: those after device_exec has entered the
// device and run it.
std::vector<Call> program_calls(const fs::path& trace)
{
    static const std::regex line(R"(^\d+\s+(\w+)\((.*)\)\s+=\s+(.*)$)");
    std::vector<Call> calls;
    std::ifstream in(trace);
    bool launched = false;
    for (std::string text; std::getline(in, text);) {
        std::smatch m;
        if (!std::regex_match(text, m, line))
            continue;
        Call call { m[1], m[2], m[3] };
        if (call.name == "execve"
            && call.args.rfind(std::string("\"") + emulated::program_path + "\"", 0) == 0)
            launched = true;
        else if (launched)
            calls.push_back(call);
    }
    return calls;
}

struct Traced {
    emulated::Run run;
    std::vector<Call> calls;
};

// Runs the host executable in the device under strace with the given
// options, which must let the program's execve through any filter.
Traced run_traced(emulated::Device device, const std::vector<std::string>& strace_options)
{
    TempDir dir("fault_test");
    fs::path trace = dir.path() / "trace";
    device.executable = CHARGE_PROBE_PATH;
    device.wrapper = { "strace", "-f", "-qq", "-o", trace.string() };
    device.wrapper.insert(device.wrapper.end(), strace_options.begin(), strace_options.end());
    emulated::Run run = emulated::run(device);
    return { run, program_calls(trace) };
}

struct Fault {
    const char* name;
    std::vector<std::string> strace_options;
    std::string out;
    const char* property; // nullptr: never stored
    std::vector<std::string> calls; // what the trace shows, in order
};

// Trace only the calls on /proc/app_info: by its name, and by its path on
// this machine, which is how strace names a descriptor open on it. Faults
// are injected only into the calls traced.
std::vector<std::string> on_app_info(const std::string& inject)
{
    return { "-P", emulated::program_path, "-P", "/proc/app_info", "-P", "{root}/proc/app_info", "-e",
        inject };
}

std::vector<std::string> on_network(const std::string& inject)
{
    return { "-e", "trace=%network,execve", "-e", inject };
}

const Fault faults[] = {
    { "read_interrupted_three_times", on_app_info("inject=read:error=EINTR:when=1..3"), "Charge Flag: 1",
        "true", { "openat", "read EINTR", "read EINTR", "read EINTR", "read", "close" } },
    { "read_fails", on_app_info("inject=read:error=EIO"), "could not read /proc/app_info:Input/output error",
        "false", { "openat", "read EIO", "close" } },
    { "open_interrupted", on_app_info("inject=openat:error=EINTR"),
        "could not open /proc/app_info:Interrupted system call", "false", { "openat EINTR" } },
    { "close_fails", on_app_info("inject=close:error=EIO"), "Charge Flag: 1", "true",
        { "openat", "read", "close EIO" } },
    { "socket_fails", on_network("inject=socket:error=EMFILE"), "Charge Flag: 1", nullptr,
        { "socket EMFILE" } },
    { "connect_fails", on_network("inject=connect:error=ECONNREFUSED"), "Charge Flag: 1", nullptr,
        { "socket", "connect ECONNREFUSED" } },
    { "send_fails", on_network("inject=sendto:error=ENOBUFS"), "Charge Flag: 1", nullptr,
        { "socket", "connect", "sendto ENOBUFS" } },
    { "send_interrupted", on_network("inject=sendto:error=EINTR:when=1"), "Charge Flag: 1", "true",
        { "socket", "connect", "sendto EINTR", "sendto" } },
};

void PrintTo(const Fault& f, std::ostream* os) { *os << f.name; }

class InjectedFault : public ::testing::TestWithParam<Fault> { };

TEST_P(InjectedFault, IsHandledQuietly)
{
    const Fault& f = GetParam();
    emulated::Device device;
    device.contents = set_file;
    Traced traced = run_traced(device, f.strace_options);
    if (!traced.run.unavailable.empty())
        CANNOT_RUN_HERE("the emulated device cannot run here: " + traced.run.unavailable);

    EXPECT_EQ(traced.run.signal, 0);
    EXPECT_EQ(traced.run.exit_status, 0);
    EXPECT_EQ(traced.run.out, f.out);
    EXPECT_EQ(traced.run.err, "");
    EXPECT_EQ(traced.run.property("pavoki.charging"), f.property ? f.property : "");
    if (!f.property) {
        EXPECT_TRUE(traced.run.requests.empty());
    }
    std::vector<std::string> calls;
    for (const Call& call : traced.calls)
        calls.push_back(call.summary());
    EXPECT_EQ(calls, f.calls);
}

INSTANTIATE_TEST_SUITE_P(Strace, InjectedFault, ::testing::ValuesIn(faults),
    [](const auto& p) { return std::string(p.param.name); });

// What the static C library does on its own, to start the process, to size
// standard output's buffer at the first printf, and to end the process.
const std::set<std::string> c_library_calls = { "brk", "arch_prctl", "set_tid_address", "set_robust_list",
    "rseq", "prlimit64", "readlink", "getrandom", "mprotect", "newfstatat", "exit_group" };

TEST(SyscallBudget, OneRunMakesOnlyTheCallsItNeeds)
{
    emulated::Device device;
    device.contents = set_file;
    Traced traced = run_traced(device, {});
    if (!traced.run.unavailable.empty())
        CANNOT_RUN_HERE("the emulated device cannot run here: " + traced.run.unavailable);
    ASSERT_EQ(traced.run.out, "Charge Flag: 1");
    ASSERT_EQ(traced.run.property("pavoki.charging"), "true");
    ASSERT_FALSE(traced.calls.empty());

    std::map<std::string, std::vector<Call>> by_name;
    for (const Call& call : traced.calls) {
        if (!c_library_calls.count(call.name))
            by_name[call.name].push_back(call);
    }
    auto only = [&](const std::string& name) -> const Call& {
        static const Call none;
        EXPECT_EQ(by_name[name].size(), 1u) << name;
        return by_name[name].empty() ? none : by_name[name][0];
    };

    const Call& open = only("openat");
    EXPECT_EQ(open.args, "AT_FDCWD, \"/proc/app_info\", O_RDONLY");
    const Call& read = only("read");
    EXPECT_EQ(read.args.substr(0, read.args.find(',')), open.result);
    EXPECT_EQ(read.args.substr(read.args.rfind(", ")), ", 1024");
    const Call& socket = only("socket");
    EXPECT_EQ(only("connect").args.substr(0, socket.result.size() + 1), socket.result + ",");
    const Call& send = only("sendto");
    EXPECT_EQ(send.args.substr(0, socket.result.size() + 1), socket.result + ",");
    EXPECT_EQ(send.result, "128");
    only("poll");
    EXPECT_LE(by_name["write"].size(), 1u);
    for (const Call& write : by_name["write"])
        EXPECT_EQ(write.args.substr(0, 2), "1,");

    // Everything opened is closed, once, before the end.
    std::multiset<std::string> closed;
    for (const Call& close : by_name["close"])
        closed.insert(close.args);
    EXPECT_EQ(closed, (std::multiset<std::string> { open.result, socket.result }));

    for (const char* name : { "openat", "read", "socket", "connect", "sendto", "poll", "write", "close" })
        by_name.erase(name);
    for (const auto& [name, calls] : by_name)
        ADD_FAILURE() << "unexpected system call " << name << "(" << calls[0].args << ")";
}

} // namespace
