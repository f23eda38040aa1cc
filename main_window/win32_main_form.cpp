#include "win32_main_form.h"

#include <stdexcept>
#include <utility>

#include <commctrl.h>

#include "form_layout.h"
#include "resource.h"

namespace {

const wchar_t kClassName[] = L"TavrimoMainForm";
constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

std::wstring g_fatal;

// The per-monitor DPI calls exist from Windows 10 1607 on; older systems get
// the system DPI.
UINT WindowDpi(HWND hwnd)
{
    using Fn = UINT(WINAPI*)(HWND);
    static const auto fn = reinterpret_cast<Fn>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    if (fn != nullptr) {
        if (const UINT dpi = fn(hwnd)) return dpi;
    }
    const HDC dc = ::GetDC(hwnd);
    const int dpi = ::GetDeviceCaps(dc, LOGPIXELSY);
    ::ReleaseDC(hwnd, dc);
    return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

RECT OuterRect(int width, int height, UINT dpi)
{
    RECT r{0, 0, width, height};
    using Fn = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
    static const auto fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "AdjustWindowRectExForDpi")));
    if (fn == nullptr || !fn(&r, kStyle, FALSE, 0, dpi)) ::AdjustWindowRectEx(&r, kStyle, FALSE, 0);
    return r;
}

[[noreturn]] void ThrowLastError(const char* what)
{
    throw std::runtime_error(std::string(what) + " failed, error " +
                             std::to_string(::GetLastError()));
}

// The font's first family, in the Big5 character set: the system maps a
// missing face to one that has the character set.
GdiHandle<HFONT> MakeFont(const form::Font& f, UINT dpi, DWORD pitch)
{
    GdiHandle<HFONT> font(::CreateFontW(
        -::MulDiv(f.hundredthsOfPoint, static_cast<int>(dpi), 7200), 0, 0, 0, FW_NORMAL, FALSE,
        FALSE, FALSE, CHINESEBIG5_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
        DEFAULT_QUALITY, pitch, Widen(f.families[0]).c_str()));
    if (!font) ThrowLastError("CreateFontW");
    return font;
}

}  // namespace

std::wstring Widen(const std::string& text)
{
    if (text.empty()) return {};
    const int n = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                        static_cast<int>(text.size()), nullptr, 0);
    if (n <= 0) throw std::runtime_error("text is not valid UTF-8");
    std::wstring wide(static_cast<size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
    return wide;
}

const std::wstring& MainForm::FatalError() { return g_fatal; }

// Keeps the first failure's text for the report; itself never throws, since
// it runs inside the window procedure's catch blocks.
void MainForm::NoteFatal(const char* what) noexcept
{
    if (!g_fatal.empty()) return;
    try {
        g_fatal = Widen(what);
    } catch (...) {
        g_fatal = L"error (its description is not valid text)";
    }
    if (g_fatal.empty()) g_fatal = L"unknown error";
}

MainForm::MainForm(DisplaySettings& settings, HINSTANCE instance)
    : settings_(settings), instance_(instance)
{
}

MainForm::~MainForm()
{
    if (hwnd_ != nullptr) ::DestroyWindow(hwnd_);
    // Unregistering deletes the class's background brush: the system owns it.
    if (class_ != 0) ::UnregisterClassW(kClassName, instance_);
}

