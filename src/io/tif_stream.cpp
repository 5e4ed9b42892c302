// tif_stream.cpp — CTifFileStream on the platform's low-level file I/O.
//
// POSIX has no sharing modes, so they are emulated with flock(2) locks, which
// belong to the open file description: two streams of one process conflict just
// as two processes do. Every lock is taken without blocking; a conflict fails
// the open at once.
#include "io/tif_stream.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>

#if defined(_WIN32)
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <cstdio>
#include <cstdlib>
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

namespace {

// _sopen reports a sharing violation as EACCES, like a denied permission; the
// system's own error tells them apart, and a directory from a file.
int WindowsFailure(const char* path, int error)
{
    if (error == EACCES && _doserrno == ERROR_SHARING_VIOLATION)
        return TIF_STREAM_IN_USE;
    struct _stat64 st;
    if (error == EACCES && _stat64(path, &st) == 0 && !(st.st_mode & _S_IFREG))
        return TIF_STREAM_NOT_FILE;
    return FailureOf(error);
}

}  // namespace

int CTifFileStream::Open(const char* path, int flags)
{
    if (handle != -1 || path == nullptr) {
        failure = TIF_STREAM_OTHER;
        return 0;
    }
    // Binary always: text mode would turn CR LF pairs into LF and stop at ^Z.
    // The system checks the sharing mode before truncating, so a create refused
    // by a reader leaves the reader's file whole.
    int oflag, shflag, pmode = 0;
    if (flags & TIF_OPEN_CREATE) {
        oflag = _O_BINARY | _O_NOINHERIT | _O_CREAT | _O_TRUNC | _O_RDWR;
        shflag = _SH_DENYRW;
        pmode = _S_IREAD | _S_IWRITE;
    } else if (flags & TIF_OPEN_READWRITE) {
        oflag = _O_BINARY | _O_NOINHERIT | _O_RDWR;
        shflag = _SH_DENYRW;
    } else if (flags & TIF_OPEN_WRITE) {
        oflag = _O_BINARY | _O_NOINHERIT | _O_WRONLY;
        shflag = _SH_DENYRW;
    } else {
        oflag = _O_BINARY | _O_NOINHERIT | _O_RDONLY;
        shflag = _SH_DENYWR;
    }
    const int fd = _sopen(path, oflag, shflag, pmode);
    if (fd == -1) {
        failure = WindowsFailure(path, errno);
        return 0;
    }
    struct _stat64 st;
    if (_fstat64(fd, &st) != 0 || !(st.st_mode & _S_IFREG)) {
        failure = TIF_STREAM_NOT_FILE;
        _close(fd);
        return 0;
    }
    failure = TIF_STREAM_OK;
    handle = fd;
    position = 0;
    counted = true;  // opened binary, and it stays so
    readOnly = flags == 0;
    length = -1;
    nearBytes_ = 0;
    return 1;
}

int CTifFileStream::Close()
{
    // The runtime treats a bad descriptor as an invalid parameter: never pass one.
    if (handle == -1)
        return 0;
    const int r = _close(handle);
    handle = -1;
    position = -1;
    return r == 0 ? 1 : 0;
}

namespace {

// The runtime treats a bad descriptor as an invalid parameter: never pass one.
int ReadHandle(int fd, void* buffer, int count)
{
    return fd == -1 ? -1 : _read(fd, buffer, static_cast<unsigned>(count));
}

int WriteHandle(int fd, const void* buffer, int count)
{
    return fd == -1 ? -1 : _write(fd, buffer, static_cast<unsigned>(count));
}

int64_t SeekHandle(int fd, int64_t offset, int origin)
{
    if (fd == -1)
        return -1;
    const int64_t r = _lseeki64(fd, offset, origin);
    return r < 0 ? -1 : r;
}

}  // namespace

