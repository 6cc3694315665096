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

#include "app/point_import_maps.h"
#include "app/win32/resource_ids.h"
#include "app/window_texts.h"
#include "platform/codepage.h"
#include "platform/program_folder.h"
#include "platform/shell.h"

namespace {

constexpr wchar_t kWindowClass[] = L"CaddoraMain";
constexpr wchar_t kPageClass[] = L"CaddoraPage";
constexpr UINT kPostMessage = WM_APP + 1;
constexpr UINT kScheduleCheckMessage = WM_APP + 2;
constexpr UINT_PTR kDeviceCheckTimer = 1;

enum ControlId : int {
    kIdTab = 100,
    kIdButtonUpdata = 101,
    kIdButtonKroDown = 102,
    kIdButtonFwDown = 103,
    kIdLinkLabel1 = 104,
    kIdLinkLabel2 = 105,
    kIdProgress = 106,
    kIdCheckBoxMaps = 107,
};

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

// Fixed tab size, as the window was laid out.
constexpr int kTabWidth = 120;
constexpr int kTabHeight = 24;

std::wstring W(std::string_view utf8) {
    const std::u16string u = platform::Utf8ToUtf16(utf8);
    return std::wstring(u.begin(), u.end());
}

// Paths are in the ANSI code page (UTF-8 where the manifest's code page applies).
std::wstring WPath(const std::string& ansi) {
    const std::u16string u = platform::AnsiToUtf16(ansi);
    return std::wstring(u.begin(), u.end());
}

std::string AnsiPath(const wchar_t* path) {
    return platform::Utf16ToAnsi(
        std::u16string(reinterpret_cast<const char16_t*>(path), std::wcslen(path)));
}

HINSTANCE Instance() {
    return GetModuleHandleW(nullptr);
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

SIZE TextSize(HWND window, HFONT font, const std::wstring& text) {
    HDC dc = GetDC(window);
    HGDIOBJ old = SelectObject(dc, font);
    RECT r{0, 0, 0, 0};
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &r, DT_CALCRECT | DT_NOPREFIX);
    SelectObject(dc, old);
    ReleaseDC(window, dc);
    return SIZE{r.right - r.left, r.bottom - r.top};
}

// A picture resource laid on the face colour of dialogs and buttons: its transparent and
// half-transparent pixels then blend into whatever colour the system gives them.
HBITMAP LoadPictureOnFace(int id) {
    auto bitmap = static_cast<HBITMAP>(
        LoadImageW(Instance(), MAKEINTRESOURCEW(id), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    DIBSECTION dib{};
    if (!bitmap || GetObjectW(bitmap, sizeof dib, &dib) != sizeof dib ||
        dib.dsBm.bmBitsPixel != 32 || dib.dsBm.bmBits == nullptr) {
        return bitmap;
    }
    GdiFlush();
    const COLORREF face = GetSysColor(COLOR_BTNFACE);
    const int background[3] = {GetBValue(face), GetGValue(face), GetRValue(face)};
    auto* pixel = static_cast<uint8_t*>(dib.dsBm.bmBits);
    const size_t count = static_cast<size_t>(dib.dsBm.bmWidth) * std::abs(dib.dsBm.bmHeight);
    // Blue, green, red, alpha in memory; the alpha is not premultiplied.
    for (size_t i = 0; i < count; ++i, pixel += 4) {
        const int alpha = pixel[3];
        for (int c = 0; c < 3; ++c) {
            pixel[c] = static_cast<uint8_t>(
                (pixel[c] * alpha + background[c] * (255 - alpha) + 127) / 255);
        }
        pixel[3] = 255;
    }
    return bitmap;
}

void SetFont(HWND control, HFONT font) {
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
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
    main_ = std::make_unique<Main>(*this, runSettings_);
    const bool alsoSaveMaps = RememberedAlsoSaveMaps();
    SendMessageW(checkBoxMaps, BM_SETCHECK, alsoSaveMaps ? BST_CHECKED : BST_UNCHECKED, 0);
    main_->SetAlsoSavePointMaps(alsoSaveMaps);
    ShowWindow(hwnd_, showCommand);
    UpdateWindow(hwnd_);
    return true;
}

void Win32MainWindow::BuildControls() {
    const int textHeight = -MulDiv(12, dpi_, 72);
    gothic_ = CreateFontW(textHeight, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, SHIFTJIS_CHARSET,
                          OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH,
                          L"MS PGothic");
    arial_ = CreateFontW(textHeight, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                         OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH,
                         L"Arial");

    tabControl1 = CreateWindowExW(
        WS_EX_CONTROLPARENT, WC_TABCONTROLW, L"",
        WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | TCS_FIXEDWIDTH, S(18), S(17),
        S(551), S(210), hwnd_, reinterpret_cast<HMENU>(kIdTab), Instance(), nullptr);
    SetFont(tabControl1, gothic_);
    TabCtrl_SetItemSize(tabControl1, S(kTabWidth), S(kTabHeight));
    const std::string_view captions[] = {texts::kTabPoints, texts::kTabCourse, texts::kTabFirmware,
                                         texts::kTabVersion};
    for (int i = 0; i < 4; ++i) {
        std::wstring caption = W(captions[i]);
        TCITEMW item{};
        item.mask = TCIF_TEXT;
        item.pszText = caption.data();
        TabCtrl_InsertItem(tabControl1, i, &item);
    }
    for (HWND& page : pages_) page = MakePage();

    // tabPage1: point-data import.
    buttonUpdata = MakePictureButton(pages_[0], kIdButtonUpdata, IDB_BUTTON_POINTS);
    MakeLabel(pages_[0], texts::kLabel9, gothic_, 180, 30);
    const std::wstring mapsText = W(texts::kAlsoSaveMaps);
    const SIZE mapsSize = TextSize(pages_[0], gothic_, mapsText);
    checkBoxMaps = CreateWindowExW(
        0, L"BUTTON", mapsText.c_str(), WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX,
        S(180), S(126), mapsSize.cx + S(24), mapsSize.cy + S(4), pages_[0],
        reinterpret_cast<HMENU>(kIdCheckBoxMaps), Instance(), nullptr);
    SetFont(checkBoxMaps, gothic_);
    // tabPage2: course-data update.
    buttonKroDown = MakePictureButton(pages_[1], kIdButtonKroDown, IDB_BUTTON_COURSE);
    MakeLabel(pages_[1], texts::kLabel11, gothic_, 180, 30);
    MakeLabel(pages_[1], texts::kLabel18, arial_, 180, 94);
    // The link follows a line break.
    const int arialLine = TextSize(hwnd_, arial_, L"X").cy;
    MakeLink(pages_[1], kIdLinkLabel2, texts::kMemberUrl, 179, 110 + MulDiv(arialLine, 96, dpi_));
    // tabPage3: firmware update.
    buttonFwDown = MakePictureButton(pages_[2], kIdButtonFwDown, IDB_BUTTON_FIRMWARE);
    MakeLabel(pages_[2], texts::kLabel12, gothic_, 180, 30);
    // tabPage4: version information.
    HWND picture = CreateWindowExW(
        0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_BITMAP | SS_CENTERIMAGE | SS_REALSIZECONTROL,
        S(33), S(25), S(131), S(118), pages_[3], nullptr, Instance(), nullptr);
    SendMessageW(picture, STM_SETIMAGE, IMAGE_BITMAP,
                 reinterpret_cast<LPARAM>(LoadPictureOnFace(IDB_PRODUCT)));
    MakeLabel(pages_[3], texts::kProductLine, arial_, 180, 30);
    MakeLabel(pages_[3], texts::kVersion, arial_, 180, 60);
    MakeLabel(pages_[3], texts::kLegalNotice, arial_, 180, 90);
    MakeLink(pages_[3], kIdLinkLabel1, texts::kMakerUrl, 181, 123);

    progressBarData =
        CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD, S(18), S(242), S(551), S(23), hwnd_,
                        reinterpret_cast<HMENU>(kIdProgress), Instance(), nullptr);
    SendMessageW(progressBarData, PBM_SETRANGE32, 0, 100);
    ShowPage(0);
}

HWND Win32MainWindow::MakePage() {
    // A child of the tab control over its display area; a page forwards its controls'
    // notifications to the window.
    RECT area{0, 0, S(551), S(210)};
    TabCtrl_AdjustRect(tabControl1, FALSE, &area);
    HWND page = CreateWindowExW(WS_EX_CONTROLPARENT, kPageClass, L"", WS_CHILD | WS_CLIPSIBLINGS,
                                area.left, area.top, area.right - area.left, area.bottom - area.top,
                                tabControl1, nullptr, Instance(), nullptr);
    return page;
}

HWND Win32MainWindow::MakePictureButton(HWND page, int id, int bitmap) {
    HWND button = CreateWindowExW(
        0, L"BUTTON", L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON | BS_BITMAP, S(18),
        S(17), S(140), S(134), page, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), Instance(),
        nullptr);
    SendMessageW(button, BM_SETIMAGE, IMAGE_BITMAP,
                 reinterpret_cast<LPARAM>(LoadPictureOnFace(bitmap)));
    return button;
}

HWND Win32MainWindow::MakeLabel(HWND page, std::string_view text, HFONT font, int x, int y) {
    const std::wstring wide = W(text);
    const SIZE size = TextSize(page, font, wide);
    HWND label =
        CreateWindowExW(0, L"STATIC", wide.c_str(), WS_CHILD | WS_VISIBLE | SS_NOPREFIX, S(x), S(y),
                        size.cx + 2, size.cy, page, nullptr, Instance(), nullptr);
    SetFont(label, font);
    return label;
}

HWND Win32MainWindow::MakeLink(HWND page, int id, std::string_view url, int x, int y) {
    const std::wstring wide = W(url);
    const SIZE size = TextSize(page, arial_, wide);
    const std::wstring markup = L"<a>" + wide + L"</a>";
    HWND link = CreateWindowExW(
        0, WC_LINK, markup.c_str(), WS_CHILD | WS_VISIBLE | WS_TABSTOP, S(x), S(y), size.cx + 4,
        size.cy + 2, page, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), Instance(), nullptr);
    SetFont(link, arial_);
    return link;
}

void Win32MainWindow::ShowPage(int index) {
    for (int i = 0; i < 4; ++i) ShowWindow(pages_[i], i == index ? SW_SHOW : SW_HIDE);
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
                        main_->buttonUpdata_Click();
                        return 0;
                    case kIdButtonKroDown:
                        main_->buttonKroDown_Click();
                        return 0;
                    case kIdButtonFwDown:
                        main_->buttonFwDown_Click();
                        return 0;
                    case kIdCheckBoxMaps: {
                        const bool on =
                            SendMessageW(checkBoxMaps, BM_GETCHECK, 0, 0) == BST_CHECKED;
                        RememberAlsoSaveMaps(on);
                        main_->SetAlsoSavePointMaps(on);
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
                return 0;
            }
            break;
        }
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
    return AnsiPath(file.data());
}

std::string Win32MainWindow::SettingText(Setting setting) {
    std::lock_guard<std::mutex> lock(settingsMutex_);
    return settings_[setting];
}

void Win32MainWindow::SetLabelPackets(const std::string& text) {
    labelPackets_ = text;
}

bool Win32MainWindow::OpenUrl(const std::string& url) {
    return platform::OpenUrl(url);
}
