// output_file.cpp — see output_file.h.
#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#include "output_file.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>

namespace {

// The temporary files' names, for the interrupt handler (which may not
// allocate): one slot per file being written at once.
constexpr int kSlots = 64;
char g_pending[kSlots][4096];
std::atomic<bool> g_used[kSlots];
std::atomic<int> g_claimed[kSlots];

extern "C" void RemovePendingAndDie(int sig)
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
            std::signal(SIGINT, RemovePendingAndDie);
            std::signal(SIGTERM, RemovePendingAndDie);
            return i;
        }
    }
    return -1;
}

void Forget(int slot)
{
    if (slot < 0)
        return;
    g_used[slot] = false;
    g_claimed[slot] = 0;
}

// Creates `name` as an empty file unless it exists (errno EEXIST then). Not
// fopen's "x" mode: the Windows runtime refuses it as an invalid mode.
bool CreateNew(const std::string& name)
{
#if defined(_WIN32)
    const int fd = _sopen(name.c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY, _SH_DENYNO, _S_IREAD | _S_IWRITE);
    return fd != -1 && _close(fd) == 0;
#else
    const int fd = ::open(name.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
    return fd != -1 && ::close(fd) == 0;
#endif
}

}  // namespace

PendingOutput::~PendingOutput()
{
    if (!tmp_.empty())
        std::remove(tmp_.c_str());
    Forget(slot_);
}

bool PendingOutput::Reserve()
{
    std::random_device seed;
    std::mt19937 rng(seed());
    for (int tries = 0; tries < 100; ++tries) {
        const std::string name = out_ + ".vxtiff-" + std::to_string(rng() % 1000000000u) + ".part";
        // Made only when the name is new, so nothing of anyone else is touched.
        if (CreateNew(name)) {
            tmp_ = name;
            slot_ = Remember(tmp_);
            return true;
        }
        if (errno != EEXIST)
            return false;
    }
    return false;
}

bool PendingOutput::Commit(std::string* why)
{
    std::error_code ec;
    std::filesystem::rename(tmp_, out_, ec);
    if (ec) {
        *why = ec.message();
        return false;
    }
    tmp_.clear();
    return true;
}

std::string DocumentWriter::Reserve()
{
    if (pending_.Reserve())
        return {};
    return std::string("cannot create a file beside OUT: ") + std::strerror(errno);
}

bool DocumentWriter::NextPage(VXIMGINFO* info)
{
    const int ok = pages_ == 0 ? file_.Create(pending_.path().c_str(), info) : file_.AddPage(info);
    pages_ += ok == 1 ? 1 : 0;
    return ok == 1;
}

std::string DocumentWriter::Finish()
{
    if (file_.Close() != 1)
        return "finishing the output failed (disk full?)";
    std::string why;
    if (!pending_.Commit(&why))
        return "cannot put the output in place: " + why;
    return {};
}