void MainForm::Load()
{
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&controls);

    background_.reset(::CreateSolidBrush(
        RGB(form::kBackground.red, form::kBackground.green, form::kBackground.blue)));
    wrkLogo_.reset(static_cast<HBITMAP>(::LoadImageW(instance_, MAKEINTRESOURCEW(IDB_LOGO),
                                                     IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
    if (!background_ || !wrkLogo_) ThrowLastError("LoadImageW");

    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = instance_;
    wc.hIcon = static_cast<HICON>(::LoadImageW(instance_, MAKEINTRESOURCEW(IDI_APP), IMAGE_ICON,
                                               32, 32, LR_SHARED));
    wc.hIconSm = static_cast<HICON>(::LoadImageW(instance_, MAKEINTRESOURCEW(IDI_APP), IMAGE_ICON,
                                                 16, 16, LR_SHARED));
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = background_.get();
    wc.lpszClassName = kClassName;
    class_ = ::RegisterClassExW(&wc);
    if (class_ == 0) ThrowLastError("RegisterClassExW");
    background_.release();  // the class's now

    hwnd_ = ::CreateWindowExW(0, kClassName, Widen(form::kCaption).c_str(), kStyle, 0, 0,
                              form::kClientWidth, form::kClientHeight, nullptr, nullptr,
                              instance_, this);
    if (hwnd_ == nullptr) ThrowLastError("CreateWindowExW");
    dpi_ = WindowDpi(hwnd_);

    // Created in tab order: the list, then the button.
    DspList = ::CreateWindowExW(WS_EX_CLIENTEDGE, L"LISTBOX", nullptr,
                                WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL, 0, 0, 0, 0,
                                hwnd_, reinterpret_cast<HMENU>(IDC_DSPLIST), instance_, nullptr);
    SetDSP = ::CreateWindowExW(0, L"BUTTON", Widen(form::kButtonCaption).c_str(),
                               WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 0, 0, 0, 0,
                               hwnd_, reinterpret_cast<HMENU>(IDC_SETDSP), instance_, nullptr);
    if (DspList == nullptr || SetDSP == nullptr) ThrowLastError("CreateWindowExW");
    // The list's window text is what a screen reader names it by.
    ::SetWindowTextW(DspList, Widen(form::kListName).c_str());
    CreateFonts();
    Layout();

    // Centred on the primary monitor's work area.
    const RECT outer = OuterRect(Scale(form::kClientWidth), Scale(form::kClientHeight), dpi_);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    ::GetMonitorInfoW(::MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY), &monitor);
    const RECT& work = monitor.rcWork;
    const int width = outer.right - outer.left;
    const int height = outer.bottom - outer.top;
    ::SetWindowPos(hwnd_, nullptr, work.left + (work.right - work.left - width) / 2,
                   work.top + (work.bottom - work.top - height) / 2, width, height,
                   SWP_NOZORDER | SWP_NOACTIVATE);

    FillDspList(settings_, *this);
}

void MainForm::Show(int showCommand)
{
    ::ShowWindow(hwnd_, showCommand);
    ::UpdateWindow(hwnd_);
    ::SetFocus(DspList);
}

void MainForm::CreateFonts()
{
    windowFont_ = MakeFont(form::kWindowFont, dpi_, DEFAULT_PITCH | FF_DONTCARE);
    listFont_ = MakeFont(form::kListFont, dpi_, FIXED_PITCH | FF_MODERN);
    buttonFont_ = MakeFont(form::kButtonFont, dpi_, DEFAULT_PITCH | FF_DONTCARE);
    ::SendMessageW(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(windowFont_.get()), FALSE);
    ::SendMessageW(DspList, WM_SETFONT, reinterpret_cast<WPARAM>(listFont_.get()), FALSE);
    ::SendMessageW(SetDSP, WM_SETFONT, reinterpret_cast<WPARAM>(buttonFont_.get()), FALSE);
}

void MainForm::Layout()
{
    // The list box cuts its own height to whole lines.
    for (const auto& [control, box] : {std::pair{DspList, form::kDspList}, {SetDSP, form::kSetDSP}})
        ::MoveWindow(control, Scale(box.left), Scale(box.top), Scale(box.width),
                     Scale(box.height), TRUE);
    ::InvalidateRect(hwnd_, nullptr, TRUE);
}

// Draws, bottom to top: the dark label, the etched line, the logo, the light label.
void MainForm::Paint(HDC dc)
{
    const std::wstring caption = Widen(form::kCaption);
    const auto label = [&](const form::Box& b, int colour) {
        RECT r{Scale(b.left), Scale(b.top), Scale(b.left + b.width), Scale(b.top + b.height)};
        ::SetTextColor(dc, ::GetSysColor(colour));
        ::DrawTextW(dc, caption.c_str(), -1, &r, DT_LEFT | DT_TOP | DT_WORDBREAK | DT_NOPREFIX);
    };
    const auto line = [&](int y, int colour) {
        RECT r{0, Scale(y), Scale(form::kClientWidth), Scale(y) + Scale(1)};
        ::FillRect(dc, &r, ::GetSysColorBrush(colour));
    };
    const HGDIOBJ oldFont = ::SelectObject(dc, windowFont_.get());
    ::SetBkMode(dc, TRANSPARENT);
    label(form::kLab[0], COLOR_BTNSHADOW);
    line(form::kLine2Top, COLOR_WINDOW);
    line(form::kLine1Top, COLOR_BTNSHADOW);
    if (const HDC logoDc = ::CreateCompatibleDC(dc)) {
        const HGDIOBJ old = ::SelectObject(logoDc, wrkLogo_.get());
        BITMAP bm{};
        ::GetObjectW(wrkLogo_.get(), sizeof bm, &bm);
        ::SetStretchBltMode(dc, HALFTONE);
        ::StretchBlt(dc, Scale(form::kWrkLogo.left), Scale(form::kWrkLogo.top), Scale(bm.bmWidth),
                     Scale(bm.bmHeight), logoDc, 0, 0, bm.bmWidth,
                     bm.bmHeight, SRCCOPY);
        ::SelectObject(logoDc, old);
        ::DeleteDC(logoDc);
    }
    label(form::kLab[1], COLOR_WINDOW);
    ::SelectObject(dc, oldFont);
}

void MainForm::ApplyDsp() { ::ApplyDsp(settings_, *this); }

void MainForm::AppendLine(const std::string& line)
{
    const std::wstring text = Widen(line);
    const LRESULT r = ::SendMessageW(DspList, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
    if (r == LB_ERR || r == LB_ERRSPACE) throw std::runtime_error("cannot add a line to the list");
}

void MainForm::ProcessPendingEvents()
{
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            ::PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    if (!g_fatal.empty()) throw std::runtime_error("a window handler failed");
}

int MainForm::SelectedPosition() const
{
    const LRESULT r = ::SendMessageW(DspList, LB_GETCURSEL, 0, 0);
    return r == LB_ERR ? -1 : static_cast<int>(r);
}

void MainForm::FocusList()
{
    ::SetLastError(0);
    if (::SetFocus(DspList) == nullptr && ::GetLastError() != 0) ThrowLastError("SetFocus");
}

LRESULT CALLBACK MainForm::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        static_cast<MainForm*>(create->lpCreateParams)->hwnd_ = hwnd;
    }
    auto* form = reinterpret_cast<MainForm*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (form == nullptr) return ::DefWindowProcW(hwnd, message, wParam, lParam);
    // No exception may leave a window procedure: a failed handler ends the
    // program through the message loop, which reports it.
    try {
        return form->Handle(message, wParam, lParam);
    } catch (const std::exception& e) {
        NoteFatal(e.what());
    } catch (...) {
        NoteFatal("unknown error");
    }
    ::PostQuitMessage(1);
    return 0;
}

