// stub_property_service.cpp - the stub property service.

#include "stub_property_service.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace stub {

namespace {

constexpr size_t message_size = 128;
constexpr size_t name_field = 4;
constexpr size_t name_size = 32;
constexpr size_t value_field = name_field + name_size;
constexpr size_t value_size = 92;

[[noreturn]] void fail(const std::string& what)
{
    throw std::runtime_error("stub property service: " + what + ": " + strerror(errno));
}

std::string field(const std::string& raw, size_t offset, size_t size)
{
    std::string f = raw.substr(offset, size);
    return f.substr(0, f.find('\0'));
}

int bound_socket(const std::string& path)
{
    sockaddr_un addr {};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof(addr.sun_path)) {
        errno = ENAMETOOLONG;
        fail(path);
    }
    strcpy(addr.sun_path, path.c_str());
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        fail("socket");
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) < 0) {
        close(fd);
        fail("bind " + path);
    }
    // Whoever the program runs as may connect, as on a device.
    chmod(path.c_str(), 0666);
    return fd;
}

} // namespace

uint32_t Request::command() const
{
    uint32_t c = 0;
    memcpy(&c, raw.data(), sizeof(c));
    return c;
}

std::string Request::name() const { return field(raw, name_field, name_size); }

std::string Request::value() const { return field(raw, value_field, value_size); }

void make_dead_socket(const std::string& path) { close(bound_socket(path)); }

PropertyService::PropertyService(std::string socket_path, Behaviour behaviour)
    : socket_path_(std::move(socket_path))
    , behaviour_(behaviour)
{
    listener_ = bound_socket(socket_path_);
    if (listen(listener_, 8) < 0 || pipe2(stop_pipe_, O_CLOEXEC) < 0) {
        close(listener_);
        unlink(socket_path_.c_str());
        fail("listen");
    }
    thread_ = std::thread([this] { serve(); });
}

PropertyService::~PropertyService()
{
    close(stop_pipe_[1]);
    thread_.join();
    close(stop_pipe_[0]);
    close(listener_);
    for (int fd : held_open_)
        close(fd);
    unlink(socket_path_.c_str());
}

std::vector<Request> PropertyService::requests() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

int PropertyService::connections() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return connections_;
}

void PropertyService::serve()
{
    for (;;) {
        pollfd fds[2] = { { listener_, POLLIN, 0 }, { stop_pipe_[0], POLLIN, 0 } };
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[1].revents)
            return;
        int connection = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0)
            continue;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            connections_++;
        }
        handle(connection);
    }
}

void PropertyService::handle(int connection)
{
    if (behaviour_ == Behaviour::hang_up_at_once) {
        close(connection);
        return;
    }
    if (behaviour_ == Behaviour::slow)
        std::this_thread::sleep_for(std::chrono::milliseconds(slow_delay_ms));

    // One receive, as the device's service makes: a request split in two
    // arrives as a short first piece and is not pieced together.
    char buf[message_size];
    ssize_t n;
    do {
        n = recv(connection, buf, sizeof(buf), 0);
    } while (n < 0 && errno == EINTR);
    if (n > 0) {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(Request { std::string(buf, static_cast<size_t>(n)) });
    }

    if (behaviour_ == Behaviour::never_close)
        held_open_.push_back(connection);
    else
        close(connection);
}

} // namespace stub
