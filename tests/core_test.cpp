// The record, the line formatting, and the fill and apply steps against the
// scripted display-settings layer.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>

#include "fake_display_settings.h"
#include "form_layout.h"
#include "mode_list.h"

namespace {

class RecordingList final : public DspListView {
public:
    std::vector<std::string> lines;
    int pumps = 0;
    int selected = -1;
    int focusCalls = 0;

    void AppendLine(const std::string& line) override { lines.push_back(line); }
    void ProcessPendingEvents() override
    {
        ++pumps;
        EXPECT_EQ(pumps, static_cast<int>(lines.size())) << "events are handled after each line";
    }
    int SelectedPosition() const override { return selected; }
    void FocusList() override { ++focusCalls; }
};

TEST(DspModeRecord, PlatformWrittenBytesReadBackThroughMembers)
{
    // A platform fills the record by offset; the program reads it by member.
    unsigned char raw[sizeof(DspMode)] = {};
    const auto put32 = [&raw](size_t at, int32_t v) { std::memcpy(raw + at, &v, 4); };
    const int32_t bitsWithHighHalf = 0x7fff0020;  // 32 bpp, junk in the high half
    put32(104, bitsWithHighHalf);
    put32(108, 1280);
    put32(112, 1024);
    put32(120, 75);
    DspMode m{};
    std::memcpy(&m, raw, sizeof m);
    EXPECT_EQ(m.dmBitsPerPel, 32);
    EXPECT_EQ(m.dmPelsWidth, 1280);
    EXPECT_EQ(m.dmPelsHeight, 1024);
    EXPECT_EQ(m.dmDisplayFrequency, 75);
    // A copy hands every byte back unchanged, the high half included.
    DspMode copy = m;
    EXPECT_EQ(std::memcmp(&copy, raw, sizeof raw), 0);
}

TEST(FmtNum, RightAlignsInAtLeastFiveCharacters)
{
    const struct {
        int32_t n;
        const char* text;
    } cases[] = {
        {0, "    0"},          {640, "  640"},         {1024, " 1024"},
        {9999, " 9999"},       {10000, "10000"},       {32767, "32767"},
        {32768, "32768"},      {99999, "99999"},       {100000, "100000"},
        {-1, "   -1"},         {-9999, "-9999"},       {-10000, "-10000"},
        {-32768, "-32768"},    {-32769, "-32769"},
        {std::numeric_limits<int32_t>::min(), "-2147483648"},
        {std::numeric_limits<int32_t>::max(), "2147483647"},
    };
    for (const auto& c : cases) EXPECT_EQ(FmtNum(c.n), c.text) << c.n;
}

TEST(DepthText, NamesFourDepthsAndNothingElse)
{
    EXPECT_EQ(DepthText(4), " 16色( 4bit)");
    EXPECT_EQ(DepthText(8), "256色( 8bit)");
    EXPECT_EQ(DepthText(16), " 高彩(16bit)");
    EXPECT_EQ(DepthText(32), " 全彩(32bit)");
    for (const int16_t other : {0, 1, 2, 15, 24, 30, 64, -1, -32768})
        EXPECT_EQ(DepthText(other), "") << other;
}

TEST(DspLine, WholeLines)
{
    using F = FakeDisplaySettings;
    EXPECT_EQ(DspLine(F::Mode(640, 480, 8)), "  640 x   480   256色( 8bit)");
    EXPECT_EQ(DspLine(F::Mode(1024, 768, 32)), " 1024 x   768    全彩(32bit)");
    EXPECT_EQ(DspLine(F::Mode(800, 600, 24)), "  800 x   600   ");
    EXPECT_EQ(DspLine(F::Mode(1280, 1024, 16)), " 1280 x  1024    高彩(16bit)");
    EXPECT_EQ(DspLine(F::Mode(320, 200, 4)), "  320 x   200    16色( 4bit)");
    EXPECT_EQ(DspLine(F::Mode(1, 1, 1)), "    1 x     1   ");
    EXPECT_EQ(DspLine(F::Mode(15360, 8640, 15)), "15360 x  8640   ");
    // Beyond the 16-bit range the full value is shown, never a wrapped one.
    EXPECT_EQ(DspLine(F::Mode(32768, 70000, 32)), "32768 x 70000    全彩(32bit)");
    EXPECT_EQ(DspLine(F::Mode(-40000, -5, 32)), "-40000 x    -5    全彩(32bit)");
}

TEST(FillDspList, OneLinePerModeInThePlatformsOrder)
{
    FakeDisplaySettings fake;
    using F = FakeDisplaySettings;
    fake.modes = {F::Mode(1024, 768, 32), F::Mode(640, 480, 8), F::Mode(1024, 768, 32, 75),
                  F::Mode(800, 600, 24), F::Mode(1024, 768, 32)};
    RecordingList list;
    FillDspList(fake, list);
    const std::vector<std::string> expected = {
        " 1024 x   768    全彩(32bit)", "  640 x   480   256色( 8bit)",
        " 1024 x   768    全彩(32bit)", "  800 x   600   ",
        " 1024 x   768    全彩(32bit)"};
    EXPECT_EQ(list.lines, expected) << "nothing sorted, merged or filtered";
    EXPECT_EQ(list.pumps, 5);
    EXPECT_EQ(fake.enumCalls, 6) << "the query past the last mode ends the list";
    EXPECT_TRUE(fake.applied.empty());
}

TEST(FillDspList, FailingFirstQueryLeavesTheListEmpty)
{
    FakeDisplaySettings fake;
    RecordingList list;
    FillDspList(fake, list);
    EXPECT_TRUE(list.lines.empty());
    EXPECT_EQ(list.pumps, 0);
    EXPECT_EQ(fake.enumCalls, 1);
}

class ApplyDspTest : public testing::Test {
protected:
    void SetUp() override
    {
        using F = FakeDisplaySettings;
        fake.modes = {F::Mode(640, 480, 32, 60), F::Mode(800, 600, 32, 60),
                      F::Mode(800, 600, 32, 75), F::Mode(1024, 768, 32, 60)};
        FillDspList(fake, list);
    }

