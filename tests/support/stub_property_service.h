// stub_property_service.h - a property service like the device's, for tests
// and the demo: it listens on a Unix stream socket, takes one 128-byte
// request per connection with a single receive, records it, then hangs up.
// It can be told to misbehave in the ways a real service might.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace stub {

enum class Behaviour {
    serve, // receive, record, hang up
    hang_up_at_once, // accept and close without reading
    slow, // wait slow_delay before receiving, then as serve
    never_close, // receive and record, but keep the connection open
};

// How long a slow service dawdles: well inside the client's wait.
constexpr int slow_delay_ms = 100;

// What one receive brought: the whole message when it is 128 bytes long.
struct Request {
    std::string raw;

    bool complete() const { return raw.size() == 128; }
    uint32_t command() const;
    std::string name() const; // up to the first NUL of the name field
    std::string value() const; // likewise for the value field
};

class PropertyService {
public:
    // Binds and listens at socket_path (which must not exist) and serves
    // from a thread of its own until destroyed. Throws on failure.
    PropertyService(std::string socket_path, Behaviour behaviour);
    ~PropertyService();
    PropertyService(const PropertyService&) = delete;
    PropertyService& operator=(const PropertyService&) = delete;

    std::vector<Request> requests() const;
    int connections() const; // accepted so far, whatever came of them

private:
    void serve();
    void handle(int connection);

    std::string socket_path_;
    Behaviour behaviour_;
    int listener_ = -1;
    int stop_pipe_[2] = { -1, -1 };
    std::vector<int> held_open_;
    mutable std::mutex mutex_;
    std::vector<Request> requests_;
    int connections_ = 0;
    std::thread thread_;
};

// Leaves a socket at path with nobody listening behind it, as a crashed
// service would: connecting to it is refused.
void make_dead_socket(const std::string& path);

} // namespace stub
