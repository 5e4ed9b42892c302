// tool_common.h — what every vxtiff command shares: exit statuses, the
// messages on standard error, the progress bar, and the reason an input could
// not be opened.
#pragma once

#include <cstdint>
#include <string>

#include "convert/tif2bmp.h"

// Exit statuses of every command (listed in --help and the README).
enum {
    kExitOk = 0,       // done
    kExitFailed = 1,   // the input cannot be read or converted; nothing written
    kExitUsage = 2,    // bad command line
    kExitDamaged = 3,  // written whole, but lines of the input are damaged (a warning per page, salvage.h)
    kExitOutput = 4,   // the output cannot be created or written
};

// Rows decoded and encoded per call: what a command holds of a page at once.
constexpr size_t kBandBytes = size_t(4) << 20;

// Why page `page` (from 1) of `path` did not open, from the library's last
// failure: "not a TIFF file", "no such page (the file has 2)", or the
// system's text where the file itself could not be opened for a cause the
// library does not name ("File name too long"). Call it right after the
// failed open.
std::string OpenFailure(const char* path, int page);

// One line on standard error, "vxtiff: " first; an unfinished progress bar
// is ended before it. Safe from several threads (one write per line).
void Say(const std::string& text);
// A bad command line: says why and returns kExitUsage.
int Usage(const std::string& why);

bool StderrIsTerminal();

// A bar on the terminal counting the pages and the rows of the page being
// written, redrawn only when it changes. Off unless asked for; a page below
// a few megabytes gets no bar unless the document has several pages.
class Progress {
public:
    explicit Progress(bool on) : on_(on) {}
    ~Progress() { End(); }
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    // Page `index` (from 1) of `count` is next.
    void Page(int index, int count);
    // The page begins: `rows` rows, `bytes` decoded.
    void Start(int rows, int64_t bytes);
    void Rows(int done);
    // Ends the bar's line.
    void End();
    // For the library's progress callbacks: `self` is a Progress.
    static void VXTIFF_STDCALL Callback(void* self, int written, int total);

private:
    void Draw(int done);

    bool on_;
    bool active_ = false;
    int page_ = 0, pages_ = 0, rows_ = 0;
    int filled_ = -1;
};
