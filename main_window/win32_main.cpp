#include <exception>

#include <windows.h>

#include "win32_display_settings.h"
#include "win32_main_form.h"

namespace {

int ReportFatal(const std::wstring& what)
{
    const std::wstring text = L"發生錯誤，程式即將結束：\n" + what;
    ::MessageBoxW(nullptr, text.c_str(), L"Tavrimo", MB_OK | MB_ICONERROR);
    return 1;
}

int Run(HINSTANCE instance, int showCommand)
{
    Win32DisplaySettings settings;
    MainForm form(settings, instance);
    try {
        form.Load();
    } catch (const std::exception& e) {
        MainForm::NoteFatal(e.what());
        return ReportFatal(MainForm::FatalError());
    }
    form.Show(showCommand);

    MSG msg{};
    BOOL got;
    while ((got = ::GetMessageW(&msg, nullptr, 0, 0)) > 0) {
        if (!::IsDialogMessageW(form.Window(), &msg)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
    if (!MainForm::FatalError().empty()) return ReportFatal(MainForm::FatalError());
    return got < 0 ? 1 : static_cast<int>(msg.wParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand)
{
    try {
        return Run(instance, showCommand);
    } catch (...) {
        return ReportFatal(L"unknown error");
    }
}
