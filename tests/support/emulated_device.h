// emulated_device.h - run the real executable as if on the device.
//
// Builds a throwaway device root holding the executable, a proc/app_info of
// the caller's choosing and the property service's socket, served by the
// stub property service; runs the executable there through device_exec;
// and reports everything it did that can be seen from outside.
#pragma once

#include "stub_property_service.h"

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace emulated {

// Where the executable sits in the device root.
constexpr const char* program_path = "/system/bin/charge_probe";

enum class AppInfo {
    file, // a regular file holding contents
    absent, // no such file
    directory, // a directory in its place
    fifo, // a FIFO fed with fifo_pieces while the program runs
    unreadable, // a file of mode 000; the program then runs unprivileged
    symlink, // a symbolic link to a regular file holding contents
};

enum class Service {
    serve,
    absent, // no socket at all
    not_listening, // a socket file with nobody behind it
    hang_up_at_once,
    slow,
    never_close,
};

struct FifoPiece {
    std::chrono::milliseconds delay; // waited before the piece is written
    std::string bytes;
};

struct Device {
    std::string executable; // host path of the program to run
    std::vector<std::string> args;
    AppInfo app_info = AppInfo::file;
    std::string contents;
    std::vector<FifoPiece> fifo_pieces;
    Service service = Service::serve;
    // A command and its options run in front of device_exec, such as a
    // tracer; it must pass the rest of its command line on unchanged. Any
    // "{root}" in it stands for the device root's path on this machine.
    std::vector<std::string> wrapper;
};

struct Run {
    std::string unavailable; // why the device could not be entered, if it could not
    std::string out;
    std::string err;
    int exit_status = -1; // -1 when the program died of a signal
    int signal = 0;
    std::chrono::milliseconds elapsed { 0 };
    std::vector<stub::Request> requests;

    // The value the service last stored for name, or "" if none.
    std::string property(const std::string& name) const;
};

// A device laid out and served for as long as this lives, for running
// commands of one's own in it, such as a benchmark's.
class Emulation {
public:
    explicit Emulation(const Device& device);
    ~Emulation();
    Emulation(const Emulation&) = delete;
    Emulation& operator=(const Emulation&) = delete;

    std::string root() const;
    // The command that runs the program inside the device; empty when an
    // ARM executable cannot be run here.
    const std::vector<std::string>& program() const;
    // The requests the property service has received so far.
    std::vector<stub::Request> requests() const;

private:
    struct Parts;
    std::unique_ptr<Parts> parts_;
};

// Runs the device once. Throws if the host itself fails us (no temporary
// directory, no fork); reports a device it cannot enter in unavailable.
Run run(const Device& device);

// The host path of device_exec, set at build time.
std::string device_exec_path();

} // namespace emulated
