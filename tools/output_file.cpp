// output_file.cpp — see output_file.h.
#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <share.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "output_file.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <system_error>

namespace {

// The temporary files' names, for the interrupt handler (which may not
// allocate): one slot per file being written at once.
constexpr int kSlots = 64;
char g_pending[kSlots][4096];
std::atomic<bool> g_used[kSlots];
std::atomic<int> g_claimed[kSlots];
// Copies into OUT itself under way: an interrupt then waits for them, so that
// OUT is either as it was or complete.
std::atomic<int> g_copying{0};
std::atomic<int> g_deferred{0};

int ProcessId()
{
#if defined(_WIN32)
    return _getpid();
#else
    return int(getpid());
#endif
}

void RemovePendingAndDie(int sig)
{
    for (int i = 0; i < kSlots; ++i) {
        if (!g_used[i].load())
            continue;
#if defined(_WIN32)
        std::remove(g_pending[i]);
#else
        unlink(g_pending[i]);
#endif
    }
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

extern "C" void OnInterrupt(int sig)
{
    if (g_copying.load() > 0) {
        g_deferred = sig;
        return;
    }
    RemovePendingAndDie(sig);
}

// Once, for the signals that end a run. One ignored when the tool started
// (nohup, a background job) stays ignored.
void CatchInterrupts()
{
    static std::atomic<bool> caught{false};
    if (caught.exchange(true))
        return;
#if defined(_WIN32)
    for (int sig : {SIGINT, SIGTERM})
        if (std::signal(sig, OnInterrupt) == SIG_IGN)
            std::signal(sig, SIG_IGN);
#else
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction was = {};
        if (sigaction(sig, nullptr, &was) == 0 && was.sa_handler != SIG_IGN)
            std::signal(sig, OnInterrupt);
    }
#endif
}

// A slot holding `name`, -1 when none is free or the name too long.
int Remember(const std::string& name)
{
    if (name.size() >= sizeof g_pending[0])
        return -1;
    for (int i = 0; i < kSlots; ++i) {
        int expected = 0;
        if (g_claimed[i].compare_exchange_strong(expected, 1)) {
            std::memcpy(g_pending[i], name.c_str(), name.size() + 1);
            g_used[i] = true;  // only a complete name is seen
            CatchInterrupts();
            return i;
        }
    }
    return -1;
}

void Forget(int* slot)
{
    if (*slot < 0)
        return;
    g_used[*slot] = false;
    g_claimed[*slot] = 0;
    *slot = -1;
}

std::string Text(int err) { return std::generic_category().message(err); }

// Creates `name` as an empty file unless it exists (errno EEXIST then): its
// descriptor, or -1. Not fopen's "x" mode: the Windows runtime refuses it.
int CreateNew(const std::string& name)
{
#if defined(_WIN32)
    return _sopen(name.c_str(), _O_CREAT | _O_EXCL | _O_RDWR | _O_BINARY, _SH_DENYNO, _S_IREAD | _S_IWRITE);
#else
    return ::open(name.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0666);
#endif
}

int CloseFd(int fd)
{
#if defined(_WIN32)
    return _close(fd);
#else
    return ::close(fd);
#endif
}

// Writes all of `size` bytes; false (errno set) when a write fails.
bool WriteAll(int fd, const char* p, size_t size)
{
    while (size > 0) {
#if defined(_WIN32)
        const int n = _write(fd, p, unsigned(size > (1u << 30) ? (1u << 30) : size));
#else
        const ssize_t n = ::write(fd, p, size);
#endif
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            errno = n == 0 ? EIO : errno;
            return false;
        }
        p += n, size -= size_t(n);
    }
    return true;
}

// Where temporary files' names begin: beside `beside`, or in $TMPDIR when it
// is empty; "" or why not.
std::string TempBase(const std::string& beside, std::string* base)
{
    *base = beside + ".vxtiff-";
    if (!beside.empty())
        return {};
    std::error_code ec;
    const std::filesystem::path dir = std::filesystem::temp_directory_path(ec);
    if (ec)
        return "no directory for temporary files: " + ec.message();
    *base = (dir / "vxtiff-").string();
    return {};
}

// Creates a new file named `base`, a number and ".part" (its name in *name):
// its descriptor, or -1 with errno set.
int CreateUnique(const std::string& base, std::string* name)
{
    // The names need only differ between runs that may meet (each is made
    // only when new): the clock and the process seed them. std::random_device
    // would ask the processor first (CPUID), a trap to the hypervisor on a
    // virtual machine that costs more than a small command's work.
    const auto ticks = uint64_t(std::chrono::steady_clock::now().time_since_epoch().count());
    std::mt19937 rng(uint32_t(ticks ^ ticks >> 32) ^ uint32_t(ProcessId()) * 2654435761u);
    int fd = -1;
    for (int tries = 0; tries < 100 && fd == -1; ++tries) {
        *name = base + std::to_string(rng() % 1000000000u) + ".part";
        // Made only when the name is new, so nothing of anyone else is touched.
        fd = CreateNew(*name);
        if (fd == -1 && errno != EEXIST)
            break;
    }
    return fd;
}

