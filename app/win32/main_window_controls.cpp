// The Windows window's controls: four tab pages, the picture buttons, labels, links and the maps
// choice, at the fixed geometry and fonts the window was laid out with, scaled to the screen.
#include "app/win32/main_window.h"

// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on

#include <cstdint>
#include <cstdlib>

#include "app/point_import_maps.h"
#include "app/point_logbook.h"
#include "app/win32/resource_ids.h"
#include "app/win32/window_parts.h"
#include "app/window_texts.h"

using namespace win32window;

namespace {

// Fixed tab size, as the window was laid out.
constexpr int kTabWidth = 120;
constexpr int kTabHeight = 24;

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

}  // namespace

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
    checkBoxMaps = CreateWindowExW(0, L"BUTTON", mapsText.c_str(),
                                   WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX, S(180),
                                   S(126), mapsSize.cx + S(24), mapsSize.cy + S(4), pages_[0],
                                   reinterpret_cast<HMENU>(kIdCheckBoxMaps), Instance(), nullptr);
    SetFont(checkBoxMaps, gothic_);
    // The logbook's choice below the maps' one, and the link to the report of the rounds last
    // imported between them and the text, shown once an import has written it.
    const std::wstring logbookText = W(texts::kAddToLogbook);
    const SIZE logbookSize = TextSize(pages_[0], gothic_, logbookText);
    checkBoxLogbook = CreateWindowExW(
        0, L"BUTTON", logbookText.c_str(),
        WS_CHILD | (LogbookAvailable() ? WS_VISIBLE : 0) | WS_TABSTOP | BS_AUTOCHECKBOX, S(180),
        S(150), logbookSize.cx + S(24), logbookSize.cy + S(4), pages_[0],
        reinterpret_cast<HMENU>(kIdCheckBoxLogbook), Instance(), nullptr);
    SetFont(checkBoxLogbook, gothic_);
    linkLabelReport =
        MakeLink(pages_[0], kIdLinkLabelReport, texts::kLogbookReportLink, gothic_, 180, 100);
    ShowWindow(linkLabelReport, SW_HIDE);
    // tabPage2: course-data update.
    buttonKroDown = MakePictureButton(pages_[1], kIdButtonKroDown, IDB_BUTTON_COURSE);
    MakeLabel(pages_[1], texts::kLabel11, gothic_, 180, 30);
    MakeLabel(pages_[1], texts::kLabel18, arial_, 180, 94);
    // The link follows a line break.
    const int arialLine = TextSize(hwnd_, arial_, L"X").cy;
    MakeLink(pages_[1], kIdLinkLabel2, texts::kMemberUrl, arial_, 179,
             110 + MulDiv(arialLine, 96, dpi_));
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
    MakeLink(pages_[3], kIdLinkLabel1, texts::kMakerUrl, arial_, 181, 123);

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

HWND Win32MainWindow::MakeLink(HWND page, int id, std::string_view text, HFONT font, int x, int y) {
    const std::wstring wide = W(text);
    const SIZE size = TextSize(page, font, wide);
    const std::wstring markup = L"<a>" + wide + L"</a>";
    HWND link = CreateWindowExW(
        0, WC_LINK, markup.c_str(), WS_CHILD | WS_VISIBLE | WS_TABSTOP, S(x), S(y), size.cx + 4,
        size.cy + 2, page, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), Instance(), nullptr);
    SetFont(link, font);
    return link;
}

void Win32MainWindow::ShowPage(int index) {
    for (int i = 0; i < 4; ++i) ShowWindow(pages_[i], i == index ? SW_SHOW : SW_HIDE);
}
