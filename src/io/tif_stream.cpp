// tif_stream.cpp — CTifFileStream on the platform's low-level file I/O.
//
// POSIX has no sharing modes, so they are emulated with flock(2) locks, which
// belong to the open file description: two streams of one process conflict just
// as two processes do. Every lock is taken without blocking; a conflict fails
// the open at once.
#include "io/tif_stream.h"

#include <cerrno>
#include <climits>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

int FailureOf(int error)
{
    switch (error) {
    case ENOENT: case ENOTDIR: return TIF_STREAM_NOT_FOUND;
    case EACCES: case EPERM: case EROFS: return TIF_STREAM_DENIED;
    case EISDIR: return TIF_STREAM_NOT_FILE;
    default: return TIF_STREAM_OTHER;
    }
}

}  // namespace

CTifFileStream::~CTifFileStream()
{
    if (handle != -1)
        Close();
}

#if defined(_WIN32)

int CTifFileStream::Open(const char* path, int flags)
{
    int oflag, shflag, pmode = 0;
    if (flags & TIF_OPEN_CREATE) {
        oflag = _O_BINARY | _O_CREAT | _O_TRUNC | _O_RDWR;
        shflag = _SH_DENYRW;
        pmode = _S_IREAD | _S_IWRITE;
    } else if (flags & TIF_OPEN_READWRITE) {
        oflag = _O_BINARY | _O_RDWR;
        shflag = _SH_DENYRW;
    } else if (flags & TIF_OPEN_WRITE) {
        oflag = _O_BINARY | _O_WRONLY;
        shflag = _SH_DENYRW;
    } else {
        oflag = _O_BINARY | _O_RDONLY;
        shflag = _SH_DENYWR;
    }
    handle = _sopen(path, oflag, shflag, pmode);
    // A sharing violation comes back as EACCES, like a denied permission.
    failure = handle != -1 ? TIF_STREAM_OK : FailureOf(errno);
    return handle != -1 ? 1 : 0;
}

int CTifFileStream::Close()
{
    int r = _close(handle);
    handle = -1;
    return r == 0 ? 1 : 0;
}

int CTifFileStream::Read(void* buffer, int count) { return _read(handle, buffer, count); }
int CTifFileStream::Write(const void* buffer, int count) { return _write(handle, buffer, count); }
long CTifFileStream::Seek(long offset, int origin) { return _lseek(handle, offset, origin); }
long CTifFileStream::GetLength() { return _filelength(handle); }
int CTifFileStream::SetMode(int mode) { return _setmode(handle, mode); }
long CTifFileStream::Tell() { return _lseek(handle, 0, SEEK_CUR); }
int CTifFileStream::Commit() { return _commit(handle) == 0 ? 1 : 0; }

#else

namespace {

int LockNow(int fd, int how)
{
    int r;
    do {
        r = flock(fd, how | LOCK_NB);
    } while (r != 0 && errno == EINTR);
    return r == 0;
}

}  // namespace

int CTifFileStream::Open(const char* path, int flags)
{
    if (handle != -1 || path == nullptr) {
        failure = TIF_STREAM_OTHER;
        return 0;
    }
    int fd;
    if (flags & TIF_OPEN_CREATE) {
        // Lock before truncating, so that a create refused by a reader of the
        // same file never destroys what that reader is reading.
        fd = ::open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (fd == -1) {
            failure = FailureOf(errno);
            return 0;
        }
        if (!LockNow(fd, LOCK_EX)) {
            failure = TIF_STREAM_IN_USE;
            ::close(fd);
            return 0;
        }
        if (ftruncate(fd, 0) != 0) {
            failure = errno == EINVAL ? TIF_STREAM_NOT_FILE : FailureOf(errno);
            ::close(fd);
            return 0;
        }
    } else {
        int oflag = (flags & TIF_OPEN_READWRITE) ? O_RDWR
                  : (flags & TIF_OPEN_WRITE)     ? O_WRONLY
                                                 : O_RDONLY;
        fd = ::open(path, oflag | O_CLOEXEC);
        if (fd == -1) {
            failure = FailureOf(errno);
            return 0;
        }
        struct stat st;
        bool regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
        if (!regular || !LockNow(fd, oflag == O_RDONLY ? LOCK_SH : LOCK_EX)) {
            failure = regular ? TIF_STREAM_IN_USE : TIF_STREAM_NOT_FILE;
            ::close(fd);
            return 0;
        }
    }
    failure = TIF_STREAM_OK;
    handle = fd;
    return 1;
}

int CTifFileStream::Close()
{
    int r = ::close(handle);  // releases the lock with the descriptor
    handle = -1;
    return r == 0 ? 1 : 0;
}

int CTifFileStream::Read(void* buffer, int count)
{
    if (count < 0)
        return -1;
    // Loop over partial reads so that only the end of the file gives a short count.
    char* p = static_cast<char*>(buffer);
    int done = 0;
    while (done < count) {
        ssize_t n = ::read(handle, p + done, static_cast<size_t>(count - done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return done > 0 ? done : -1;
        }
        if (n == 0)
            break;
        done += static_cast<int>(n);
    }
    return done;
}

int CTifFileStream::Write(const void* buffer, int count)
{
    if (count < 0)
        return -1;
    const char* p = static_cast<const char*>(buffer);
    int done = 0;
    while (done < count) {
        ssize_t n = ::write(handle, p + done, static_cast<size_t>(count - done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return done > 0 ? done : -1;
        }
        if (n == 0)
            break;
        done += static_cast<int>(n);
    }
    return done;
}

long CTifFileStream::Seek(long offset, int origin)
{
    off_t r = ::lseek(handle, static_cast<off_t>(offset), origin);
    return r < 0 ? -1 : static_cast<long>(r);
}

long CTifFileStream::GetLength()
{
    struct stat st;
    if (fstat(handle, &st) != 0)
        return -1;
    return static_cast<long>(st.st_size);
}

// No text translation exists here: every file is binary.
int CTifFileStream::SetMode(int) { return handle == -1 ? -1 : 0; }

long CTifFileStream::Tell() { return Seek(0, SEEK_CUR); }

int CTifFileStream::Commit() { return ::fsync(handle) == 0 ? 1 : 0; }

#endif
