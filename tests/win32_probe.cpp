// Looks at a running tavrimo.exe from outside, the way another program on the
// same desktop would, and at the platform's display settings.
//   win32_probe list       the window's list equals the platform's modes, line by line
//   win32_probe mode K     mode K of the platform's enumeration, as "W H BPP"
//   win32_probe registry   the stored mode (ENUM_REGISTRY_SETTINGS), as "W H BPP"
//   win32_probe texts      the accessible texts of the window's controls
//   win32_probe find W H BPP   the first index of that mode in the enumeration, or -1
//   win32_probe layout     client size, list and button rectangles, styles that matter
//   win32_probe alive      the window exists and answers within two seconds
//   win32_probe expected DPI   what layout and texts should print at that DPI, from the
//                          layout both windows share
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include <windows.h>

#include "form_layout.h"
#include "mode_list.h"
#include "resource.h"
#include "win32_display_settings.h"

namespace {

class Lines final : public DspListView {
public:
    std::vector<std::string> lines;
    void AppendLine(const std::string& line) override { lines.push_back(line); }
    void ProcessPendingEvents() override {}
    int SelectedPosition() const override { return -1; }
    void FocusList() override {}
};

std::string Narrow(const std::wstring& w)
{
    const int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0,
                                      nullptr, nullptr);
    std::string s(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr,
                        nullptr);
    return s;
}

HWND FindForm()
{
    for (int i = 0; i < 100; ++i) {
        if (HWND w = FindWindowW(L"TavrimoMainForm", L"Tavrimo")) return w;
        Sleep(100);
    }
    return nullptr;
}

int PrintMode(int32_t index)
{
    DEVMODEA dm{};
    dm.dmSize = sizeof dm;
    if (!EnumDisplaySettingsA(nullptr, static_cast<DWORD>(index), &dm)) return 1;
    std::printf("%lu %lu %lu\n", dm.dmPelsWidth, dm.dmPelsHeight, dm.dmBitsPerPel);
    return 0;
}

int CompareList()
{
    const HWND form = FindForm();
    if (form == nullptr) {
        std::printf("no window\n");
        return 1;
    }
    const HWND list = GetDlgItem(form, IDC_DSPLIST);
    const LRESULT count = SendMessageW(list, LB_GETCOUNT, 0, 0);
    Win32DisplaySettings settings;
    Lines expected;
    FillDspList(settings, expected);
    int bad = 0;
    if (count != static_cast<LRESULT>(expected.lines.size())) {
        std::printf("count %ld, platform %zu\n", static_cast<long>(count), expected.lines.size());
        ++bad;
    }
    for (LRESULT i = 0; i < count && static_cast<size_t>(i) < expected.lines.size(); ++i) {
        std::wstring text(static_cast<size_t>(SendMessageW(list, LB_GETTEXTLEN, i, 0)), L'\0');
        SendMessageW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(text.data()));
        if (Narrow(text) != expected.lines[static_cast<size_t>(i)]) {
            std::printf("line %ld: [%s] != [%s]\n", static_cast<long>(i), Narrow(text).c_str(),
                        expected.lines[static_cast<size_t>(i)].c_str());
            ++bad;
        }
    }
    std::printf("%ld lines\n", static_cast<long>(count));
    return bad == 0 ? 0 : 1;
}

int PrintTexts()
{
    const HWND form = FindForm();
    if (form == nullptr) return 1;
    for (const int id : {IDC_DSPLIST, IDC_SETDSP}) {
        wchar_t text[256] = {};
        GetWindowTextW(GetDlgItem(form, id), text, 256);
        std::printf("%d [%s]\n", id, Narrow(text).c_str());
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "list") return CompareList();
    if (command == "mode" && argc > 2) return PrintMode(std::atoi(argv[2]));
    if (command == "registry") return PrintMode(static_cast<int32_t>(ENUM_REGISTRY_SETTINGS));
    if (command == "texts") return PrintTexts();
    if (command == "find" && argc > 4) {
        DEVMODEA dm{};
        dm.dmSize = sizeof dm;
        for (DWORD i = 0; EnumDisplaySettingsA(nullptr, i, &dm); ++i) {
            if (dm.dmPelsWidth == std::strtoul(argv[2], nullptr, 10) &&
                dm.dmPelsHeight == std::strtoul(argv[3], nullptr, 10) &&
                dm.dmBitsPerPel == std::strtoul(argv[4], nullptr, 10)) {
                std::printf("%lu\n", i);
                return 0;
            }
        }
        std::printf("-1\n");
        return 1;
    }
    if (command == "layout") {
        const HWND form = FindForm();
        if (form == nullptr) return 1;
        RECT client{};
        GetClientRect(form, &client);
        std::printf("client %ld %ld\n", client.right, client.bottom);
        for (const int id : {IDC_DSPLIST, IDC_SETDSP}) {
            const HWND control = GetDlgItem(form, id);
            RECT r{};
            GetWindowRect(control, &r);
            MapWindowPoints(nullptr, form, reinterpret_cast<POINT*>(&r), 2);
            std::printf("%d %ld %ld %ld\n", id, r.left, r.top, r.right - r.left);
        }
        const LONG_PTR style = GetWindowLongPtrW(form, GWL_STYLE);
        const LONG_PTR list = GetWindowLongPtrW(GetDlgItem(form, IDC_DSPLIST), GWL_STYLE);
        const LONG_PTR button = GetWindowLongPtrW(GetDlgItem(form, IDC_SETDSP), GWL_STYLE);
        std::printf("sizable %d maximizable %d sorted %d integral %d default %d\n",
                    (style & WS_THICKFRAME) != 0, (style & WS_MAXIMIZEBOX) != 0,
                    (list & LBS_SORT) != 0, (list & LBS_NOINTEGRALHEIGHT) == 0,
                    (button & 0x0F) == BS_DEFPUSHBUTTON);
        GUITHREADINFO gui{};
        gui.cbSize = sizeof gui;
        GetGUIThreadInfo(GetWindowThreadProcessId(form, nullptr), &gui);
        std::printf("focus %d\n", gui.hwndFocus ? GetDlgCtrlID(gui.hwndFocus) : 0);
        std::printf("selected %ld\n", static_cast<long>(SendMessageW(GetDlgItem(form, IDC_DSPLIST), LB_GETCURSEL, 0, 0)));
        return 0;
    }
    if (command == "alive") {
        const HWND form = FindForm();
        DWORD_PTR answer = 0;
        return form && SendMessageTimeoutW(form, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 2000, &answer) ? 0 : 1;
    }
    if (command == "expected" && argc > 2) {
        const int dpi = std::atoi(argv[2]);
        const auto scale = [dpi](int px) { return MulDiv(px, dpi, 96); };
        std::printf("client %d %d\n", scale(form::kClientWidth), scale(form::kClientHeight));
        for (const auto& [id, box] : {std::pair{IDC_DSPLIST, form::kDspList}, {IDC_SETDSP, form::kSetDSP}})
            std::printf("%d %d %d %d\n", id, scale(box.left), scale(box.top), scale(box.width));
        std::printf("%d [%s]\n%d [%s]\n", IDC_DSPLIST, form::kListName, IDC_SETDSP,
                    form::kButtonCaption);
        return 0;
    }
    std::fprintf(stderr, "usage: win32_probe list | mode K | registry | texts | alive | expected DPI\n");
    return 2;
}
