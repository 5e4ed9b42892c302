// The conversion keeps the calling thread's window messages moving (Windows):
// VXTiff2Bmp dispatches what waits in the queue after each BMP row, puts a
// quit message back for the host's own loop, and VXTiff2BmpEx without a
// callback leaves the queue alone.
#if defined(_WIN32)
#include <windows.h>

#include <gtest/gtest.h>

#include "convert/tif2bmp.h"
#include "support/temp_dir.h"
#include "support/tif_builder.h"

namespace {

using namespace tiftest;

constexpr UINT kPing = WM_APP + 1;
int g_pings = 0;  // kPing messages the window procedure got

LRESULT CALLBACK CountingProc(HWND window, UINT message, WPARAM w, LPARAM l)
{
    if (message == kPing) {
        ++g_pings;
        return 0;
    }
    return DefWindowProcA(window, message, w, l);
}

// A hidden message-only window of this thread.
class CountingWindow {
public:
    CountingWindow()
    {
        WNDCLASSA c = {};
        c.lpfnWndProc = CountingProc;
        c.hInstance = GetModuleHandleA(nullptr);
        c.lpszClassName = "vxtiff-test-counting";
        RegisterClassA(&c);
        hwnd = CreateWindowExA(0, c.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, c.hInstance, nullptr);
    }
    ~CountingWindow()
    {
        if (hwnd != nullptr)
            DestroyWindow(hwnd);
    }
    HWND hwnd;
};

// Takes whatever is still queued; the number of kPing and whether a quit came.
void Drain(int* pings, bool* quit)
{
    *pings = 0;
    *quit = false;
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
        *pings += m.message == kPing ? 1 : 0;
        *quit = *quit || m.message == WM_QUIT;
    }
}

std::string Bilevel(const TempDir& dir)
{
    TiffBuilder b;
    b.StripImage({64, 40, 1, 1, kMinIsWhite, 8}, PatternRows(8, 40));
    b.Set(kTagXResolution, kRational, {200, 1}).Set(kTagYResolution, kRational, {200, 1});
    return dir.Write("page.tif", b.Build());
}

TEST(Tif2BmpPump, QueuedMessagesAreDispatchedDuringTheConversion)
{
    TempDir dir;
    const std::string tif = Bilevel(dir), bmp = dir.Path("page.bmp");
    CountingWindow window;
    ASSERT_NE(window.hwnd, nullptr);
    int left;
    bool quit;
    Drain(&left, &quit);

    const struct {
        const char* name;
        bool pumps;
        bool postQuit;
    } kCases[] = {
        {"VXTiff2Bmp", true, false},
        {"VXTiff2Bmp, quit waiting", true, true},
        {"VXTiff2BmpEx without callback", false, false},
    };
    for (const auto& c : kCases) {
        g_pings = 0;
        for (int i = 0; i < 5; ++i)
            ASSERT_TRUE(PostMessageA(window.hwnd, kPing, 0, 0));
        if (c.postQuit)
            PostQuitMessage(7);
        const int r = c.pumps ? VXTiff2Bmp(tif.c_str(), bmp.c_str(), 100)
                              : VXTiff2BmpEx(tif.c_str(), bmp.c_str(), 100, nullptr, nullptr);
        EXPECT_EQ(r, VXTIFF2BMP_OK) << c.name;
        // Only the conversion can have dispatched them: this thread did not.
        // Messages come before a quit, so they go through in both cases.
        EXPECT_EQ(g_pings, c.pumps ? 5 : 0) << c.name;
        Drain(&left, &quit);
        EXPECT_EQ(left + g_pings, 5) << c.name;
        EXPECT_EQ(quit, c.postQuit) << c.name;  // put back, never swallowed
    }
}

}  // namespace
#endif
