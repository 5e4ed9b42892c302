// tif_stream.cpp — CTifFileStream on the platform's low-level file I/O.
//
// POSIX has no sharing modes, so they are emulated with flock(2) locks, which
// belong to the open file description: two streams of one process conflict just
// as two processes do. Every lock is taken without blocking; a conflict fails
// the open at once.
#include "io/tif_stream.h"

#include <cerrno>
#include <climits>
#include <cstdio>

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
    position = handle != -1 ? 0 : -1;
    counted = true;  // opened binary
    // A sharing violation comes back as EACCES, like a denied permission.
    failure = handle != -1 ? TIF_STREAM_OK : FailureOf(errno);
    return handle != -1 ? 1 : 0;
}

int CTifFileStream::Close()
{
    int r = _close(handle);
    handle = -1;
    position = -1;
    return r == 0 ? 1 : 0;
}

namespace {

int ReadHandle(int fd, void* buffer, int count) { return _read(fd, buffer, count); }
int WriteHandle(int fd, const void* buffer, int count) { return _write(fd, buffer, count); }
long SeekHandle(int fd, long offset, int origin) { return _lseek(fd, offset, origin); }

}  // namespace

long CTifFileStream::GetLength() { return _filelength(handle); }

// Text translation changes byte counts: from then on the position is asked of
// the system at every seek.
int CTifFileStream::SetMode(int mode)
{
    counted = mode == _O_BINARY;
    position = -1;
    return _setmode(handle, mode);
}

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
    position = 0;
    counted = true;
    return 1;
}

int CTifFileStream::Close()
{
    int r = ::close(handle);  // releases the lock with the descriptor
    handle = -1;
    position = -1;
    return r == 0 ? 1 : 0;
}

namespace {

// Loops over partial reads so that only the end of the file gives a short count.
int ReadHandle(int fd, void* buffer, int count)
{
    char* p = static_cast<char*>(buffer);
    int done = 0;
    while (done < count) {
        ssize_t n = ::read(fd, p + done, static_cast<size_t>(count - done));
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

int WriteHandle(int fd, const void* buffer, int count)
{
    const char* p = static_cast<const char*>(buffer);
    int done = 0;
    while (done < count) {
        ssize_t n = ::write(fd, p + done, static_cast<size_t>(count - done));
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

long SeekHandle(int fd, long offset, int origin)
{
    off_t r = ::lseek(fd, static_cast<off_t>(offset), origin);
    return r < 0 ? -1 : static_cast<long>(r);
}

}  // namespace

long CTifFileStream::GetLength()
{
    struct stat st;
    if (fstat(handle, &st) != 0)
        return -1;
    return static_cast<long>(st.st_size);
}

// No text translation exists here: every file is binary.
int CTifFileStream::SetMode(int) { return handle == -1 ? -1 : 0; }

int CTifFileStream::Commit() { return ::fsync(handle) == 0 ? 1 : 0; }

#endif

// The position is followed through every transfer; an error makes it unknown,
// and the next seek asks the system again.
int CTifFileStream::Read(void* buffer, int count)
{
    if (count < 0)
        return -1;
    const int n = ReadHandle(handle, buffer, count);
    position = n >= 0 && position >= 0 && counted ? position + n : -1;
    return n;
}

int CTifFileStream::Write(const void* buffer, int count)
{
    if (count < 0)
        return -1;
    const int n = WriteHandle(handle, buffer, count);
    position = n >= 0 && position >= 0 && counted ? position + n : -1;
    return n;
}

long CTifFileStream::Seek(long offset, int origin)
{
    if (position >= 0 && ((origin == SEEK_SET && offset == position) || (origin == SEEK_CUR && offset == 0)))
        return position;
    const long r = SeekHandle(handle, offset, origin);
    position = counted ? r : -1;
    return r;
}

long CTifFileStream::Tell() { return Seek(0, SEEK_CUR); }
