#include "app/win32/main_window.h"

// clang-format off
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>
// clang-format on

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "app/win32/resource_ids.h"
#include "app/win32/window_parts.h"
#include "app/window_texts.h"
#include "caddora_version.h"
#include "platform/codepage.h"
#include "platform/program_folder.h"
#include "platform/shell.h"
#include "platform/user_folders.h"

using namespace win32window;

namespace {

constexpr wchar_t kWindowClass[] = L"CaddoraMain";
constexpr UINT kPostMessage = WM_APP + 1;
constexpr UINT kScheduleCheckMessage = WM_APP + 2;
// How long a session's end waits for a job to end; the system allows about 5 s.
constexpr uint32_t kSessionEndGraceMs = 4500;
constexpr UINT_PTR kDeviceCheckTimer = 1;

// The point tab's "also save GPX and KML" choice, kept between runs (where the Qt window's
// settings would keep it on Windows).
constexpr wchar_t kChoicesKey[] = L"Software\\caddora\\caddora\\points";
constexpr wchar_t kAlsoSaveMapsValue[] = L"alsoSaveMaps";

bool RememberedAlsoSaveMaps() {
    DWORD value = 0;
    DWORD size = sizeof value;
    return RegGetValueW(HKEY_CURRENT_USER, kChoicesKey, kAlsoSaveMapsValue, RRF_RT_REG_DWORD,
                        nullptr, &value, &size) == ERROR_SUCCESS &&
           value != 0;
}

void RememberAlsoSaveMaps(bool on) {
    const DWORD value = on ? 1 : 0;
    RegSetKeyValueW(HKEY_CURRENT_USER, kChoicesKey, kAlsoSaveMapsValue, REG_DWORD, &value,
                    sizeof value);
}

// The "add to the logbook" choice, kept the same way; on unless turned off.
constexpr wchar_t kAddToLogbookValue[] = L"addToLogbook";

bool RememberedAddToLogbook() {
    DWORD value = 1;
    DWORD size = sizeof value;
    if (RegGetValueW(HKEY_CURRENT_USER, kChoicesKey, kAddToLogbookValue, RRF_RT_REG_DWORD, nullptr,
                     &value, &size) != ERROR_SUCCESS) {
        return true;
    }
    return value != 0;
}

void RememberAddToLogbook(bool on) {
    const DWORD value = on ? 1 : 0;
    RegSetKeyValueW(HKEY_CURRENT_USER, kChoicesKey, kAddToLogbookValue, REG_DWORD, &value,
                    sizeof value);
}

// Paths are UTF-8 inside the program, whatever the ANSI code page.
std::wstring WPath(const std::string& utf8) {
    const std::u16string u = platform::Utf8ToUtf16(utf8);
    return std::wstring(u.begin(), u.end());
}

std::string Utf8Path(const wchar_t* path) {
    return platform::Utf16ToUtf8(
        std::u16string(reinterpret_cast<const char16_t*>(path), std::wcslen(path)));
}

UINT IconFlag(MessageIcon icon) {
    switch (icon) {
        case MessageIcon::Error:
            return MB_ICONERROR;
        case MessageIcon::Information:
            return MB_ICONINFORMATION;
        case MessageIcon::Warning:
            return MB_ICONWARNING;
        case MessageIcon::None:
            break;
    }
    return 0;
}

// "description|pattern|..." to the dialog's "description\0pattern\0...\0\0".
std::wstring DialogFilter(const std::string& filter) {
    std::wstring out = W(filter);
    if (out.empty()) return out;
    std::replace(out.begin(), out.end(), L'|', L'\0');
    out.push_back(L'\0');
    out.push_back(L'\0');
    return out;
}

}  // namespace

Win32MainWindow::Win32MainWindow(platform::Settings settings) : runSettings_(std::move(settings)) {
    const std::pair<Setting, std::string_view> defaults[] = {
        {Setting::textUpAddr, texts::kUpAddrDefault},
        {Setting::textUpLen, texts::kUpLenDefault},
        {Setting::textBoxPathUp, texts::kPatchAddrDefault},
        {Setting::textBoxPathKro, texts::kPatchAddrDefault},
    };
    for (const auto& [setting, value] : defaults) settings_[setting] = std::string(value);
}

