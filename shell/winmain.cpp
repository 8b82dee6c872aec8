// Entry point, settings dialog, main window and the error box.
#include "assets/assets.h"
#include "audio/audio.h"
#include "display/display.h"
#include "platform/bass/bass.h"
#include "scene/scene.h"
#include "shell/shell.h"
#include "shell/state.h"

namespace {

constexpr int kIdFullscreen = 100;
constexpr int kIdWindowed = 101;
constexpr int kIdExit = 102;
constexpr int kIdLaunch = 103;

}  // namespace

void showError(const char* text) { MessageBoxA(nullptr, text, "Error!", MB_OK | MB_ICONWARNING); }

INT_PTR settingsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM /*lParam*/) {
    if (message == WM_INITDIALOG) {
        SendDlgItemMessageA(dialog, kIdFullscreen, BM_SETCHECK, BST_CHECKED, 0);
    } else if (message == WM_COMMAND) {
        switch (wParam) {
        case kIdFullscreen:
            g_fullscreen = 1;
            break;
        case kIdWindowed:
            g_fullscreen = 0;
            break;
        case kIdLaunch:
            EndDialog(dialog, 0);
            break;
        case kIdExit:
        case IDCANCEL:
            ExitProcess(0);
        default:
            break;  // IDOK (Enter) and anything else: nothing
        }
    }
    return 0;
}

LRESULT mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY || (message == WM_KEYDOWN && wParam == VK_ESCAPE)) {
        BASS_Free();
        g_musicPolling = 0;
        ExitProcess(g_exitCode);
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

int WinMain(HINSTANCE instance, HINSTANCE /*previous*/, char* /*commandLine*/, int /*showCommand*/) {
    // The main window class.
    WNDCLASSA wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = mainWindowProc;
    wc.cbClsExtra = 0;
    wc.cbWndExtra = 0;
    wc.hInstance = instance;
    wc.hIcon = LoadIconA(instance, "myicon");
    wc.hCursor = nullptr;
    wc.hbrBackground = (HBRUSH)GetStockObject(BLACK_BRUSH);
    wc.lpszMenuName = "DIALOG_1";
    wc.lpszClassName = "Orrindale";
    RegisterClassA(&wc);

    // The settings dialog; returns only on "Launch!".
    DialogBoxParamA(instance, "DIALOG_1", nullptr, settingsDialogProc, 0);

    // The main window: borderless over the whole screen, or 640 x 500.
    if (g_fullscreen != 0) {
        g_hwnd = CreateWindowExA(WS_EX_TOPMOST, "Orrindale", "Velkor 2001", WS_POPUP, 0, 0,
                                 GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), nullptr, nullptr,
                                 instance, nullptr);
    } else {
        g_hwnd = CreateWindowExA(0, "Orrindale", "Velkor 2001", WS_OVERLAPPED | WS_SYSMENU, 0, 0, 640, 500,
                                 nullptr, nullptr, instance, nullptr);
    }
    ShowWindow(g_hwnd, SW_SHOW);
    SetFocus(g_hwnd);

    // The display for that window; the cursor only in a window.
    if (g_fullscreen != 0) {
        initDisplayFullscreen(g_hwnd);
        ShowCursor(FALSE);
    } else {
        initDisplayWindowed(g_hwnd);
        ShowCursor(TRUE);
    }

    // The loading jingle, looped.
    openStream("DATA\\menu.wav");
    BASS_StreamPlay(g_stream, 0, BASS_SAMPLE_LOOP);

    // The position poller.
    startMusicPoller();

    // The scene's frames, the loading screen with the loader thread, then
    // the main loop until the show ends.
    buildSceneGraph();
    startLoading();
    return runMainLoop();
}
