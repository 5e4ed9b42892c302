// tif_stream.h — unbuffered byte stream over a low-level file handle.
//
// The stream does no buffering: codecs move data in large blocks and the
// directory code reads and writes whole blocks. It keeps the position itself
// and transfers at it (POSIX pread and pwrite), so that a seek costs no
// system call; on Windows it follows the handle's position, and a seek to
// where the last transfer ended (consecutive strips) costs none. Opening follows sharing rules:
// readers share a file and refuse writers; a writer or creator refuses everyone.
#pragma once

#include <cstdint>

enum {
    TIF_OPEN_WRITE = 0x1,       // existing file, write only, exclusive
    TIF_OPEN_READWRITE = 0x2,   // existing file, read and write, exclusive
    TIF_OPEN_CREATE = 0x1000,   // create or truncate, read and write, exclusive
};

// Why CTifFileStream::Open failed (its `failure` field).
enum {
    TIF_STREAM_OK = 0,
    TIF_STREAM_NOT_FOUND = 1,   // no such file or directory
    TIF_STREAM_DENIED = 2,      // permission denied (or a read-only file system)
    TIF_STREAM_NOT_FILE = 3,    // a directory or another non-regular file
    TIF_STREAM_IN_USE = 4,      // the sharing rules refuse it
    TIF_STREAM_OTHER = 5,
};

class CTifStream {
public:
    virtual ~CTifStream() {}
    virtual int Open(const char* path, int flags) = 0;  // 1 opened, 0 failed
    virtual int Close() = 0;                            // 1 closed cleanly
    virtual int Read(void* buffer, int count) = 0;      // bytes read, 0 at EOF, -1 error
    // Reads what describes the image (the header, a directory, tag values)
    // as Read does; a stream may serve it from a block read around it.
    virtual int ReadMeta(void* buffer, int count) { return Read(buffer, count); }
    virtual int Write(const void* buffer, int count) = 0;  // bytes written, -1 error
    // Positions are 64-bit on every platform (BigTIFF files pass 4 GiB, and
    // long is 32 bits on Windows).
    virtual int64_t Seek(int64_t offset, int origin) = 0;  // new position or -1
    virtual int64_t GetLength() = 0;                       // file length or -1
    virtual int SetMode(int mode) = 0;                     // previous mode or -1
    virtual int64_t Tell() = 0;                            // position or -1
    virtual int Commit() = 0;                           // 1 data reached the disk
};

class CTifFileStream : public CTifStream {
public:
    CTifFileStream() : handle(-1), failure(TIF_STREAM_OK), position(-1), counted(true) {}
    ~CTifFileStream() override;
    // A copy would close the handle twice.
    CTifFileStream(const CTifFileStream&) = delete;
    CTifFileStream& operator=(const CTifFileStream&) = delete;

    int Open(const char* path, int flags) override;
    int Close() override;
    int Read(void* buffer, int count) override;
    int ReadMeta(void* buffer, int count) override;
    int Write(const void* buffer, int count) override;
    int64_t Seek(int64_t offset, int origin) override;
    int64_t GetLength() override;
    int SetMode(int mode) override;
    int64_t Tell() override;
    int Commit() override;

    int handle;   // -1 while no file is open
    int failure;  // TIF_STREAM_ reason of the last failed Open

private:
    int64_t QueryLength();  // asks the system

    // A file open for reading serves small ReadMeta calls (a directory, its
    // values) from the block around them, read once: the system is asked once
    // per directory rather than once per value. Image data is always read
    // anew, so that a file cut short while open fails its reads.
    static constexpr int kNearRead = 512;  // reads up to this size go through the block
    unsigned char near_[2048];
    int64_t nearAt_ = 0;    // the block's place in the file
    int nearBytes_ = 0;  // its bytes (fewer at the end of the file)

    int64_t position;  // the handle's offset as this stream left it; -1 unknown
    bool counted;   // bytes transferred move the offset by as much (no text mode)
    bool readOnly = false;
    int64_t length = -1;  // of a file open for reading, once asked
};
