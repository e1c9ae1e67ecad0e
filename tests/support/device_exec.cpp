// device_exec.cpp - run a command inside a device root.
//
// usage: device_exec ROOT root|user COMMAND [ARG...]
//
// Changes root to ROOT and runs COMMAND (a path inside it) there, as root or
// as an unprivileged user. As the real root it uses chroot directly; as
// anyone else it first enters a user namespace of its own, where it may.
// It is linked statically and does no file reads of its own once it has
// dropped into the device, so a trace of it shows the command's system
// calls after the chroot and the exec, and little else.
//
// Exit status 125, with a message on standard error starting with
// "device_exec:", means the device could not be entered.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <sched.h>
#include <string>
#include <unistd.h>

namespace {

constexpr int cannot_enter = 125;
constexpr uid_t nobody = 65534;
// Inside our own user namespace only one id is ours to map; an unprivileged
// run maps it to an ordinary user, so that file modes bind it.
constexpr uid_t namespace_user = 1000;

[[noreturn]] void die(const char* what, int err)
{
    fprintf(stderr, "device_exec: %s: %s\n", what, strerror(err));
    _exit(cannot_enter);
}

bool write_file(const char* path, const std::string& text)
{
    int fd = open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    return close(fd) == 0 && ok;
}

// Becomes root, or namespace_user, of a new user namespace, whose root may
// chroot. Returns 0 or an error number.
int enter_user_namespace(bool as_user)
{
    uid_t uid = getuid();
    gid_t gid = getgid();
    if (unshare(CLONE_NEWUSER) < 0)
        return errno;
    unsigned inside = as_user ? namespace_user : 0;
    if (!write_file("/proc/self/setgroups", "deny")
        || !write_file("/proc/self/uid_map", std::to_string(inside) + " " + std::to_string(uid) + " 1")
        || !write_file("/proc/self/gid_map", std::to_string(inside) + " " + std::to_string(gid) + " 1"))
        return errno;
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 4 || (strcmp(argv[2], "root") != 0 && strcmp(argv[2], "user") != 0)) {
        fprintf(stderr, "usage: device_exec ROOT root|user COMMAND [ARG...]\n");
        return cannot_enter;
    }
    const char* root = argv[1];
    bool as_user = strcmp(argv[2], "user") == 0;

    if (getuid() == 0) {
        if (chroot(root) < 0)
            die("chroot", errno);
        if (as_user && (setgroups(0, nullptr) < 0 || setgid(nobody) < 0 || setuid(nobody) < 0))
            die("dropping to an unprivileged user", errno);
    } else {
        int err = enter_user_namespace(as_user);
        if (err != 0)
            die("not root, and no unprivileged user namespace", err);
        if (chroot(root) < 0)
            die("chroot in a user namespace", errno);
    }
    if (chdir("/") < 0)
        die("chdir", errno);

    char path_env[] = "PATH=/system/bin:/system/xbin";
    char* env[] = { path_env, nullptr };
    execve(argv[3], argv + 3, env);
    die(argv[3], errno);
}
