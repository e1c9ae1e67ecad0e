// emulated_device_main.cpp - the emulated device from the command line.
//
// usage: emulated_device EXECUTABLE APP_INFO_FILE [ARG...]
//        emulated_device --hold EXECUTABLE APP_INFO_FILE COMMAND [ARG...]
//
// Lays APP_INFO_FILE into the device as /proc/app_info, with EXECUTABLE in
// it and the stub property service serving it. The first form runs the
// program there once and shows what a person at the device would see: its
// output, its exit status, and the properties it set, as getprop lists them.
// The second keeps the device while COMMAND runs on this machine, with
// DEVICE_ROOT, DEVICE_EXEC and DEVICE_PROGRAM in its environment to run
// things in the device as "$DEVICE_EXEC" "$DEVICE_ROOT" root $DEVICE_PROGRAM.

#include "emulated_device.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

int usage()
{
    std::cerr << "usage: emulated_device EXECUTABLE APP_INFO_FILE [ARG...]\n"
                 "       emulated_device --hold EXECUTABLE APP_INFO_FILE COMMAND [ARG...]\n";
    return 2;
}

bool read_file(const char* path, std::string& contents)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::cerr << "emulated_device: cannot read " << path << "\n";
        return false;
    }
    contents.assign(std::istreambuf_iterator<char>(in), {});
    return true;
}

int show_one_run(const emulated::Device& device)
{
    emulated::Run run = emulated::run(device);
    if (!run.unavailable.empty()) {
        std::cerr << "emulated_device: the device cannot run here: " << run.unavailable;
        return 1;
    }

    std::cout << "# " << emulated::program_path;
    for (const std::string& arg : device.args)
        std::cout << " " << arg;
    std::cout << "\n" << run.out;
    if (!run.out.empty())
        std::cout << "\n";
    std::cout << run.err;
    if (run.signal)
        std::cout << "killed by signal " << run.signal << "\n";
    else
        std::cout << "exit status: " << run.exit_status << "\n";

    std::cout << "# getprop\n";
    int listed = 0;
    for (const stub::Request& request : run.requests)
        if (request.complete() && request.command() == 1) {
            std::cout << "[" << request.name() << "]: [" << request.value() << "]\n";
            listed++;
        }
    if (listed == 0)
        std::cout << "(no property was set)\n";
    return 0;
}

int hold(const emulated::Device& device, char** command)
{
    emulated::Emulation emulation(device);
    std::string program;
    for (const std::string& word : emulation.program())
        program += (program.empty() ? "" : " ") + word;
    if (program.empty()) {
        std::cerr << "emulated_device: the device cannot run this executable here\n";
        return 1;
    }
    setenv("DEVICE_ROOT", emulation.root().c_str(), 1);
    setenv("DEVICE_EXEC", emulated::device_exec_path().c_str(), 1);
    setenv("DEVICE_PROGRAM", program.c_str(), 1);

    pid_t pid = fork();
    if (pid < 0) {
        perror("emulated_device: fork");
        return 1;
    }
    if (pid == 0) {
        execvp(command[0], command);
        perror(command[0]);
        _exit(127);
    }
    int status = 0;
    if (waitpid(pid, &status, 0) < 0) {
        perror("emulated_device: waitpid");
        return 1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace

int main(int argc, char** argv)
{
    bool holding = argc > 1 && std::string(argv[1]) == "--hold";
    int first = holding ? 2 : 1;
    if (argc < first + 2 || (holding && argc < first + 3))
        return usage();

    emulated::Device device;
    device.executable = argv[first];
    if (!read_file(argv[first + 1], device.contents))
        return 2;
    try {
        if (holding)
            return hold(device, argv + first + 2);
        device.args.assign(argv + first + 2, argv + argc);
        return show_one_run(device);
    } catch (const std::exception& e) {
        std::cerr << e.what() << "\n";
        return 1;
    }
}