// The new file `fd` made a stream in *stream, or closed when `stream` is
// null (the writer opens it by name); "" or why not.
std::string HandOver(int fd, std::FILE** stream)
{
    if (stream == nullptr)
        return CloseFd(fd) != 0 ? "cannot create: " + Text(errno) : std::string();
    *stream = fdopen(fd, "wb");
    if (*stream != nullptr)
        return {};
    const int err = errno;
    CloseFd(fd);
    return "cannot create: " + Text(err);
}

// Copies all of `from` to `fd`; 0 or the error.
int CopyAll(std::FILE* from, int fd)
{
    char buf[65536];
    size_t n = 0;
    int err = 0;
    while (err == 0 && (n = std::fread(buf, 1, sizeof buf, from)) > 0)
        err = WriteAll(fd, buf, n) ? 0 : errno;
    if (err == 0 && std::ferror(from))
        err = EIO;
    return err;
}

#if !defined(_WIN32)
// `path` with its symbolic links followed to the name they end at (which
// need not exist yet: a dangling link is followed to the file it names).
std::string FollowLinks(std::string path)
{
    namespace fs = std::filesystem;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st;
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return path;
        std::error_code ec;
        const fs::path to = fs::read_symlink(path, ec);
        if (ec)
            return path;
        path = to.is_absolute() ? to.string() : (fs::path(path).parent_path() / to).string();
    }
    return path;
}

// Room for `size` bytes in OUT before any of it is overwritten: a full disk
// is found while OUT is still whole. 0 or the error.
int Reserve(int fd, off_t size)
{
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return 0;
    const int r = posix_fallocate(fd, 0, size);
    if (r == 0 || r == EOPNOTSUPP || r == EINVAL)
        return 0;
    if (st.st_size < size && ftruncate(fd, st.st_size) != 0) {
        // The length the failed reservation may have left: nothing better to do.
    }
    return r;
}

// Room in OUT (`fd`) for all of `from`, whose size goes in *size, and OUT
// wound back to its start; 0 or the error.
int Rewind(std::FILE* from, int fd, off_t* size)
{
    struct stat st;
    if (fstat(fileno(from), &st) != 0)
        return errno;
    *size = st.st_size;
    if (const int err = Reserve(fd, st.st_size); err != 0)
        return err;
    return lseek(fd, 0, SEEK_SET) != 0 ? errno : 0;
}
#endif

}  // namespace

std::string WriteCause(int err)
{
    return err != 0 ? Text(err) : std::string("cause unknown");
}

std::string CannotWrite(int err)
{
    return "cannot write: " + WriteCause(err);
}

OutputFile::~OutputFile()
{
    if (stream_ != nullptr && stream_ != stdout)
        std::fclose(stream_);
    if (fd_ > 2)
        CloseFd(fd_);
    if (!tmp_.empty())
        std::remove(tmp_.c_str());
    Forget(&slot_);
}

std::string OutputFile::Open(const std::vector<std::string>& inputs, Writer writer)
{
    status_ = kExitFailed;
    for (const std::string& in : inputs) {
        std::error_code ec;
        if (out_ != "-" && std::filesystem::equivalent(in, out_, ec))
            return inputs.size() == 1 ? "IN and OUT are the same file" : "OUT is the same file as " + in;
    }
    status_ = kExitOutput;
    return Decide(writer);
}

// A temporary file beside `beside`, or in $TMPDIR when it is empty; "" or
// why not.
std::string OutputFile::MakeTemp(const std::string& beside, Writer writer)
{
    std::string base;
    if (std::string why = TempBase(beside, &base); !why.empty())
        return why;
    const int fd = CreateUnique(base, &tmp_);
    if (fd == -1) {
        const int err = errno;
        tmp_.clear();
        std::string why = (beside.empty() ? "cannot create a temporary file: " : "cannot create: ") + Text(err);
        errno = err;  // for the caller's choice of another way
        return why;
    }
    slot_ = Remember(tmp_);
#if !defined(_WIN32)
    if (existed_ && !beside.empty() && fchmod(fd, (modeBits_ & 0777) | S_IRUSR | S_IWUSR) != 0) {
        // Readable as a new file is until Commit: no worse than before.
    }
#endif
    return HandOver(fd, writer == kStream ? &stream_ : nullptr);
}

#if defined(_WIN32)

std::string OutputFile::Decide(Writer writer)
{
    target_ = out_;
    if (out_ != "-")
        return MakeTemp(out_, writer);
    // Text mode would turn every 0x0A byte of the image into CR LF.
    _setmode(_fileno(stdout), _O_BINARY);
    mode_ = kStraight;
    fd_ = 1;
    if (writer == kByName)
        return MakeTemp("", writer);
    stream_ = stdout;
    return {};
}

#else

