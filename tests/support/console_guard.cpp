// Linked into every test program with -Wl,--wrap=open: an open of this machine's own serial
// ports or console by the code under test fails that test and is refused before the device is
// touched. The test rig (scripts/guarded.sh) also covers those devices with /dev/null, so a
// call that slips past this check still reaches nothing; this check names the test that tried.
#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>

extern "C" int __real_open(const char* path, int flags, ...);
extern "C" int __real_open64(const char* path, int flags, ...);

namespace {

bool isBuiltInPort(const char* path) {
    auto matches = [](const char* p) {
        if (std::strcmp(p, "/dev/console") == 0)
            return true;
        if (std::strncmp(p, "/dev/ttyS", 9) != 0 || p[9] == '\0')
            return false;
        for (const char* c = p + 9; *c; ++c)
            if (*c < '0' || *c > '9')
                return false;
        return true;
    };
    if (matches(path))
        return true;
    char real[PATH_MAX];
    return ::realpath(path, real) != nullptr && matches(real);
}

mode_t modeArgument(int flags, va_list args) {
    return (flags & (O_CREAT | O_TMPFILE)) ? static_cast<mode_t>(va_arg(args, unsigned)) : 0;
}

bool refused(const char* path) {
    if (!path || !isBuiltInPort(path))
        return false;
    ADD_FAILURE() << "opened " << path
                  << ", a serial port or the console of this machine; use a pseudo-terminal";
    errno = ENOENT;
    return true;
}

} // namespace

extern "C" int __wrap_open(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = modeArgument(flags, args);
    va_end(args);
    return refused(path) ? -1 : __real_open(path, flags, mode);
}

extern "C" int __wrap_open64(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = modeArgument(flags, args);
    va_end(args);
    return refused(path) ? -1 : __real_open64(path, flags, mode);
}
