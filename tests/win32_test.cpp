// The Win32 layer against scripted user32 calls, and the window's ownership
// of its handles and its failure path, under Wine on a private X server.
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <vector>

#include <windows.h>

#include "fake_display_settings.h"
#include "mode_list.h"
#include "resource.h"
#include "win32_display_settings.h"
#include "win32_main_form.h"

namespace {

// The platform's list as the scripted calls serve it, and what they applied.
std::vector<DEVMODEA> g_modes;
std::vector<DEVMODEA> g_applied;

DEVMODEA Mode(DWORD width, DWORD height, DWORD bits)
{
    DEVMODEA m{};
    m.dmSize = sizeof m;
    m.dmFields = DM_BITSPERPEL | DM_PELSWIDTH | DM_PELSHEIGHT;
    m.dmPelsWidth = width;
    m.dmPelsHeight = height;
    m.dmBitsPerPel = bits;
    return m;
}

BOOL WINAPI ScriptedEnum(LPCSTR, DWORD index, DEVMODEA* m)
{
    if (index >= g_modes.size()) return FALSE;
    *m = g_modes[index];
    return TRUE;
}

LONG WINAPI ScriptedChange(DEVMODEA* m, DWORD)
{
    g_applied.push_back(*m);
    return DISP_CHANGE_SUCCESSFUL;
}

class Selection final : public DspListView {
public:
    int selected = -1;
    void AppendLine(const std::string&) override {}
    void ProcessPendingEvents() override {}
    int SelectedPosition() const override { return selected; }
    void FocusList() override {}
};

TEST(Win32Layer, AnIndexWhoseModeChangedSinceTheFillAppliesNothing)
{
    g_modes = {Mode(640, 480, 8), Mode(800, 600, 16), Mode(1024, 768, 32)};
    g_applied.clear();
    Win32DisplaySettings layer({&ScriptedEnum, &ScriptedChange});
    Selection list;
    FillDspList(layer, list);

    // A monitor change puts a new mode first: position 1 now names 640 x 480.
    g_modes.insert(g_modes.begin(), Mode(1280, 1024, 32));
    list.selected = 1;
    EXPECT_FALSE(ApplyDsp(layer, list).has_value());
    EXPECT_TRUE(g_applied.empty()) << "applied " << g_applied.front().dmPelsWidth;

    // Where the list still holds, the same index applies its own mode.
    g_modes.erase(g_modes.begin());
    ASSERT_EQ(ApplyDsp(layer, list), DISP_CHANGE_SUCCESSFUL);
    ASSERT_EQ(g_applied.size(), 1u);
    EXPECT_EQ(g_applied[0].dmPelsWidth, 800u);
    EXPECT_EQ(g_applied[0].dmSize, sizeof(DspMode));
}

// A layer whose apply fails with a text that is not UTF-8.
class Throwing final : public DisplaySettings {
public:
    FakeDisplaySettings modes;
    int32_t EnumDisplaySettingsA(const char* d, int32_t n, DspMode* m) override
    {
        return modes.EnumDisplaySettingsA(d, n, m);
    }
    int32_t ChangeDisplaySettingsA(const DspMode*, int32_t) override
    {
        throw std::runtime_error("\xff\xfe broken");
    }
};

TEST(Win32Form, AFailingHandlerEndsTheLoopWithoutLeavingTheWindowProcedure)
{
    Throwing layer;
    layer.modes.modes = {FakeDisplaySettings::Mode(800, 600, 32)};
    MainForm form(layer, ::GetModuleHandleW(nullptr));
    form.Load();
    form.Show(SW_SHOWNORMAL);
    const HWND list = ::GetDlgItem(form.Window(), IDC_DSPLIST);
    ::SendMessageW(list, LB_SETCURSEL, 0, 0);
    ::SendMessageW(::GetDlgItem(form.Window(), IDC_SETDSP), BM_CLICK, 0, 0);
    EXPECT_FALSE(MainForm::FatalError().empty());
    MSG msg{};
    bool quit = false;
    while (!quit && ::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) quit = msg.message == WM_QUIT;
    EXPECT_TRUE(quit) << "the message loop is told to end";
}

TEST(Win32Form, AWindowClosedByTheUserLeavesNoHandleBehind)
{
    FakeDisplaySettings fake;
    fake.modes = {FakeDisplaySettings::Mode(800, 600, 32)};
    HBRUSH brush = nullptr;
    {
        MainForm form(fake, ::GetModuleHandleW(nullptr));
        form.Load();
        brush = reinterpret_cast<HBRUSH>(::GetClassLongPtrW(form.Window(), GCLP_HBRBACKGROUND));
        ASSERT_NE(brush, nullptr);
        ::DestroyWindow(form.Window());
        EXPECT_EQ(form.Window(), nullptr) << "the destructor would destroy a dead handle";
        EXPECT_NE(::GetObjectType(brush), 0u) << "the class still holds its brush";
    }
    EXPECT_EQ(::GetObjectType(brush), 0u) << "unregistering the class deleted its brush";
}

}  // namespace