Win32MainWindow::~Win32MainWindow() {
    main_.reset();  // waits for a job still running
    if (hwnd_) DestroyWindow(hwnd_);
    DropQueuedPosts();
    if (gothic_) DeleteObject(gothic_);
    if (arial_) DeleteObject(arial_);
}

bool Win32MainWindow::Create(int showCommand) {
    INITCOMMONCONTROLSEX icc{
        sizeof icc, ICC_TAB_CLASSES | ICC_PROGRESS_CLASS | ICC_LINK_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&icc);
    HDC screen = GetDC(nullptr);
    dpi_ = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);

    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.hInstance = Instance();
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.hIcon = LoadIconW(Instance(), MAKEINTRESOURCEW(IDI_CADDORA));
    wc.hIconSm = wc.hIcon;
    wc.lpfnWndProc = WindowProc;
    wc.lpszClassName = kWindowClass;
    if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;
    wc.lpfnWndProc = PageProc;
    wc.hIcon = wc.hIconSm = nullptr;
    wc.lpszClassName = kPageClass;
    if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;

    // Fixed size, no maximise box: the layout is fixed.
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
    RECT frame{0, 0, S(kWidth), S(kHeight)};
    AdjustWindowRectEx(&frame, style, FALSE, 0);
    hwnd_ = CreateWindowExW(0, kWindowClass, L"", style, CW_USEDEFAULT, CW_USEDEFAULT,
                            frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr,
                            Instance(), this);
    if (!hwnd_) return false;
    BuildControls();
    // Main reports through the job logs, which pass everything on to this window.
    jobLogs_ =
        std::make_unique<WindowJobLogs>(*this, WindowJobLogs::FolderIn(platform::UserStateFolder()),
                                        std::string("caddora ") + kCaddoraVersion);
    main_ = std::make_unique<Main>(*jobLogs_, runSettings_);
    const bool alsoSaveMaps = RememberedAlsoSaveMaps();
    SendMessageW(checkBoxMaps, BM_SETCHECK, alsoSaveMaps ? BST_CHECKED : BST_UNCHECKED, 0);
    main_->SetAlsoSavePointMaps(alsoSaveMaps);
    const bool addToLogbook = RememberedAddToLogbook();
    SendMessageW(checkBoxLogbook, BM_SETCHECK, addToLogbook ? BST_CHECKED : BST_UNCHECKED, 0);
    main_->addPointsToLogbook = addToLogbook;
    ShowWindow(hwnd_, showCommand);
    UpdateWindow(hwnd_);
    return true;
}

void Win32MainWindow::ScheduleDeviceCheck() {
    PostMessageW(hwnd_, kScheduleCheckMessage, 0, 0);
}

LRESULT CALLBACK Win32MainWindow::WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lp);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<Win32MainWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self && self->hwnd_ == hwnd) return self->OnMessage(msg, wp, lp);
    return DefWindowProcW(hwnd, msg, wp, lp);
}

