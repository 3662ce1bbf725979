#include "app/main_window_win32.h"

#include <windowsx.h>

#include <cstdint>

#include "app/auto_mode.h"
#include "app/bot_launch_win32.h"
#include "app/user_actions.h"
#include "ui/hit_test.h"
#include "ui/layout.h"
#include "ui/painter_win32.h"
#include "update/support_log.h"
#include "update/updater_state.h"

namespace {

constexpr char kClassName[] = "VorlanePatcherWnd";
constexpr char kWindowTitle[] = "Vorlane Updater";
constexpr int kIconId = 101;
constexpr UINT_PTR kAnimationTimer = 1;
constexpr UINT kAnimationMs = 33;
constexpr int kRegionCorner = 18;

// The auto-mode timer's values (window thread only).
int32_t LastTimerPhase = -1;
uint32_t PhaseSinceTick = 0;
int32_t AutoRetryCount = 0;

void LogBotLaunch() {
    std::string reason;
    const bool started = LaunchBot(reason);
    WriteLog(BotLaunchText(started, reason));
}

void CloseRequest(HWND window) {
    if (CanClose()) {
        DestroyWindow(window);
    }
}

void MainButtonAction(HWND window) {
    switch (ReadMainButtonStep()) {
        case MainButtonStep::LaunchBot:
            LogBotLaunch();
            DestroyWindow(window);
            break;
        case MainButtonStep::ConfirmInstall:
            InstallConfirmed.store(true, std::memory_order_seq_cst);
            break;
        case MainButtonStep::Retry:
            // Checking is written before the pass starts, as for the automatic retry: a second
            // press queued behind this one then finds no retry to make, instead of joining
            // the new pass on the window thread while that pass waits for a confirmation.
            SetPhaseAndStatus(Checking, kCheckingStatus);
            StartWorker();
            break;
        case MainButtonStep::Nothing:
            break;
    }
}

void LaunchBotAndClose(HWND window) {
    AutoMode = false;
    LogBotLaunch();
    DestroyWindow(window);
}

// Returns false when the window has been destroyed.
bool RunAutoModeRules(HWND window) {
    const int32_t phase = ReadPhase();
    switch (DecideAutoModeStep(phase, GetTickCount(), LastTimerPhase, PhaseSinceTick, AutoRetryCount)) {
        case AutoModeStep::LaunchBotAndClose:
            LaunchBotAndClose(window);
            return false;
        case AutoModeStep::Retry:
            SetPhaseAndStatus(Checking, "Ponawiam...");
            StartWorker();
            return true;
        case AutoModeStep::Wait:
            return true;
    }
    return true;
}

int HitTestMessagePoint(LPARAM lParam) {
    return HitTestButtons(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
}

}  // namespace

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_PAINT:
            PaintWindow(window);
            return 0;
        case WM_ERASEBKGND:
            return 1;  // the painter covers every pixel
        case WM_SETCURSOR:
            SetCursor(LoadCursorA(nullptr, HoverTarget != None ? IDC_HAND : IDC_ARROW));
            return 1;
        case WM_NCHITTEST: {
            // Everything but the three buttons drags the borderless window.
            POINT point{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
            ScreenToClient(window, &point);
            return HitTestButtons(point.x, point.y) == None ? HTCAPTION : HTCLIENT;
        }
        case WM_MOUSEMOVE: {
            HoverTarget = HitTestMessagePoint(lParam);
            TRACKMOUSEEVENT track{};
            track.cbSize = sizeof(track);
            track.dwFlags = TME_LEAVE;
            track.hwndTrack = window;
            track.dwHoverTime = 0;
            TrackMouseEvent(&track);
            return 0;
        }
        case WM_MOUSELEAVE:
            HoverTarget = None;
            return 0;
        case WM_LBUTTONUP:
            switch (HitTestMessagePoint(lParam)) {
                case MainButton:
                    MainButtonAction(window);
                    break;
                case CloseButton:
                case CloseGlyph:
                    CloseRequest(window);
                    break;
                default:
                    break;
            }
            return 0;
        case WM_KEYDOWN:
            if (wParam == VK_RETURN) {
                MainButtonAction(window);
            } else if (wParam == VK_ESCAPE) {
                CloseRequest(window);
            }
            return 0;
        case WM_TIMER:
            if (AutoMode && !RunAutoModeRules(window)) {
                return 0;
            }
            InvalidateRect(window, nullptr, FALSE);
            return 0;
        case WM_CLOSE:
            CloseRequest(window);  // never passed on, so Alt+F4 is refused while downloading too
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcA(window, message, wParam, lParam);
    }
}

HWND CreateMainWindow(HINSTANCE instance) {
    WNDCLASSA windowClass{};
    windowClass.style = CS_DROPSHADOW;
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(kIconId));
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.lpszClassName = kClassName;
    RegisterClassA(&windowClass);

    const int x = (GetSystemMetrics(SM_CXSCREEN) - Layout::kWindowWidth) / 2;
    const int y = (GetSystemMetrics(SM_CYSCREEN) - Layout::kWindowHeight) / 2;
    HWND window =
        CreateWindowExA(WS_EX_APPWINDOW, kClassName, kWindowTitle, WS_POPUP, x, y, Layout::kWindowWidth,
                        Layout::kWindowHeight, nullptr, nullptr, instance, nullptr);
    // One pixel past the window on the right and bottom keeps the whole area inside the outline.
    // The window owns the region from here on.
    SetWindowRgn(window,
                 CreateRoundRectRgn(0, 0, Layout::kWindowWidth + 1, Layout::kWindowHeight + 1, kRegionCorner,
                                    kRegionCorner),
                 FALSE);
    ShowWindow(window, SW_SHOW);
    SetTimer(window, kAnimationTimer, kAnimationMs, nullptr);
    return window;
}
