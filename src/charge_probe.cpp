// charge_probe.cpp - decide from the kernel's /proc/app_info whether the
// charge flag is set.
//
// The file holds lines such as "charge_flag: 1" among other entries. Only
// the first occurrence of the key counts, and only the character 13 places
// after the key's first letter: the two between are a separator we do not
// interpret. One read of at most 1024 bytes is all we look at.

#include "charge_probe.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <unistd.h>

namespace {

constexpr const char* app_info_path = "/proc/app_info";
constexpr size_t read_size = 1024;
constexpr std::string_view charge_flag_key = "charge_flag";
constexpr size_t value_offset = 13;
constexpr char flag_set = '1';

} // namespace

int read_charge_flag() { return read_charge_flag_from(app_info_path); }

int read_charge_flag_from(const char* path)
{
    char buf[read_size];

    int fd = open(path, O_RDONLY);
    if (fd < 0) {
        printf("could not open /proc/app_info:%s", strerror(errno));
        return 0;
    }

    // A read that waits (a kernel file that blocks, a pipe) may be cut short
    // by a signal before any byte arrives; that is no failure of the file.
    ssize_t len;
    do {
        len = read(fd, buf, sizeof(buf));
    } while (len < 0 && errno == EINTR);
    if (len < 0) {
        printf("could not read /proc/app_info:%s", strerror(errno));
        close(fd);
        return 0;
    }
    // Nothing useful can be done about a failed close of a file only read.
    close(fd);

    // The buffer holds no terminator when the read filled it, so every
    // look is bounded by the bytes the read returned, and ends at a NUL.
    std::string_view text(buf, static_cast<size_t>(len));
    text = text.substr(0, text.find('\0'));

    size_t key = text.find(charge_flag_key);
    if (key == std::string_view::npos || text.size() - key <= value_offset)
        return 0;
    char value = text[key + value_offset];
    if (value != flag_set)
        return 0;
    printf("Charge Flag: %c", value);
    return 1;
}
