// The time of one full window paint under Wine: PaintWindow through a real WM_PAINT when a
// display is there, the same frame off-screen into a screen-compatible context, and a bare
// double-buffered frame (bitmap, one gradient, one blit) as the platform's own floor.
// Prints the median over N paints per case. Run by bench/paint.sh.
//   paint_bench.exe [paints]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "ui/draw_primitives_win32.h"
#include "ui/painter_win32.h"
#include "ui/palette.h"
#include "update/updater_state.h"

namespace {

double Milliseconds() {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

void Report(const char* what, std::vector<double> times) {
    std::sort(times.begin(), times.end());
    const size_t n = times.size();
    std::printf("%-44s median %6.3f ms   p10 %6.3f   p90 %6.3f   (%zu paints)\n", what, times[n / 2],
                times[n / 10], times[n * 9 / 10], n);
}

std::vector<double> Time(int paints, const std::function<void(int)>& paint) {
    std::vector<double> times;
    for (int i = 0; i < paints; ++i) {
        const double start = Milliseconds();
        paint(i);
        times.push_back(Milliseconds() - start);
    }
    return times;
}

void SetState(int32_t phase, const std::string& text, const std::string& notes) {
    std::lock_guard<std::mutex> lock(State.mutex);
    State.phase = phase;
    State.installedVersion = text;
    State.latestVersion = text;
    State.releaseNotes = notes;
    State.statusText = "Pobieram pliki...";
    State.currentFile = text;
    State.errorDetail = text;
    State.fileCount = 12;
    State.fileIndex = 4;
    State.totalBytes = 48 << 20;
    State.doneBytes = 20 << 20;
}

LRESULT CALLBACK BenchWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_PAINT:
            PaintWindow(window);
            return 0;
        case WM_ERASEBKGND:
            return 1;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

HWND MakeWindow() {
    WNDCLASSA wc{};
    wc.lpfnWndProc = BenchWindowProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "VorlanePaintBench";
    RegisterClassA(&wc);
    HWND window = CreateWindowExA(WS_EX_APPWINDOW, wc.lpszClassName, "Vorlane paint bench", WS_POPUP, 50, 50,
                                  620, 430, nullptr, nullptr, wc.hInstance, nullptr);
    if (window) {
        SetWindowRgn(window, CreateRoundRectRgn(0, 0, 621, 431, 18, 18), FALSE);
        ShowWindow(window, SW_SHOW);
    }
    return window;
}

void PumpMessages() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const int paints = argc > 1 ? std::max(10, std::atoi(argv[1])) : 300;
    Fonts() = CreateUiFonts();
    StartTick = GetTickCount();
    const std::string notes =
        "Nowa mapa polnocna i szybsze wyszukiwanie tras.\nPoprawki stabilnosci po dlugiej pracy.\n"
        "Mniejsze zuzycie pamieci.";
    const std::string huge(100000, 'v');
    HDC screen = GetDC(nullptr);
    std::printf("screen depth %d bits per pixel\n", GetDeviceCaps(screen, BITSPIXEL));

    HWND window = MakeWindow();
    if (window) {
        PumpMessages();
        for (int32_t phase : {Checking, Downloading}) {
            SetState(phase, "2.5.0", notes);
            Report(phase == Checking ? "PaintWindow (WM_PAINT), Checking"
                                     : "PaintWindow (WM_PAINT), Downloading",
                   Time(paints, [&](int) {
                       InvalidateRect(window, nullptr, FALSE);
                       UpdateWindow(window);  // sends WM_PAINT at once
                       PumpMessages();
                   }));
        }
        DestroyWindow(window);
    } else {
        std::printf("no display: PaintWindow on a real window skipped (run under xvfb-run)\n");
    }

    HDC target = CreateCompatibleDC(screen);
    HBITMAP targetBitmap = CreateCompatibleBitmap(screen, 620, 430);
    HGDIOBJ previous = SelectObject(target, targetBitmap);
    auto offscreen = [&](const char* what, int32_t phase, const std::string& text,
                         const std::string& notesText) {
        SetState(phase, text, notesText);
        const PaintSnapshot snapshot = TakePaintSnapshot(State);
        Report(what, Time(paints, [&](int i) { PaintFrame(target, snapshot, i * 33u, 0, Fonts()); }));
    };
    offscreen("PaintFrame off-screen, Checking", Checking, "2.5.0", notes);
    offscreen("PaintFrame off-screen, Downloading", Downloading, "2.5.0", notes);
    offscreen("PaintFrame off-screen, Failed, 100,000-byte texts", Failed, huge, huge);
    offscreen("PaintFrame off-screen, Downloading, 100,000-byte", Downloading, huge, huge);
    offscreen("PaintFrame off-screen, Failed, 100,000-byte notes", Failed, "2.5.0", huge);
    offscreen("PaintFrame off-screen, Failed, 100,000-byte lines", Failed, huge, notes);
    Report("bare frame: bitmap, one gradient, one blit", Time(paints, [&](int) {
               HDC memory = CreateCompatibleDC(target);
               HBITMAP bitmap = CreateCompatibleBitmap(target, 620, 430);
               HGDIOBJ old = SelectObject(memory, bitmap);
               FillGradient(memory, UiRect{0, 0, 620, 430}, Palette::BackgroundTop, Palette::BackgroundBottom,
                            false);
               BitBlt(target, 0, 0, 620, 430, memory, 0, 0, SRCCOPY);
               SelectObject(memory, old);
               DeleteObject(bitmap);
               DeleteDC(memory);
           }));
    SelectObject(target, previous);
    DeleteObject(targetBitmap);
    DeleteDC(target);
    ReleaseDC(nullptr, screen);
    return 0;
}