    FakeDisplaySettings fake;
    RecordingList list;
};

TEST_F(ApplyDspTest, NothingSelectedDoesNothing)
{
    EXPECT_EQ(ApplyDsp(fake, list), std::nullopt);
    EXPECT_TRUE(fake.applied.empty());
    EXPECT_EQ(list.focusCalls, 0);
}

TEST_F(ApplyDspTest, AppliesTheSelectedLinesOwnRecordPersistently)
{
    list.selected = 3;
    EXPECT_EQ(ApplyDsp(fake, list), dsp::kDispChangeSuccessful);
    ASSERT_EQ(fake.applied.size(), 1u);
    EXPECT_EQ(std::memcmp(&fake.applied[0].mode, &fake.modes[3], sizeof(DspMode)), 0);
    EXPECT_EQ(fake.applied[0].flags, dsp::kUpdateRegistry);
    EXPECT_EQ(list.focusCalls, 1);
    EXPECT_EQ(list.selected, 3) << "the selection stays";
}

TEST_F(ApplyDspTest, IdenticalLinesApplyTheirOwnModes)
{
    ASSERT_EQ(list.lines[1], list.lines[2]);
    list.selected = 2;
    ApplyDsp(fake, list);
    list.selected = 1;
    ApplyDsp(fake, list);
    ASSERT_EQ(fake.applied.size(), 2u);
    EXPECT_EQ(fake.applied[0].mode.dmDisplayFrequency, 75);
    EXPECT_EQ(fake.applied[1].mode.dmDisplayFrequency, 60);
}

TEST_F(ApplyDspTest, PressingTwiceAppliesTheSameModeTwice)
{
    list.selected = 0;
    ApplyDsp(fake, list);
    ApplyDsp(fake, list);
    ASSERT_EQ(fake.applied.size(), 2u);
    EXPECT_EQ(std::memcmp(&fake.applied[0].mode, &fake.applied[1].mode, sizeof(DspMode)), 0);
}

TEST_F(ApplyDspTest, IndexThePlatformNoLongerKnowsAppliesNothing)
{
    list.selected = 3;
    fake.modes.resize(2);
    EXPECT_EQ(ApplyDsp(fake, list), std::nullopt);
    EXPECT_TRUE(fake.applied.empty());
}

TEST_F(ApplyDspTest, RefusedModeIsReturnedNotThrown)
{
    fake.changeResult = dsp::kDispChangeBadMode;
    list.selected = 1;
    EXPECT_EQ(ApplyDsp(fake, list), dsp::kDispChangeBadMode);
    EXPECT_EQ(fake.applied.size(), 1u);
}

TEST_F(ApplyDspTest, PositionsPast16BitsAreApplied)
{
    fake.modes.resize(40000, FakeDisplaySettings::Mode(640, 480, 8));
    fake.modes.back().dmDisplayFrequency = 85;
    list.selected = 39999;
    EXPECT_EQ(ApplyDsp(fake, list), dsp::kDispChangeSuccessful);
    ASSERT_EQ(fake.applied.size(), 1u);
    EXPECT_EQ(fake.applied[0].mode.dmDisplayFrequency, 85);
}

TEST(FormLayout, TheWindowsPiecesMeet)
{
    using namespace form;
    // The etched separator lies right under the logo, dark line over light.
    EXPECT_EQ(kWrkLogo.top + kWrkLogo.height, kLine1Top);
    EXPECT_EQ(kLine2Top, kLine1Top + 1);
    // The light label one pixel right of and below the dark one.
    EXPECT_EQ(kLab[1].left, kLab[0].left + 1);
    EXPECT_EQ(kLab[1].top, kLab[0].top + 1);
    // The list right of the logo, the button below the separator, all inside.
    EXPECT_GT(kDspList.left, kWrkLogo.left + kWrkLogo.width);
    EXPECT_GT(kSetDSP.top, kLine2Top);
    for (const Box& b : {kDspList, kSetDSP, kLab[0], kLab[1], kWrkLogo}) {
        EXPECT_LE(b.left + b.width, kClientWidth);
        EXPECT_LE(b.top + b.height, kClientHeight);
    }
}

}  // namespace
