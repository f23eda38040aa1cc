// Arbitrary mode records and query results through the scripted layer into
// the fill, the line formatting and the apply step.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fake_display_settings.h"
#include "mode_list.h"

namespace {

class CheckedList final : public DspListView {
public:
    std::vector<std::string> lines;
    int pumps = 0;
    int selected = -1;
    void AppendLine(const std::string& line) override { lines.push_back(line); }
    void ProcessPendingEvents() override { ++pumps; }
    int SelectedPosition() const override { return selected; }
    void FocusList() override {}
};

void Check(bool ok)
{
    if (!ok) std::abort();
}

// The field as the rule states it, written independently of the formatter.
std::string Field(int32_t n)
{
    std::string digits = std::to_string(static_cast<int64_t>(n));
    return std::string(digits.size() < 5 ? 5 - digits.size() : 0, ' ') + digits;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 4) return 0;
    int32_t selected = 0;
    std::memcpy(&selected, data, 4);
    data += 4;
    size -= 4;

    FakeDisplaySettings fake;
    for (size_t at = 0; at + sizeof(DspMode) <= size; at += sizeof(DspMode)) {
        DspMode m;
        std::memcpy(&m, data + at, sizeof m);
        fake.modes.push_back(m);
    }
    CheckedList list;
    FillDspList(fake, list);
    Check(list.lines.size() == fake.modes.size());
    Check(list.pumps == static_cast<int>(list.lines.size()));
    for (size_t i = 0; i < list.lines.size(); ++i) {
        const DspMode& m = fake.modes[i];
        const std::string expected = Field(m.dmPelsWidth) + " x " + Field(m.dmPelsHeight) + "   ";
        const std::string& line = list.lines[i];
        Check(line.compare(0, expected.size(), expected) == 0);
        const std::string label = line.substr(expected.size());
        switch (m.dmBitsPerPel) {
        case 4: Check(label == " 16色( 4bit)"); break;
        case 8: Check(label == "256色( 8bit)"); break;
        case 16: Check(label == " 高彩(16bit)"); break;
        case 32: Check(label == " 全彩(32bit)"); break;
        default: Check(label.empty());
        }
    }

    list.selected = selected;
    const auto result = ApplyDsp(fake, list);
    const bool known = selected >= 0 && static_cast<size_t>(selected) < fake.modes.size();
    Check(result.has_value() == known);
    Check(fake.applied.size() == (known ? 1u : 0u));
    if (known) {
        Check(std::memcmp(&fake.applied[0].mode, &fake.modes[static_cast<size_t>(selected)],
                          sizeof(DspMode)) == 0);
        Check(fake.applied[0].flags == dsp::kUpdateRegistry);
    }
    return 0;
}