LRESULT MainForm::Handle(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_COMMAND:
        if (LOWORD(wParam) == IDC_SETDSP && HIWORD(wParam) == BN_CLICKED) {
            ApplyDsp();
            return 0;
        }
        // Enter comes as IDOK from the dialog manager; it presses the button
        // only when the button has the focus.
        if (LOWORD(wParam) == IDOK && ::GetFocus() == SetDSP) {
            ::SendMessageW(SetDSP, BM_CLICK, 0, 0);
            return 0;
        }
        break;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        const HDC dc = ::BeginPaint(hwnd_, &ps);
        Paint(dc);
        ::EndPaint(hwnd_, &ps);
        return 0;
    }
    case WM_ACTIVATE:
        if (LOWORD(wParam) == WA_INACTIVE) {
            const HWND focus = ::GetFocus();
            if (focus != nullptr && ::IsChild(hwnd_, focus)) lastFocus_ = focus;
        }
        break;
    case WM_SETFOCUS:
        ::SetFocus(lastFocus_ != nullptr ? lastFocus_ : DspList);
        return 0;
    case WM_DPICHANGED: {
        dpi_ = HIWORD(wParam);
        CreateFonts();
        Layout();
        const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
        ::SetWindowPos(hwnd_, nullptr, suggested->left, suggested->top,
                       suggested->right - suggested->left, suggested->bottom - suggested->top,
                       SWP_NOZORDER | SWP_NOACTIVATE);
        return 0;
    }
    case WM_DESTROY:
        ::PostQuitMessage(0);
        return 0;
    case WM_NCDESTROY: {
        // The handle is dead from here on: nothing of ours may use it again.
        const HWND dying = hwnd_;
        ::SetWindowLongPtrW(dying, GWLP_USERDATA, 0);
        hwnd_ = DspList = SetDSP = lastFocus_ = nullptr;
        return ::DefWindowProcW(dying, message, wParam, lParam);
    }
    }
    return ::DefWindowProcW(hwnd_, message, wParam, lParam);
}
