// The program's one window, in raw Win32.
#pragma once

#include <memory>
#include <string>
#include <type_traits>

#include <windows.h>

#include "mode_list.h"

struct GdiDeleter {
    void operator()(HGDIOBJ object) const { ::DeleteObject(object); }
};
template <class Handle>
using GdiHandle = std::unique_ptr<std::remove_pointer_t<Handle>, GdiDeleter>;

class MainForm final : private DspListView {
public:
    MainForm(DisplaySettings& settings, HINSTANCE instance);
    ~MainForm() override;
    MainForm(const MainForm&) = delete;
    MainForm& operator=(const MainForm&) = delete;

    // Creates the window hidden, with its controls, and fills the list.
    // Throws on failure; the window is then never shown.
    void Load();
    void Show(int showCommand);
    HWND Window() const { return hwnd_; }

    // Set by a handler that failed; the message loop then ends.
    static const std::wstring& FatalError();
    static void NoteFatal(const char* what) noexcept;

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
    void CreateFonts();
    void Layout();
    void Paint(HDC dc);
    int Scale(int pixels) const { return ::MulDiv(pixels, static_cast<int>(dpi_), 96); }
    void ApplyDsp();

    void AppendLine(const std::string& line) override;
    void ProcessPendingEvents() override;
    int SelectedPosition() const override;
    void FocusList() override;

    DisplaySettings& settings_;
    HINSTANCE instance_;
    HWND hwnd_ = nullptr;
    HWND DspList = nullptr;
    HWND SetDSP = nullptr;
    HWND lastFocus_ = nullptr;
    UINT dpi_ = 96;
    ATOM class_ = 0;
    GdiHandle<HBRUSH> background_;
    GdiHandle<HBITMAP> wrkLogo_;
    GdiHandle<HFONT> windowFont_;
    GdiHandle<HFONT> listFont_;
    GdiHandle<HFONT> buttonFont_;
};

// UTF-8 to UTF-16.
std::wstring Widen(const std::string& text);
