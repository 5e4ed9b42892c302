// platform.h — what the tests need to know of the system they run on.
#pragma once

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

namespace tiftest {

// The null device, which opens but is no file.
inline const char* NullDevice()
{
#if defined(_WIN32)
    return "NUL";
#else
    return "/dev/null";
#endif
}

// True when file permissions can refuse this process: POSIX modes, not root.
// (Windows' read-only attribute never refuses reading, nor creating in a folder.)
inline bool PermissionsRefuse()
{
#if defined(_WIN32)
    return false;
#else
    return geteuid() != 0;
#endif
}

// Closes a descriptor behind its owner's back.
inline int CloseDescriptor(int fd)
{
#if defined(_WIN32)
    return _close(fd);
#else
    return ::close(fd);
#endif
}

}  // namespace tiftest