int64_t CTifFileStream::QueryLength()
{
    if (handle == -1)
        return -1;
    const int64_t n = _filelengthi64(handle);
    return n < 0 ? -1 : n;
}

// Every file stays binary: text mode would rewrite CR LF pairs and stop at ^Z.
int CTifFileStream::SetMode(int mode)
{
    return handle == -1 || mode != _O_BINARY ? -1 : _setmode(handle, _O_BINARY);
}

int CTifFileStream::Commit() { return handle != -1 && _commit(handle) == 0 ? 1 : 0; }

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

// Creates or empties the file at `path`, locked for writing; -1 (with the
// reason in *failure) when it cannot be.
int CreateLocked(const char* path, int* failure)
{
    // Lock before truncating, so that a create refused by a reader of the
    // same file never destroys what that reader is reading.
    const int fd = ::open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd == -1) {
        *failure = FailureOf(errno);
        return -1;
    }
    if (!LockNow(fd, LOCK_EX)) {
        *failure = TIF_STREAM_IN_USE;
        ::close(fd);
        return -1;
    }
    if (ftruncate(fd, 0) != 0) {
        *failure = errno == EINVAL ? TIF_STREAM_NOT_FILE : FailureOf(errno);
        ::close(fd);
        return -1;
    }
    return fd;
}

