// The file stream and the codec I/O procedures: sharing between openers of one
// path, the bounds of TifReadProc, and a strip that cannot be reached. (A read
// error inside Open is in test_open.cpp: FirstStripPastEnd.)
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "io/tif_exception.h"
#include "io/tif_io.h"
#include "io/tif_stream.h"
#include "support/codec_io.h"
#include "support/platform.h"
#include "support/temp_dir.h"
#include "support/tif_builder.h"
#include "tif/tif_file.h"

namespace {

using namespace tiftest;

const Bytes kContent = PatternRows(100, 1);

class Stream : public ::testing::Test {
protected:
    void SetUp() override { path_ = dir_.Write("s.bin", kContent); }
    TempDir dir_;
    std::string path_;
};

TEST_F(Stream, ReadSeekLength)
{
    CTifFileStream s;
    ASSERT_EQ(s.Open(path_.c_str(), 0), 1);
    EXPECT_EQ(s.GetLength(), 100);
    EXPECT_EQ(s.Seek(90, SEEK_SET), 90);
    unsigned char buf[32];
    EXPECT_EQ(s.Read(buf, 32), 10);
    EXPECT_EQ(std::memcmp(buf, kContent.data() + 90, 10), 0);
    EXPECT_EQ(s.Read(buf, 32), 0);
    EXPECT_EQ(s.Seek(-20, SEEK_END), 80);
    EXPECT_EQ(s.Tell(), 80);
    EXPECT_EQ(s.Seek(-1, SEEK_SET), -1);
    EXPECT_EQ(s.Read(buf, -1), -1);
    EXPECT_EQ(s.Write(buf, 4), -1);  // opened for reading
#if defined(_WIN32)
    // Binary it stays: text mode would rewrite CR LF and stop at ^Z.
    EXPECT_EQ(s.SetMode(_O_TEXT), -1);
    EXPECT_EQ(s.SetMode(_O_BINARY), _O_BINARY);
#else
    EXPECT_EQ(s.SetMode(0), 0);
#endif
    EXPECT_EQ(s.Open(path_.c_str(), 0), 0);  // already open
    EXPECT_EQ(s.Close(), 1);
    EXPECT_EQ(s.handle, -1);
}

TEST_F(Stream, FailedCloseStillClosed)
{
    auto s = std::make_unique<CTifFileStream>();
    ASSERT_EQ(s->Open(path_.c_str(), 0), 1);
    CloseDescriptor(s->handle);  // the descriptor goes away behind the stream's back
    EXPECT_EQ(s->Close(), 0);
    EXPECT_EQ(s->handle, -1);
    s.reset();  // no second close
}

TEST_F(Stream, OpenFailures)
{
    CTifFileStream s;
    EXPECT_EQ(s.Open(nullptr, 0), 0);
    EXPECT_EQ(s.Open("", 0), 0);
    EXPECT_EQ(s.Open(dir_.Path("missing").c_str(), 0), 0);
    EXPECT_EQ(s.Open(dir_.Path("missing").c_str(), TIF_OPEN_WRITE), 0);
    EXPECT_EQ(s.Open(dir_.path().c_str(), 0), 0);
    EXPECT_EQ(s.Open(dir_.path().c_str(), TIF_OPEN_READWRITE), 0);
    EXPECT_EQ(s.Open(dir_.path().c_str(), TIF_OPEN_CREATE), 0);
    EXPECT_EQ(s.Open(dir_.Path("no/such/dir").c_str(), TIF_OPEN_CREATE), 0);
    EXPECT_EQ(s.handle, -1);
}

TEST_F(Stream, ReadersShareAndRefuseCreatorsWithoutTruncation)
{
    CTifFileStream a, b, c;
    ASSERT_EQ(a.Open(path_.c_str(), 0), 1);
    ASSERT_EQ(b.Open(path_.c_str(), 0), 1);
    EXPECT_EQ(c.Open(path_.c_str(), TIF_OPEN_CREATE), 0);
    EXPECT_EQ(c.Open(path_.c_str(), TIF_OPEN_WRITE), 0);
    EXPECT_EQ(c.Open(path_.c_str(), TIF_OPEN_READWRITE), 0);
    EXPECT_EQ(ReadFileBytes(path_), kContent);
    EXPECT_EQ(a.GetLength(), 100);
    a.Close();
    EXPECT_EQ(c.Open(path_.c_str(), TIF_OPEN_CREATE), 0);  // b still reads
    b.Close();
    EXPECT_EQ(c.Open(path_.c_str(), TIF_OPEN_CREATE), 1);
    EXPECT_EQ(c.GetLength(), 0);
}

TEST_F(Stream, WriterExcludesEveryone)
{
    for (int flags : {TIF_OPEN_WRITE, TIF_OPEN_READWRITE, TIF_OPEN_CREATE}) {
        auto w = std::make_unique<CTifFileStream>();
        ASSERT_EQ(w->Open(path_.c_str(), flags), 1) << flags;
        CTifFileStream other;
        EXPECT_EQ(other.Open(path_.c_str(), 0), 0) << flags;
        EXPECT_EQ(other.Open(path_.c_str(), TIF_OPEN_WRITE), 0) << flags;
        EXPECT_EQ(other.Open(path_.c_str(), TIF_OPEN_CREATE), 0) << flags;
        w.reset();  // the destructor closes and releases
        ASSERT_EQ(other.Open(path_.c_str(), 0), 1) << flags;
    }
}

// Every pair of openers of one path: readers share; a writer or creator
// refuses anyone else, and is refused while anyone holds the file. A refusal is
// "in use", at once, and through CTifFile too.
TEST_F(Stream, SharingRefusalsSayInUse)
{
    const int kRead = 0;
    const struct {
        int holder, opener;
        bool opens;
    } kCases[] = {
        {kRead, kRead, true},
        {kRead, TIF_OPEN_WRITE, false},
        {kRead, TIF_OPEN_READWRITE, false},
        {kRead, TIF_OPEN_CREATE, false},
        {TIF_OPEN_WRITE, kRead, false},
        {TIF_OPEN_READWRITE, kRead, false},
        {TIF_OPEN_CREATE, kRead, false},
        {TIF_OPEN_CREATE, TIF_OPEN_CREATE, false},
        {TIF_OPEN_WRITE, TIF_OPEN_READWRITE, false},
    };
    for (const auto& c : kCases) {
        dir_.Write("s.bin", kContent);
        CTifFileStream holder, opener;
        ASSERT_EQ(holder.Open(path_.c_str(), c.holder), 1) << c.holder;
        EXPECT_EQ(opener.Open(path_.c_str(), c.opener), c.opens ? 1 : 0) << c.holder << " " << c.opener;
        EXPECT_EQ(opener.failure, c.opens ? TIF_STREAM_OK : TIF_STREAM_IN_USE) << c.holder << " " << c.opener;
    }
    const std::string tif = dir_.Write("t.tif", TiffBuilder().StripImage({8, 2, 1, 8, kMinIsBlack, 2},
                                                                         PatternRows(8, 2)).Build());
    VXIMGINFO info{VXIMG_MINISBLACK, 0, 8, 2, 1, 8, 0, 1, 0, 0, 0.0, 0.0};
    CTifFile reader, writer;
    ASSERT_EQ(reader.Open(tif.c_str()), 1);
    EXPECT_EQ(writer.Create(tif.c_str(), &info), 0);
    EXPECT_EQ(CTifFile::GetLastFailure(), VXTIFF_FAIL_IN_USE);
    unsigned char row[8];
    EXPECT_EQ(reader.ReadLine(row), 1);  // the refused Create neither cut nor removed it
    reader.Close();
    ASSERT_EQ(writer.Create(tif.c_str(), &info), 1);
    EXPECT_EQ(reader.Open(tif.c_str()), 0);
    EXPECT_EQ(CTifFile::GetLastFailure(), VXTIFF_FAIL_IN_USE);
}

// Positions are 64-bit: past 2 GiB (a 32-bit long on Windows) and past
// 4 GiB (BigTIFF) a seek there and back must land where it was asked.
// The file is sparse: only its last bytes are written.
TEST_F(Stream, OffsetsPastFourGiB)
{
    const int64_t kFar = int64_t(5) << 30;
    const std::string p = dir_.Path("far.bin");
    {
        CTifFileStream s;
        ASSERT_EQ(s.Open(p.c_str(), TIF_OPEN_CREATE), 1);
        ASSERT_EQ(s.Seek(kFar, SEEK_SET), kFar);
        if (s.Write("tail", 4) != 4)
            GTEST_SKIP() << "no room for a sparse 5 GiB file here";
        EXPECT_EQ(s.Tell(), kFar + 4);
        EXPECT_EQ(s.Close(), 1);
    }
    CTifFileStream s;
    ASSERT_EQ(s.Open(p.c_str(), 0), 1);
    EXPECT_EQ(s.GetLength(), kFar + 4);
    for (const int64_t at : {kFar, kFar + 2, int64_t(0xC0000000u), int64_t(100)}) {
        EXPECT_EQ(s.Seek(at, SEEK_SET), at) << at;
        char back[4] = {};
        const int n = s.Read(back, 4);
        if (at >= kFar) {
            ASSERT_EQ(n, int(kFar + 4 - at)) << at;
            EXPECT_EQ(std::memcmp(back, "tail" + (at - kFar), size_t(n)), 0) << at;
        } else {
            EXPECT_EQ(n, 4) << at;
            EXPECT_EQ(std::memcmp(back, "\0\0\0\0", 4), 0) << at;  // the hole reads as zeros
        }
    }
}

// A strip past 2 GiB is reached and read like any other.
TEST_F(Stream, StripPastTwoGiBReads)
{
    const uint32_t kFar = 0xC0000000u;
    const Bytes pixels = PatternRows(8, 2);
    TiffBuilder b;
    b.StripImage({8, 2, 1, 8, kMinIsBlack, 2}, pixels);
    b.Set(kTagStripOffsets, kLong, {kFar});
    const std::string p = dir_.Write("far.tif", b.Build());
    {
        CTifFileStream s;
        ASSERT_EQ(s.Open(p.c_str(), TIF_OPEN_WRITE), 1);
        ASSERT_EQ(s.Seek(int64_t(kFar), SEEK_SET), int64_t(kFar));
        if (s.Write(pixels.data(), int(pixels.size())) != int(pixels.size()))
            GTEST_SKIP() << "no room for a sparse 3 GiB file here";
    }
    CTifFile f;
    ASSERT_EQ(f.Open(p.c_str()), 1) << CTifFile::GetLastFailureText();
    Bytes rows(16, 0);
    EXPECT_EQ(f.ReadLines(rows.data(), 2), 2);
    EXPECT_EQ(rows, pixels);
}

TEST_F(Stream, CreateWinsOverOtherFlagsAndWrites)
{
    CTifFileStream s;
    ASSERT_EQ(s.Open(path_.c_str(), TIF_OPEN_CREATE | TIF_OPEN_WRITE | TIF_OPEN_READWRITE), 1);
    EXPECT_EQ(s.GetLength(), 0);
    EXPECT_EQ(s.Write("abcdef", 6), 6);
    EXPECT_EQ(s.Seek(2, SEEK_SET), 2);
    char back[4] = {};
    EXPECT_EQ(s.Read(back, 3), 3);
    EXPECT_EQ(std::string(back), "cde");
    EXPECT_EQ(s.Commit(), 1);
    EXPECT_EQ(s.Close(), 1);
    EXPECT_EQ(ReadFileBytes(path_), (Bytes{'a', 'b', 'c', 'd', 'e', 'f'}));
}

#if !defined(_WIN32)  // Windows has no umask over its modes
TEST_F(Stream, CreatedFilesFollowTheUmask)
{
    const mode_t old = umask(027);
    CTifFileStream s;
    const std::string p = dir_.Path("new.bin");
    const int ok = s.Open(p.c_str(), TIF_OPEN_CREATE);
    umask(old);
    ASSERT_EQ(ok, 1);
    struct stat st;
    ASSERT_EQ(stat(p.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}
#endif

// Every transfer moves the stream's position by what it moved, and the next
// transfer happens there: on POSIX the stream transfers at its own position;
// on Windows it skips the system call for a seek to where it already is, so
// its idea of the position must follow the handle's exactly.
TEST_F(Stream, PositionFollowsEveryTransfer)
{
    enum Op { kSeekSet, kSeekCur, kSeekEnd, kRead, kWrite };
    struct Step {
        Op op;
        long arg;         // offset, or byte count
        long result;      // the call's result
        long dataAt;      // kRead: offset of the bytes expected (pattern before writes)
    };
    // Bytes 20..23 are overwritten with 0xA0.. by the write step.
    const Step steps[] = {
        {kRead, 8, 8, 0},          // from the open position
        {kSeekSet, 0, 0, 0},       // back where the read began
        {kRead, 4, 4, 0},
        {kSeekCur, 0, 4, 0},
        {kSeekSet, 90, 90, 0},
        {kRead, 32, 10, 90},       // short at the end of the file
        {kSeekSet, 100, 100, 0},
        {kRead, 4, 0, 0},
        {kSeekSet, 95, 95, 0},     // within what the short read passed
        {kRead, 5, 5, 95},
        {kSeekSet, -1, -1, 0},     // a failed seek leaves the handle where it was
        {kRead, 0, 0, 0},
        {kSeekSet, 95, 95, 0},
        {kRead, 5, 5, 95},
        {kSeekSet, 20, 20, 0},
        {kWrite, 4, 4, 0},
        {kSeekSet, 20, 20, 0},     // back over the written bytes
        {kRead, 4, 4, -1},
        {kRead, 4, 4, 24},
        {kSeekEnd, -10, 90, 0},
        {kSeekSet, 90, 90, 0},
        {kRead, 2, 2, 90},
    };
    CTifFileStream s;
    ASSERT_EQ(s.Open(path_.c_str(), TIF_OPEN_READWRITE), 1);
    const unsigned char written[4] = {0xA0, 0xA1, 0xA2, 0xA3};
    for (size_t i = 0; i < sizeof steps / sizeof steps[0]; ++i) {
        const Step& st = steps[i];
        unsigned char buf[64];
        switch (st.op) {
        case kSeekSet: EXPECT_EQ(s.Seek(st.arg, SEEK_SET), st.result) << i; break;
        case kSeekCur: EXPECT_EQ(s.Seek(st.arg, SEEK_CUR), st.result) << i; break;
        case kSeekEnd: EXPECT_EQ(s.Seek(st.arg, SEEK_END), st.result) << i; break;
        case kWrite: EXPECT_EQ(s.Write(written, int(st.arg)), st.result) << i; break;
        case kRead:
            ASSERT_EQ(s.Read(buf, int(st.arg)), st.result) << i;
            if (st.dataAt < 0)
                EXPECT_EQ(std::memcmp(buf, written, 4), 0) << i;
            else
                EXPECT_EQ(std::memcmp(buf, kContent.data() + st.dataAt, size_t(st.result)), 0) << i;
            break;
        }
#if defined(_WIN32)
        // The system's position agrees with the stream's after every step.
        if (st.result >= 0) {
            EXPECT_EQ(::lseek(s.handle, 0, SEEK_CUR), s.Tell()) << i;
        }
#endif
    }
}

// A CTifFile whose stream is opened on `path` and whose strip has `left` bytes.
struct ProcContext {
    CTifFile file;
    CTifFileStream* stream;
    ProcContext(const std::string& path, int flags, int left)
    {
        stream = new CTifFileStream;
        file.m_pStream = stream;
        EXPECT_EQ(stream->Open(path.c_str(), flags), 1);
        file.m_nStripBytes = left;
    }
};

TEST_F(Stream, ReadProcNeverPassesTheStripByteCount)
{
    ProcContext c(path_, 0, 30);
    ASSERT_EQ(c.stream->Seek(10, SEEK_SET), 10);
    unsigned char buf[64];
    std::memset(buf, 0xEE, sizeof buf);
    EXPECT_EQ(TifReadProc(buf, 64, &c.file), 30);
    EXPECT_EQ(std::memcmp(buf, kContent.data() + 10, 30), 0);
    EXPECT_EQ(buf[30], 0xEE);
    EXPECT_EQ(c.file.m_nStripBytes, 0);
    EXPECT_EQ(TifReadProc(buf, 64, &c.file), 0);
    EXPECT_EQ(c.stream->Tell(), 40);  // nothing read once the strip is used up

    c.file.m_nStripBytes = 50;
    EXPECT_EQ(TifReadProc(buf, 20, &c.file), 20);
    EXPECT_EQ(c.file.m_nStripBytes, 30);
    EXPECT_EQ(TifReadProc(buf, 0, &c.file), 0);
    c.file.m_nStripBytes = -5;
    EXPECT_EQ(TifReadProc(buf, 20, &c.file), 0);
    EXPECT_EQ(c.stream->Tell(), 60);
}

TEST_F(Stream, ReadProcThrowsOnAShortRead)
{
    ProcContext c(path_, 0, 1000);  // the strip claims more than the file has
    ASSERT_EQ(c.stream->Seek(80, SEEK_SET), 80);
    unsigned char buf[64];
    EXPECT_EQ(ThrownCode([&] { TifReadProc(buf, 64, &c.file); }), CTifException::kShortRead);
    EXPECT_EQ(c.file.m_nStripBytes, 1000);
}

TEST_F(Stream, WriteProcCountsAndThrowsOnAShortWrite)
{
    {
        ProcContext c(dir_.Path("w.bin"), TIF_OPEN_CREATE, 0);
        unsigned char data[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
        EXPECT_EQ(TifWriteProc(data, 10, &c.file), 10);
        EXPECT_EQ(TifWriteProc(data, 4, &c.file), 4);
        EXPECT_EQ(c.file.m_nStripBytes, 14);
        EXPECT_EQ(c.stream->GetLength(), 14);
    }
    ProcContext r(path_, 0, 0);  // read only: every write fails
    unsigned char data[4] = {};
    EXPECT_EQ(ThrownCode([&] { TifWriteProc(data, 4, &r.file); }), CTifException::kShortWrite);
    EXPECT_EQ(r.file.m_nStripBytes, 0);
}

// A file stream whose seeks to one offset fail.
struct FailingSeek : CTifFileStream {
    int64_t bad = -1;
    int64_t Seek(int64_t o, int origin) override { return o == bad ? -1 : CTifFileStream::Seek(o, origin); }
};

TEST(StreamFailure, StripThatCannotBeReachedDeliversNothing)
{
    // Strip 0 is followed by one row's worth of unrelated bytes, which its byte
    // count includes: a decoder that kept them would take them for row 4.
    BuiltImage image{10, 8, 1, 8, kMinIsBlack, 4};
    TiffBuilder b;
    Bytes pixels = PatternRows(10, 8);
    b.StripImage(image, pixels);
    Bytes strip0(pixels.begin(), pixels.begin() + 40);
    strip0.insert(strip0.end(), 10, 0x77);
    const uint32_t s0 = b.AddData(strip0);
    const uint32_t s1 = b.AddData(Bytes(pixels.begin() + 40, pixels.end()));
    b.Set(kTagStripOffsets, kLong, {s0, s1}).Set(kTagStripByteCounts, kLong, {50, 40});
    TempDir dir;
    const std::string path = dir.Write("f.tif", b.Build());
    CTifFile f;
    ASSERT_EQ(f.Open(path.c_str()), 1);
    auto* failing = new FailingSeek;
    failing->bad = s1;
    ASSERT_EQ(failing->Open(path.c_str(), 0), 1);
    delete f.m_pStream;
    f.m_pStream = failing;
    Bytes rows(80, 0);
    EXPECT_EQ(f.ReadLines(rows.data(), 8), 4);
    EXPECT_EQ(f.ReadLine(rows.data()), 0);
    EXPECT_EQ(f.ReadLines(rows.data(), 4), 0);
    EXPECT_EQ(f.SeekLine(5), 0);
}

}  // namespace
