// property_set.cpp - hand a set request to the device's property service.
//
// The service (init) listens on a Unix stream socket and takes one fixed
// 128-byte message per connection: a native-order command word, then the
// name and the value in NUL-padded fields. It reads the message with a
// single receive, stores the value, and only then hangs up, so waiting for
// the hang-up tells us the property is visible to others. We wait a little,
// not forever: a wedged service must not wedge every caller.

#include "property_set.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr const char* property_service_socket = "/dev/socket/property_service";
constexpr uint32_t command_set_property = 1;
constexpr int hang_up_wait_ms = 250;

struct property_message {
    uint32_t command;
    char name[property_name_max];
    char value[property_value_max];
};
static_assert(sizeof(property_message) == 128, "the service reads exactly 128 bytes");

int send_message(const char* socket_path, const property_message& msg)
{
    sockaddr_un addr;
    memset(&addr, 0, sizeof(addr));
    addr.sun_family = AF_UNIX;
    if (strlen(socket_path) >= sizeof(addr.sun_path))
        return -1;
    strcpy(addr.sun_path, socket_path);

    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) < 0) {
        close(fd);
        return -1;
    }

    // MSG_NOSIGNAL: a service that hung up already must cost us an error
    // return, not the process.
    ssize_t sent;
    do {
        sent = send(fd, &msg, sizeof(msg), MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    if (sent != static_cast<ssize_t>(sizeof(msg))) {
        close(fd);
        return -1;
    }

    // The request is out; whether the service hangs up in time or not, there
    // is nothing more to learn, so the outcome of the wait is not examined.
    pollfd hang_up = { fd, POLLIN, 0 };
    poll(&hang_up, 1, hang_up_wait_ms);
    close(fd);
    return 0;
}

} // namespace

int property_set(const char* name, const char* value)
{
    return property_set_via(property_service_socket, name, value);
}

int property_set_via(const char* socket_path, const char* name, const char* value)
{
    if (!name || !value)
        return -1;
    size_t name_len = strlen(name);
    size_t value_len = strlen(value);
    if (name_len == 0 || name_len >= property_name_max || value_len >= property_value_max)
        return -1;

    property_message msg;
    memset(&msg, 0, sizeof(msg));
    msg.command = command_set_property;
    memcpy(msg.name, name, name_len);
    memcpy(msg.value, value, value_len);
    return send_message(socket_path, msg);
}