// OUT not a regular file (a device, a FIFO, standard output): written
// straight through; "" or why not.
std::string OutputFile::OpenStraight(Writer writer)
{
    // A FIFO waits here for its reader; one that closes early is a failed
    // write, not a silent death.
    fd_ = out_ == "-" ? 1 : ::open(out_.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd_ == -1)
        return "cannot open for writing: " + Text(errno);
    std::signal(SIGPIPE, SIG_IGN);
    mode_ = kStraight;
    if (writer == kByName)
        return MakeTemp("", writer);
    stream_ = fd_ == 1 ? stdout : fdopen(fd_, "wb");
    if (stream_ == nullptr)
        return "cannot open for writing: " + Text(errno);
    fd_ = fd_ == 1 ? 1 : -1;  // closed with the stream
    return {};
}

// OUT itself opened, to be written once the output is complete: it has other
// links, or (`besideFailed` says why) no file can be made beside it; "" or
// why not.
std::string OutputFile::OpenInPlace(Writer writer, const std::string& besideFailed)
{
    fd_ = ::open(target_.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd_ == -1)
        return besideFailed.empty() ? "cannot open for writing: " + Text(errno) : besideFailed;
    mode_ = kCopyIn;
    if (!besideFailed.empty()) {
        Say("note: " + out_ + ": its directory is not writable; the file is overwritten in place");
        return MakeTemp("", writer);
    }
    const std::string why = MakeTemp(target_, writer);
    return why.empty() ? why : MakeTemp("", writer);
}

std::string OutputFile::Decide(Writer writer)
{
    if (out_ == "/dev/stdout")
        out_ = "-";  // its link leads to the file the shell opened: written through that opening
    struct stat st = {};
    if (out_ == "-")
        return OpenStraight(writer);
    if (::stat(out_.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
        return S_ISDIR(st.st_mode) ? CannotWrite(EISDIR) : OpenStraight(writer);
    target_ = FollowLinks(out_);
    existed_ = ::stat(target_.c_str(), &st) == 0;
    if (existed_) {
        modeBits_ = unsigned(st.st_mode & 07777);
        owner_ = long(st.st_uid), group_ = long(st.st_gid);
    }
    std::string why;
    if (!existed_ || st.st_nlink == 1) {
        why = MakeTemp(target_, writer);
        const int err = errno;
        if (why.empty() || !existed_ || (err != EACCES && err != EPERM))
            return why;
    }
    return OpenInPlace(writer, why);
}

#endif

std::string OutputFile::Commit()
{
    if (stream_ != nullptr) {
        const bool ok = stream_ == stdout ? std::fflush(stream_) == 0 : std::fclose(stream_) == 0;
        const int err = errno;
        stream_ = nullptr;
        if (!ok)
            return CannotWrite(err);
    }
    std::string why;
    if (mode_ == kReplace) {
#if !defined(_WIN32)
        if (existed_) {
            if (geteuid() == 0 && chown(tmp_.c_str(), uid_t(owner_), gid_t(group_)) != 0)
                return "cannot keep the owner: " + Text(errno);
            if (chmod(tmp_.c_str(), mode_t(modeBits_)) != 0)
                return "cannot keep the permissions: " + Text(errno);
        }
#endif
        std::error_code ec;
        std::filesystem::rename(tmp_, target_, ec);
        if (ec)
            return "cannot replace the file: " + ec.message();
        tmp_.clear();
    } else if (!tmp_.empty()) {
        why = CopyTo(fd_, mode_ == kCopyIn);
    }
    if (fd_ > 2 && CloseFd(fd_) != 0 && why.empty())
        why = CannotWrite(errno);
    fd_ = -1;
    return why;
}

// Copies the temporary file to `fd` (OUT itself, from its start when
// `inPlace`); "" or why not.
std::string OutputFile::CopyTo(int fd, bool inPlace)
{
    std::FILE* from = std::fopen(tmp_.c_str(), "rb");
    if (from == nullptr)
        return "cannot read the temporary file: " + Text(errno);
    int err = 0;
#if !defined(_WIN32)
    off_t size = 0;
    if (inPlace && (err = Rewind(from, fd, &size)) != 0) {
        std::fclose(from);
        return CannotWrite(err);
    }
#endif
    if (inPlace)
        ++g_copying;
    err = CopyAll(from, fd);
#if !defined(_WIN32)
    if (err == 0 && inPlace && ftruncate(fd, size) != 0)
        err = errno;
#endif
    std::fclose(from);
    if (inPlace && --g_copying == 0 && g_deferred.load() != 0)
        RemovePendingAndDie(g_deferred.load());
    return err != 0 ? CannotWrite(err) : std::string();
}

bool DocumentWriter::NextPage(VXIMGINFO* info)
{
    const int ok = pages_ == 0 ? file_.Create(output_.path().c_str(), info) : file_.AddPage(info);
    pages_ += ok == 1 ? 1 : 0;
    return ok == 1;
}

std::string DocumentWriter::Finish()
{
    errno = 0;
    if (file_.Close() != 1)
        return CannotWrite(errno);
    return output_.Commit();
}
