// emulated_device.cpp - the emulated device.

#include "emulated_device.h"
#include "temp_dir.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <poll.h>
#include <signal.h>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace emulated {

namespace {

constexpr int cannot_enter = 125;
constexpr const char* cannot_enter_prefix = "device_exec:";
constexpr const char* root_placeholder = "{root}";
constexpr auto run_time_limit = std::chrono::seconds(20);
// Runs an ARM executable on this machine; static, so it needs nothing else
// in the device root.
constexpr const char* arm_emulator = "/usr/bin/qemu-arm-static";

[[noreturn]] void fail(const std::string& what)
{
    throw std::runtime_error("emulated device: " + what + ": " + strerror(errno));
}

void write_file(const fs::path& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out << bytes;
    if (!out.flush())
        throw std::runtime_error("emulated device: cannot write " + path.string());
}

// A device root in the temporary directory, removed with everything in it.
class DeviceRoot {
public:
    DeviceRoot()
    {
        // An unprivileged program must be able to walk it, as on a device.
        fs::permissions(dir_.path(), fs::perms(0755));
    }

    fs::path operator/(const std::string& inside) const
    {
        return dir_.path() / inside.substr(inside.find_first_not_of('/'));
    }
    const fs::path& path() const { return dir_.path(); }

private:
    TempDir dir_ { "device" };
};

void make_dir(const fs::path& path)
{
    fs::create_directories(path);
    fs::permissions(path, fs::perms(0755));
}

void lay_out_app_info(const DeviceRoot& root, const Device& device)
{
    make_dir(root / "/proc");
    fs::path app_info = root / "/proc/app_info";
    switch (device.app_info) {
    case AppInfo::file:
        write_file(app_info, device.contents);
        break;
    case AppInfo::absent:
        break;
    case AppInfo::directory:
        make_dir(app_info);
        break;
    case AppInfo::fifo:
        if (mkfifo(app_info.c_str(), 0644) < 0)
            fail("mkfifo");
        break;
    case AppInfo::unreadable:
        write_file(app_info, device.contents);
        fs::permissions(app_info, fs::perms::none);
        break;
    case AppInfo::symlink:
        make_dir(root / "/data");
        write_file(root / "/data/app_info", device.contents);
        fs::create_symlink("/data/app_info", app_info);
        break;
    }
}

std::optional<stub::Behaviour> stub_behaviour(Service service)
{
    switch (service) {
    case Service::serve:
        return stub::Behaviour::serve;
    case Service::hang_up_at_once:
        return stub::Behaviour::hang_up_at_once;
    case Service::slow:
        return stub::Behaviour::slow;
    case Service::never_close:
        return stub::Behaviour::never_close;
    case Service::absent:
    case Service::not_listening:
        break;
    }
    return std::nullopt;
}

bool is_arm_executable(const std::string& path)
{
    constexpr unsigned char elf_magic[] = { 0x7f, 'E', 'L', 'F' };
    constexpr size_t e_machine = 18;
    constexpr unsigned em_arm = 40;
    unsigned char header[20] = {};
    std::ifstream(path, std::ios::binary).read(reinterpret_cast<char*>(header), sizeof(header));
    return memcmp(header, elf_magic, sizeof(elf_magic)) == 0
        && (header[e_machine] | header[e_machine + 1] << 8) == em_arm;
}

void copy_executable(const fs::path& from, const fs::path& to)
{
    make_dir(to.parent_path());
    fs::copy_file(from, to);
    fs::permissions(to, fs::perms(0755));
}

// Puts the program in place, and the emulator too where it needs one;
// returns the command that runs it inside the device, or an empty one
// when it cannot run here.
std::vector<std::string> install_program(const DeviceRoot& root, const Device& device)
{
    copy_executable(device.executable, root / program_path);
    if (!is_arm_executable(device.executable))
        return { program_path };
    if (!fs::exists(arm_emulator))
        return {};
    copy_executable(arm_emulator, root / arm_emulator);
    return { arm_emulator, program_path };
}

// Writes the pieces into the FIFO, holding it open until told to stop so
// that nothing written is lost before the program opens it.
class FifoFeeder {
public:
    FifoFeeder(const fs::path& fifo, std::vector<FifoPiece> pieces)
    {
        fd_ = open(fifo.c_str(), O_RDWR | O_CLOEXEC);
        if (fd_ < 0 || pipe2(stop_, O_CLOEXEC) < 0)
            fail("open fifo");
        thread_ = std::thread([this, pieces = std::move(pieces)] {
            for (const FifoPiece& piece : pieces) {
                pollfd stop = { stop_[0], POLLIN, 0 };
                if (poll(&stop, 1, static_cast<int>(piece.delay.count())) != 0)
                    return;
                if (write(fd_, piece.bytes.data(), piece.bytes.size()) < 0)
                    return;
            }
        });
    }
    ~FifoFeeder()
    {
        close(stop_[1]);
        thread_.join();
        close(stop_[0]);
        close(fd_);
    }
    FifoFeeder(const FifoFeeder&) = delete;
    FifoFeeder& operator=(const FifoFeeder&) = delete;

private:
    int fd_ = -1;
    int stop_[2] = { -1, -1 };
    std::thread thread_;
};

std::vector<std::string> command_line(
    const std::string& root, const Device& device, const std::vector<std::string>& program)
{
    std::vector<std::string> argv = device.wrapper;
    for (std::string& arg : argv)
        for (size_t at; (at = arg.find(root_placeholder)) != std::string::npos;)
            arg.replace(at, strlen(root_placeholder), root);
    argv.push_back(device_exec_path());
    argv.push_back(root);
    argv.push_back(device.app_info == AppInfo::unreadable ? "user" : "root");
    argv.insert(argv.end(), program.begin(), program.end());
    argv.insert(argv.end(), device.args.begin(), device.args.end());
    return argv;
}

// Runs argv with its standard output and error captured; fills in the
// run's outputs, status and time.
void run_captured(const std::vector<std::string>& argv, Run& run)
{
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) < 0 || pipe2(err, O_CLOEXEC) < 0)
        fail("pipe");
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    auto start = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid < 0)
        fail("fork");
    if (pid == 0) {
        int devnull = open("/dev/null", O_RDONLY);
        if (devnull < 0 || dup2(devnull, 0) < 0 || dup2(out[1], 1) < 0 || dup2(err[1], 2) < 0)
            _exit(cannot_enter);
        execvp(args[0], args.data());
        dprintf(2, "%s exec %s: %s\n", cannot_enter_prefix, args[0], strerror(errno));
        _exit(cannot_enter);
    }
    close(out[1]);
    close(err[1]);

    pollfd fds[2] = { { out[0], POLLIN, 0 }, { err[0], POLLIN, 0 } };
    std::string* sinks[2] = { &run.out, &run.err };
    int open_pipes = 2;
    while (open_pipes > 0) {
        auto left = run_time_limit - (std::chrono::steady_clock::now() - start);
        int ms = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(left).count());
        if (ms <= 0) {
            kill(pid, SIGKILL);
            break;
        }
        if (poll(fds, 2, ms) < 0 && errno != EINTR)
            break;
        for (int i = 0; i < 2; i++) {
            if (fds[i].fd < 0 || !fds[i].revents)
                continue;
            char buf[4096];
            ssize_t n = read(fds[i].fd, buf, sizeof(buf));
            if (n > 0) {
                sinks[i]->append(buf, static_cast<size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                close(fds[i].fd);
                fds[i].fd = -1;
                open_pipes--;
            }
        }
    }
    for (pollfd& fd : fds)
        if (fd.fd >= 0)
            close(fd.fd);

    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) { }
    run.elapsed
        = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    if (WIFEXITED(status))
        run.exit_status = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        run.signal = WTERMSIG(status);
}

} // namespace