LRESULT CALLBACK Win32MainWindow::PageProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_COMMAND || msg == WM_NOTIFY) {
        return SendMessageW(GetAncestor(hwnd, GA_ROOT), msg, wp, lp);
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

LRESULT Win32MainWindow::OnMessage(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case kPostMessage: {
            std::unique_ptr<std::function<void()>> call(
                reinterpret_cast<std::function<void()>*>(lp));
            if (*call) (*call)();
            return 0;
        }
        case kScheduleCheckMessage:
        case WM_DEVICECHANGE:
            // The first change of a burst sets the time; later ones join the same check.
            SetTimer(hwnd_, kDeviceCheckTimer, kDeviceCheckDelayMs, nullptr);
            return msg == WM_DEVICECHANGE ? TRUE : 0;
        case WM_TIMER:
            if (wp == kDeviceCheckTimer) {
                KillTimer(hwnd_, kDeviceCheckTimer);
                if (main_) main_->CheckDeviceStatus();
                return 0;
            }
            break;
        case WM_COMMAND:
            if (HIWORD(wp) == BN_CLICKED && main_) {
                switch (LOWORD(wp)) {
                    case kIdButtonUpdata:
                        if (!main_->JobRunning()) jobLogs_->BeginJob("import-points");
                        main_->buttonUpdata_Click();
                        return 0;
                    case kIdButtonKroDown:
                        if (!main_->JobRunning()) jobLogs_->BeginJob("write-course");
                        main_->buttonKroDown_Click();
                        return 0;
                    case kIdButtonFwDown:
                        if (!main_->JobRunning()) jobLogs_->BeginJob("write-firmware");
                        main_->buttonFwDown_Click();
                        return 0;
                    case kIdCheckBoxMaps: {
                        const bool on =
                            SendMessageW(checkBoxMaps, BM_GETCHECK, 0, 0) == BST_CHECKED;
                        RememberAlsoSaveMaps(on);
                        main_->SetAlsoSavePointMaps(on);
                        return 0;
                    }
                    case kIdCheckBoxLogbook: {
                        const bool on =
                            SendMessageW(checkBoxLogbook, BM_GETCHECK, 0, 0) == BST_CHECKED;
                        RememberAddToLogbook(on);
                        main_->addPointsToLogbook = on;
                        return 0;
                    }
                }
            }
            break;
        case WM_NOTIFY: {
            const auto* header = reinterpret_cast<const NMHDR*>(lp);
            if (header->idFrom == kIdTab && header->code == TCN_SELCHANGE) {
                ShowPage(TabCtrl_GetCurSel(tabControl1));
                return 0;
            }
            if ((header->code == NM_CLICK || header->code == NM_RETURN) && main_) {
                if (header->idFrom == kIdLinkLabel1) main_->linkLabel1_LinkClicked();
                if (header->idFrom == kIdLinkLabel2) main_->linkLabel2_LinkClicked();
                if (header->idFrom == kIdLinkLabelReport) main_->linkLabelReport_LinkClicked();
                return 0;
            }
            break;
        }
        case WM_QUERYENDSESSION:
            // Logout or shutdown: the job starts ending now, the way a failure ends it, and
            // the window asks the navigator nothing more.
            if (main_) {
                main_->recheckAfterJob = false;
                main_->RequestStop();
            }
            return TRUE;
        case WM_ENDSESSION:
            // The system ends the process once this returns: the job first puts its rows in
            // place (within the system's grace time).
            if (wp && main_) {
                main_->RequestStop();
                main_->WaitForJobEnd(kSessionEndGraceMs);
            }
            return 0;
        case WM_CLOSE:
            // While a job runs the title bar has no close button; other ways to close are
            // refused too.
            if (!closeAllowed_ || (main_ && !main_->CanClose())) return 0;
            DestroyWindow(hwnd_);
            return 0;
        case WM_DESTROY:
            KillTimer(hwnd_, kDeviceCheckTimer);
            PostQuitMessage(0);
            return 0;
        case WM_NCDESTROY:
            hwnd_ = nullptr;
            break;
    }
    return DefWindowProcW(hwnd_, msg, wp, lp);
}

void Win32MainWindow::DropQueuedPosts() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, kPostMessage, kPostMessage, PM_REMOVE)) {
        delete reinterpret_cast<std::function<void()>*>(msg.lParam);
    }
}

// --- MainView ------------------------------------------------------------------------------

void Win32MainWindow::Post(std::function<void()> call) {
    auto* heap = new std::function<void()>(std::move(call));
    // A window already gone drops the call.
    if (!hwnd_ || !PostMessageW(hwnd_, kPostMessage, 0, reinterpret_cast<LPARAM>(heap))) {
        delete heap;
    }
}

void Win32MainWindow::SetTitle(const std::string& title) {
    SetWindowTextW(hwnd_, W(title).c_str());
}

void Win32MainWindow::SetButtonEnabled(JobButton button, bool enabled) {
    switch (button) {
        case JobButton::FwDown:
            EnableWindow(buttonFwDown, enabled);
            break;
        case JobButton::KroDown:
            EnableWindow(buttonKroDown, enabled);
            break;
        case JobButton::Updata:
            EnableWindow(buttonUpdata, enabled);
            break;
    }
}

