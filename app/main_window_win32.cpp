#include "app/main_window_win32.h"

#include <windowsx.h>

#include <cstdint>

#include "app/auto_mode.h"
#include "app/single_instance_win32.h"
#include "app/user_actions.h"
#include "sys/bot_process.h"
#include "sys/support_log.h"
#include "ui/hit_test.h"
#include "ui/layout.h"
#include "ui/painter_win32.h"
#include "update/pass_log_texts.h"
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

void CloseRequest(HWND window) {
    if (CanClose()) {
        DestroyWindow(window);
    }
}

void LaunchInstalledBot() {
    const BotStart start = StartBot();
    // Whether the bot runs, and through which path, or why it does not.
    WriteLog(BotLaunchText(start.started, start.detail), LogKind::Outcome);
}

WindowSteps StepsOf(HWND window) {
    WindowSteps steps;
    steps.releaseFolder = [] { ReleaseInstallFolder(); };
    steps.launchBot = [] { LaunchInstalledBot(); };
    steps.closeWindow = [window] { DestroyWindow(window); };
    steps.startPass = [] { StartWorker(); };
    return steps;
}

// Returns false when the window has been destroyed.
bool RunAutoModeRules(HWND window) {
    const AutoModeStep step =
        DecideAutoModeStep(ReadPhase(), GetTickCount(), LastTimerPhase, PhaseSinceTick, AutoRetryCount);
    RunAutoModeStep(step, StepsOf(window));
    return step != AutoModeStep::LaunchBotAndClose;
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
                    RunMainButton(StepsOf(window));
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
                RunMainButton(StepsOf(window));
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
        case kContinueInAutoMode:
            // A second "--auto" start of this folder (the bot asking for its update): this
            // pass goes on unattended, so that it ends with the bot started.
            if (!IsHandOverForFolder(wParam, lParam, InstallDir)) {
                return 0;
            }
            AutoMode = true;
            return 1;
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