std::string Run::property(const std::string& name) const
{
    std::string value;
    for (const stub::Request& r : requests)
        if (r.complete() && r.command() == 1 && r.name() == name)
            value = r.value();
    return value;
}

std::string device_exec_path() { return DEVICE_EXEC_PATH; }

struct Emulation::Parts {
    DeviceRoot root;
    std::vector<std::string> program;
    std::unique_ptr<stub::PropertyService> service;
    std::unique_ptr<FifoFeeder> feeder;
};

Emulation::Emulation(const Device& device)
    : parts_(std::make_unique<Parts>())
{
    const DeviceRoot& root = parts_->root;
    parts_->program = install_program(root, device);
    lay_out_app_info(root, device);
    make_dir(root / "/dev/socket");

    fs::path socket = root / "/dev/socket/property_service";
    if (auto behaviour = stub_behaviour(device.service))
        parts_->service = std::make_unique<stub::PropertyService>(socket.string(), *behaviour);
    else if (device.service == Service::not_listening)
        stub::make_dead_socket(socket.string());

    if (device.app_info == AppInfo::fifo)
        parts_->feeder = std::make_unique<FifoFeeder>(root / "/proc/app_info", device.fifo_pieces);
}

Emulation::~Emulation() = default;

std::string Emulation::root() const { return parts_->root.path().string(); }

const std::vector<std::string>& Emulation::program() const { return parts_->program; }

std::vector<stub::Request> Emulation::requests() const
{
    return parts_->service ? parts_->service->requests() : std::vector<stub::Request> {};
}

Run run(const Device& device)
{
    Emulation emulation(device);
    Run run;
    if (emulation.program().empty()) {
        run.unavailable = std::string("no ") + arm_emulator + " to run an ARM executable";
        return run;
    }
    run_captured(command_line(emulation.root(), device, emulation.program()), run);
    run.requests = emulation.requests();
    if (run.exit_status == cannot_enter && run.err.rfind(cannot_enter_prefix, 0) == 0)
        run.unavailable = run.err;
    return run;
}

} // namespace emulated
