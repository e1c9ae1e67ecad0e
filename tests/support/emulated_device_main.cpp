// emulated_device_main.cpp - run the program once in the emulated device.
//
// usage: emulated_device EXECUTABLE APP_INFO_FILE [ARG...]
//
// Lays APP_INFO_FILE into the device as /proc/app_info, runs EXECUTABLE
// there against the stub property service, and shows what a person at the
// device would see: the program's output, its exit status, and the
// properties it set, as getprop lists them.

#include "emulated_device.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::cerr << "usage: emulated_device EXECUTABLE APP_INFO_FILE [ARG...]\n";
        return 2;
    }
    std::ifstream app_info(argv[2], std::ios::binary);
    if (!app_info) {
        std::cerr << "emulated_device: cannot read " << argv[2] << "\n";
        return 2;
    }

    emulated::Device device;
    device.executable = argv[1];
    device.contents.assign(std::istreambuf_iterator<char>(app_info), {});
    device.args.assign(argv + 3, argv + argc);

    emulated::Run run;
    try {
        run = emulated::run(device);
    } catch (const std::exception& e) {
        std::cerr << e.what() << "\n";
        return 1;
    }
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