void Win32MainWindow::SetTabControlEnabled(bool enabled) {
    EnableWindow(tabControl1, enabled);
    for (HWND page : pages_) EnableWindow(page, enabled);
}

void Win32MainWindow::SetCloseAllowed(bool allowed) {
    closeAllowed_ = allowed;
    // The system menu carries the close and minimise buttons of the title bar.
    LONG_PTR style = GetWindowLongPtrW(hwnd_, GWL_STYLE);
    const LONG_PTR wanted = allowed ? (style | WS_SYSMENU) : (style & ~WS_SYSMENU);
    if (wanted == style) return;
    SetWindowLongPtrW(hwnd_, GWL_STYLE, wanted);
    SetWindowPos(hwnd_, nullptr, 0, 0, 0, 0,
                 SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Win32MainWindow::SetProgressMaximum(int32_t maximum) {
    const int value = static_cast<int>(SendMessageW(progressBarData, PBM_GETPOS, 0, 0));
    SendMessageW(progressBarData, PBM_SETRANGE32, 0, maximum);
    SendMessageW(progressBarData, PBM_SETPOS, std::clamp(value, 0, std::max(maximum, 0)), 0);
}

void Win32MainWindow::SetProgressValue(int32_t value) {
    const int maximum = static_cast<int>(SendMessageW(progressBarData, PBM_GETRANGE, FALSE, 0));
    SendMessageW(progressBarData, PBM_SETPOS, std::clamp(value, 0, std::max(maximum, 0)), 0);
}

void Win32MainWindow::StepProgress() {
    const int maximum = static_cast<int>(SendMessageW(progressBarData, PBM_GETRANGE, FALSE, 0));
    const int value = static_cast<int>(SendMessageW(progressBarData, PBM_GETPOS, 0, 0));
    SendMessageW(progressBarData, PBM_SETPOS, std::min(value + 1, maximum), 0);
}

void Win32MainWindow::SetProgressVisible(bool visible) {
    ShowWindow(progressBarData, visible ? SW_SHOW : SW_HIDE);
}

void Win32MainWindow::ShowMessage(const std::string& text, const std::string& caption,
                                  MessageIcon icon) {
    // On the UI thread the box belongs to the window; from a job thread it is modal to nothing
    // and blocks only that thread.
    const bool uiThread = hwnd_ && GetWindowThreadProcessId(hwnd_, nullptr) == GetCurrentThreadId();
    MessageBoxW(uiThread ? hwnd_ : nullptr, W(text).c_str(), W(caption).c_str(),
                MB_OK | IconFlag(icon) | (uiThread ? 0 : MB_SETFOREGROUND));
}

std::optional<std::string> Win32MainWindow::AskOpenFile(const OpenFileRequest& request) {
    std::vector<wchar_t> file(32768, L'\0');
    const std::wstring initial = WPath(request.fileName);
    std::copy_n(initial.begin(), std::min(initial.size(), file.size() - 1), file.begin());
    const std::wstring filter = DialogFilter(request.filter);
    const std::wstring ext = W(request.defaultExt);
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = hwnd_;
    ofn.lpstrFilter = filter.empty() ? nullptr : filter.c_str();
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = static_cast<DWORD>(file.size());
    ofn.lpstrDefExt = ext.empty() ? nullptr : ext.c_str();
    ofn.Flags =
        OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
    if (!GetOpenFileNameW(&ofn)) return std::nullopt;
    return Utf8Path(file.data());
}

std::string Win32MainWindow::SettingText(Setting setting) {
    std::lock_guard<std::mutex> lock(settingsMutex_);
    return settings_[setting];
}

void Win32MainWindow::SetLabelPackets(const std::string& text) {
    labelPackets_ = text;
}

void Win32MainWindow::ShowReportLink(bool visible) {
    ShowWindow(linkLabelReport, visible ? SW_SHOW : SW_HIDE);
}

bool Win32MainWindow::OpenUrl(const std::string& url) {
    return platform::OpenUrl(url);
}
