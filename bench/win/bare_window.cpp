// The bare platform's first frame, the updater window's peer in bench/window_startup.py: the
// same borderless 620 x 430 popup (class style, extended style, rounded region, six fonts,
// 33 ms timer) painted as one filled rectangle through a memory bitmap and one BitBlt, with
// none of the updater's code and no second thread. The colour is the updater's notes panel,
// which the benchmark looks for on the screen. Escape closes it. Asserts nothing.
//   bare_window.exe
#include <windows.h>

namespace {

constexpr int kWidth = 620;
constexpr int kHeight = 430;
constexpr COLORREF kPanel = RGB(0x1C, 0x20, 0x2B);

HFONT MakeFont(int height, int weight) {
    return CreateFontA(-height, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                       CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_DONTCARE, "Segoe UI");
}

void Paint(HWND window) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    HDC memory = CreateCompatibleDC(dc);
    HBITMAP bitmap = CreateCompatibleBitmap(dc, kWidth, kHeight);
    HGDIOBJ old = SelectObject(memory, bitmap);
    HBRUSH brush = CreateSolidBrush(kPanel);
    RECT all{0, 0, kWidth, kHeight};
    FillRect(memory, &all, brush);
    BitBlt(dc, 0, 0, kWidth, kHeight, memory, 0, 0, SRCCOPY);
    DeleteObject(brush);
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    EndPaint(window, &paint);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_PAINT:
            Paint(window);
            return 0;
        case WM_ERASEBKGND:
            return 1;
        case WM_TIMER:
            InvalidateRect(window, nullptr, FALSE);
            return 0;
        case WM_KEYDOWN:
            if (wParam == VK_ESCAPE) {
                DestroyWindow(window);
            }
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcA(window, message, wParam, lParam);
    }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    const int heights[6] = {30, 14, 15, 13, 15, 15}, weights[6] = {700, 700, 400, 600, 700, 700};
    for (int i = 0; i < 6; ++i) {
        MakeFont(heights[i], weights[i]);  // kept until the process ends, as the updater's
    }
    WNDCLASSA windowClass{};
    windowClass.style = CS_DROPSHADOW;
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.lpszClassName = "VorlaneBareWnd";
    RegisterClassA(&windowClass);
    const int x = (GetSystemMetrics(SM_CXSCREEN) - kWidth) / 2;
    const int y = (GetSystemMetrics(SM_CYSCREEN) - kHeight) / 2;
    HWND window = CreateWindowExA(WS_EX_APPWINDOW, "VorlaneBareWnd", "Vorlane Bare Window", WS_POPUP, x, y,
                                  kWidth, kHeight, nullptr, nullptr, instance, nullptr);
    SetWindowRgn(window, CreateRoundRectRgn(0, 0, kWidth + 1, kHeight + 1, 18, 18), FALSE);
    ShowWindow(window, SW_SHOW);
    SetTimer(window, 1, 33, nullptr);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    ExitProcess(0);
}