// Opens the plain file at `path` as `flags` ask, locked for sharing when
// only read, else for writing; -1 (with the reason in *failure) when it
// cannot be.
int OpenLocked(const char* path, int flags, int* failure)
{
    const int oflag = (flags & TIF_OPEN_READWRITE) ? O_RDWR
                    : (flags & TIF_OPEN_WRITE)     ? O_WRONLY
                                                   : O_RDONLY;
    const int fd = ::open(path, oflag | O_CLOEXEC);
    if (fd == -1) {
        *failure = FailureOf(errno);
        return -1;
    }
    struct stat st;
    const bool regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (!regular || !LockNow(fd, oflag == O_RDONLY ? LOCK_SH : LOCK_EX)) {
        *failure = regular ? TIF_STREAM_IN_USE : TIF_STREAM_NOT_FILE;
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

int CTifFileStream::Open(const char* path, int flags)
{
    if (handle != -1 || path == nullptr) {
        failure = TIF_STREAM_OTHER;
        return 0;
    }
    const int fd = (flags & TIF_OPEN_CREATE) ? CreateLocked(path, &failure) : OpenLocked(path, flags, &failure);
    if (fd == -1)
        return 0;
    failure = TIF_STREAM_OK;
    handle = fd;
    position = 0;
    counted = true;
    readOnly = flags == 0;
    length = -1;
    nearBytes_ = 0;
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

// Transfers at the stream's own position (pread, pwrite): a seek costs no
// system call, and the directory walk and the strip reads seek for every
// block. Loops over partial reads so that only the end of the file gives a
// short count.
int ReadHandle(int fd, void* buffer, int count, int64_t at)
{
    char* p = static_cast<char*>(buffer);
    int done = 0;
    while (done < count) {
        ssize_t n = ::pread(fd, p + done, static_cast<size_t>(count - done), static_cast<off_t>(at) + done);
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

int WriteHandle(int fd, const void* buffer, int count, int64_t at)
{
    const char* p = static_cast<const char*>(buffer);
    int done = 0;
    while (done < count) {
        ssize_t n = ::pwrite(fd, p + done, static_cast<size_t>(count - done), static_cast<off_t>(at) + done);
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

// Where a seek leads, as lseek would put it; -1 (position unchanged) for a
// position before the start or past what off_t holds.
int64_t SeekHandle(int64_t position, int64_t length, int64_t offset, int origin)
{
    const int64_t from = origin == SEEK_SET ? 0 : origin == SEEK_CUR ? position : origin == SEEK_END ? length : -1;
    constexpr int64_t kMost = sizeof(off_t) >= 8 ? INT64_MAX : INT32_MAX;
    if (from < 0 || (offset > 0 && from > kMost - offset) || from + offset < 0)
        return -1;
    return from + offset;
}

}  // namespace

int64_t CTifFileStream::QueryLength()
{
    struct stat st;
    if (fstat(handle, &st) != 0)
        return -1;
    return static_cast<int64_t>(st.st_size);
}

// No text translation exists here: every file is binary.
int CTifFileStream::SetMode(int) { return handle == -1 ? -1 : 0; }

int CTifFileStream::Commit() { return ::fsync(handle) == 0 ? 1 : 0; }

#endif

namespace {

// The position after `n` bytes moved from `position`; -1 (unknown) after an
// error.
int64_t Advance(int64_t position, int n, bool counted)
{
    return counted && n >= 0 && position >= 0 && position <= INT64_MAX - n ? position + n : -1;
}

}  // namespace

#if defined(_WIN32)

int CTifFileStream::ReadMeta(void* buffer, int count) { return Read(buffer, count); }

// The position is followed through every transfer; an error makes it unknown,
// and the next seek asks the system again.
int CTifFileStream::Read(void* buffer, int count)
{
    if (count < 0)
        return -1;
    const int n = ReadHandle(handle, buffer, count);
    position = Advance(position, n, counted);
    return n;
}

int CTifFileStream::Write(const void* buffer, int count)
{
    if (count < 0)
        return -1;
    const int n = WriteHandle(handle, buffer, count);
    position = Advance(position, n, counted);
    return n;
}

int64_t CTifFileStream::Seek(int64_t offset, int origin)
{
    if (position >= 0 && ((origin == SEEK_SET && offset == position) || (origin == SEEK_CUR && offset == 0)))
        return position;
    const int64_t r = SeekHandle(handle, offset, origin);
    position = counted ? r : -1;
    return r;
}

#else

// The position is the stream's alone: transfers name it, seeks only move it.
// An error leaves it where it was.
int CTifFileStream::Read(void* buffer, int count)
{
    if (count < 0 || handle == -1 || position < 0)
        return -1;
    const int n = ReadHandle(handle, buffer, count, position);
    position = n < 0 ? position : Advance(position, n, counted);
    return n;
}

int CTifFileStream::Write(const void* buffer, int count)
{
    if (count < 0 || handle == -1 || position < 0)
        return -1;
    const int n = WriteHandle(handle, buffer, count, position);
    position = n < 0 ? position : Advance(position, n, counted);
    return n;
}

int CTifFileStream::ReadMeta(void* buffer, int count)
{
    if (!readOnly || count <= 0 || count > kNearRead || handle == -1 || position < 0)
        return Read(buffer, count);
    if (position < nearAt_ || position - nearAt_ + count > nearBytes_) {
        const int n = ReadHandle(handle, near_, int(sizeof near_), position);
        if (n < 0)
            return -1;
        nearAt_ = position;
        nearBytes_ = n;
    }
    const int64_t left = nearAt_ + nearBytes_ - position;
    const int n = count < left ? count : int(left);  // short only at the end of the file
    std::memcpy(buffer, near_ + (position - nearAt_), size_t(n));
    position += n;
    return n;
}

int64_t CTifFileStream::Seek(int64_t offset, int origin)
{
    if (handle == -1)
        return -1;
    const int64_t r = SeekHandle(position, origin == SEEK_END ? GetLength() : 0, offset, origin);
    if (r >= 0)
        position = r;
    return r;
}

#endif

int64_t CTifFileStream::Tell() { return Seek(0, SEEK_CUR); }

int64_t CTifFileStream::GetLength()
{
    // A file open for reading refuses writers: its length, asked for each
    // value the directory points to, is taken once. A file that shrinks
    // anyway still fails at the short read.
    if (handle == -1)
        return -1;
    if (length >= 0)
        return length;
    const int64_t n = QueryLength();
    if (readOnly)
        length = n;
    return n;
}
