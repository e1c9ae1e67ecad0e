// probe_fuzzer.cpp - arbitrary /proc/app_info contents through the probe.
//
// Each input becomes the whole file, read through the probe's own open and
// read. Besides the sanitizers' findings, it fails on an answer other than
// 0 or 1, a message the program may not print, or an answer its message
// contradicts.

#include "charge_probe.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <sys/mman.h>
#include <unistd.h>

namespace {

int app_info = -1; // the file the probe reads, held in memory
int probe_out = -1; // where its standard output goes
std::string app_info_path;

bool starts_with(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

bool may_print(std::string_view message, int answer)
{
    if (answer == 1)
        return message == "Charge Flag: 1";
    return message.empty() || starts_with(message, "could not open /proc/app_info:")
        || starts_with(message, "could not read /proc/app_info:");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    app_info = memfd_create("app_info", 0);
    probe_out = memfd_create("probe_out", 0);
    if (app_info < 0 || probe_out < 0 || dup2(probe_out, STDOUT_FILENO) < 0)
        abort();
    app_info_path = "/proc/self/fd/" + std::to_string(app_info);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (ftruncate(app_info, 0) < 0 || pwrite(app_info, data, size, 0) != static_cast<ssize_t>(size))
        abort();
    if (ftruncate(probe_out, 0) < 0 || lseek(STDOUT_FILENO, 0, SEEK_SET) < 0)
        abort();

    int answer = read_charge_flag_from(app_info_path.c_str());

    fflush(stdout);
    char message[256];
    ssize_t len = pread(probe_out, message, sizeof(message), 0);
    if (len < 0)
        abort();
    if ((answer != 0 && answer != 1)
        || !may_print(std::string_view(message, static_cast<size_t>(len)), answer)) {
        fprintf(stderr, "answer %d with message \"%.*s\"\n", answer, static_cast<int>(len), message);
        abort();
    }
    return 0;
}
