// tool_common.cpp — see tool_common.h.
#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

#include "tool_common.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tif/tif_file.h"

namespace {

constexpr int64_t kProgressBytes = int64_t(4) << 20;  // smaller pages of a single-page file get no bar
constexpr int kBarWidth = 40;

// A bar is drawn and its line not ended: a message starts on a line of its own.
std::atomic<bool> g_lineOpen{false};

}  // namespace

std::string OpenFailure(const char* path, int page)
{
    const int failure = CTifFile::GetLastFailure();
    std::string why = CTifFile::GetLastFailureText();
    if (failure == VXTIFF_FAIL_NO_PAGE) {
        const int pages = CTifFile::CountPages(path);
        why = "no page " + std::to_string(page) + " (the file has " + std::to_string(pages) +
              (pages == 1 ? " page)" : " pages)");
    } else if (failure == VXTIFF_FAIL_NO_FILE || failure == VXTIFF_FAIL_PERMISSION) {
        // The library names the usual causes; the system knows the others
        // (a name too long, a loop of links, no descriptor left...).
        errno = 0;
        std::FILE* fp = std::fopen(path, "rb");
        const int err = errno;
        if (fp != nullptr)
            std::fclose(fp);
        else if (err != 0 && err != ENOENT && err != EACCES)
            why = std::strerror(err);
    }
    return why;
}

void Say(const std::string& text)
{
    const std::string line = (g_lineOpen.exchange(false) ? "\nvxtiff: " : "vxtiff: ") + text + "\n";
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
}

int Usage(const std::string& why)
{
    Say(why + " (vxtiff --help tells more)");
    return kExitUsage;
}

bool StderrIsTerminal()
{
#if defined(_WIN32)
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(STDERR_FILENO) != 0;
#endif
}

void Progress::Page(int index, int count)
{
    page_ = index, pages_ = count;
}

void Progress::Start(int rows, int64_t bytes)
{
    rows_ = rows;
    filled_ = -1;
    active_ = on_ && (pages_ > 1 || bytes >= kProgressBytes);
    Draw(0);
}

void Progress::Rows(int done)
{
    Draw(done);
}

void Progress::Draw(int done)
{
    if (!active_)
        return;
    const int filled = rows_ > 0 ? int(int64_t(done) * kBarWidth / rows_) : kBarWidth;
    if (filled == filled_ && done != rows_)
        return;
    filled_ = filled;
    char pages[48] = "";
    if (pages_ > 1)
        std::snprintf(pages, sizeof pages, "page %d/%d ", page_, pages_);
    std::fprintf(stderr, "\r%s[%.*s%*s] %d/%d rows", pages, filled, "########################################",
                 kBarWidth - filled, "", done, rows_);
    std::fflush(stderr);
    g_lineOpen = true;
}

void Progress::End()
{
    if (g_lineOpen.exchange(false)) {
        std::fputc('\n', stderr);
        std::fflush(stderr);
    }
    active_ = false;
}

void VXTIFF_STDCALL Progress::Callback(void* self, int written, int total)
{
    auto* p = static_cast<Progress*>(self);
    if (p->rows_ != total)
        p->Start(total, kProgressBytes);  // the library calls only for large images
    p->Draw(written);
}
