// kanshi's configuration as a store: the profile kanshi would choose for the
// connected outputs, the one line of it that changes, and the running kanshi's
// file. The configurations follow kanshi(5), its examples among them, in
// both the grammar of kanshi 1.3 and the scfg files of kanshi 1.4 and later.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

#include "wlr_kanshi_config.h"
#include "xvnc.h"

namespace {

namespace fs = std::filesystem;

const KanshiOutput kLvds{"LVDS-1", "", "", ""};
const KanshiOutput kAsdf{"HDMI-A-1", "Some Company", "ASDF", "4242"};
const KanshiOutput kHead1{"HEADLESS-1", "headless", "headless", ""};
const KanshiOutput kHead2{"HEADLESS-2", "headless", "headless", ""};

// kanshi(5)'s example.
const char kManExample[] = R"(profile {
	output LVDS-1 disable
	output "Some Company ASDF 4242" mode 1600x900 position 0,0
}

profile nomad {
	output LVDS-1 enable scale 2
}
)";

const KanshiOutput kEdp{"eDP-1", "", "", ""};
const KanshiOutput kDp1{"DP-1", "", "", ""};
const KanshiOutput kGtbz{"DP-2", "Some Other Company", "GTBZ", "2525"};

const char kManExecExamples[] = R"(profile multihead {
	output eDP-1 enable
	output DP-1 enable transform 270
	exec swaymsg workspace 1, move workspace to eDP-1
}

profile complex {
	output eDP-1 enable
	output "Some Other Company GTBZ 2525" mode 1920x1200
	exec swaymsg workspace 1, move workspace to output '"Some Other Company GTBZ 2525"'
}
)";

// kanshi 1.9's kanshi(5) example.
const char kManExample19[] = R"(include /dev/null

profile {
	output LVDS-1 disable
	output "Some Company ASDF 4242" {
		mode 1600x900
		position 0,0
	}
}

profile nomad {
	output LVDS-1 enable scale 2
}
)";

struct EditCase {
    const char* name;
    std::map<std::string, std::string> files;  // "config" is the one kanshi reads
    std::vector<KanshiOutput> connected;
    KanshiOutput output;
    std::string mode;
    KanshiStoreResult result;
    std::string changedFile;  // Stored: the file that changes, and its whole new text
    std::string changedText;
    KanshiRules rules = {};  // kanshi 1.3 to 1.5's unless told
};

const KanshiRules kKanshi19 = {true, true};
const KanshiOutput kBare1{"HEADLESS-1", "", "", ""};
const KanshiOutput kBare2{"HEADLESS-2", "", "", ""};
// Both lines match the first output kanshi tries (the newest, HEADLESS-2).
const char kTwoLinesForOneOutput[] =
    "profile {\n\toutput \"Unknown Unknown Unknown\" mode 640x480\n\toutput HEADLESS-2 enable\n}\n";

const EditCase kEditCases[] = {
    {"ManExampleOneOutputTakesTheProfileThatNamesOnlyIt",
     {{"config", kManExample}},
     {kLvds},
     kLvds,
     "1280x800@59.910Hz",
     KanshiStoreResult::Stored,
     "config",
     R"(profile {
	output LVDS-1 disable
	output "Some Company ASDF 4242" mode 1600x900 position 0,0
}

profile nomad {
	output LVDS-1 enable scale 2 mode 1280x800@59.910Hz
}
)"},
    {"ManExampleMonitorMatchedByMakeModelAndSerialKeepsItsQuotes",
     {{"config", kManExample}},
     {kLvds, kAsdf},
     kAsdf,
     "1920x1080@60.000Hz",
     KanshiStoreResult::Stored,
     "config",
     R"(profile {
	output LVDS-1 disable
	output "Some Company ASDF 4242" mode 1920x1080@60.000Hz position 0,0
}

profile nomad {
	output LVDS-1 enable scale 2
}
)"},
    {"NoProfileForTheseOutputsLeavesTheFileAlone",
     {{"config", kManExample}},
     {kAsdf},
     kAsdf,
     "1920x1080",
     KanshiStoreResult::NoProfile,
     "",
     ""},
    {"FirstMatchingProfileInFileOrderAndCommentsKept",
     {{"config", "# laptop\nprofile a {\n  # old\n  output * mode 800x600\n}\n"
                 "profile b {\n  output HEADLESS-1 mode 640x480\n}\n"}},
     {kHead1},
     kHead1,
     "1024x768",
     KanshiStoreResult::Stored,
     "config",
     "# laptop\nprofile a {\n  # old\n  output * mode 1024x768\n}\n"
     "profile b {\n  output HEADLESS-1 mode 640x480\n}\n"},
    {"NamedLineBeforeTheWildcard",
     {{"config", "profile {\n\toutput * scale 1\n\toutput HEADLESS-2 mode 800x600\n}\n"}},
     {kHead1, kHead2},
     kHead2,
     "1024x768",
     KanshiStoreResult::Stored,
     "config",
     "profile {\n\toutput * scale 1\n\toutput HEADLESS-2 mode 1024x768\n}\n"},
    {"WildcardTakesTheOutputNoLineNames",
     {{"config", "profile {\n\toutput * scale 1\n\toutput HEADLESS-2 mode 800x600\n}\n"}},
     {kHead1, kHead2},
     kHead1,
     "1024x768",
     KanshiStoreResult::Stored,
     "config",
     "profile {\n\toutput * scale 1 mode 1024x768\n\toutput HEADLESS-2 mode 800x600\n}\n"},
    {"CustomModeReplacedWithItsFlag",
     {{"config", "profile headless {\n\toutput HEADLESS-1 mode --custom 1280x720 "
                 "position 0,0\n\texec notify-send \"${HOME} {x}\" {y}\n}\n"}},
     {kHead1},
     kHead1,
     "--custom 1024x768",
     KanshiStoreResult::Stored,
     "config",
     "profile headless {\n\toutput HEADLESS-1 mode --custom 1024x768 position 0,0\n"
     "\texec notify-send \"${HOME} {x}\" {y}\n}\n"},
    // kanshi 1.3 reads a bare { as a profile, a name without the keyword as
    // no profile, and a # anywhere as a comment.
    {"Kanshi13BareProfileAndTrailingComment",
     {{"config", "nomad {\n\toutput LVDS-1 mode 1280x800\n}\n"
                 "{\n\toutput LVDS-1 mode 1024x768 # small\n}\n"}},
     {kLvds},
     kLvds,
     "1366x768@60.000Hz",
     KanshiStoreResult::Stored,
     "config",
     "nomad {\n\toutput LVDS-1 mode 1280x800\n}\n"
     "{\n\toutput LVDS-1 mode 1366x768@60.000Hz # small\n}\n"},
    // kanshi(5)'s exec examples: the rest of an exec line is the command.
    {"ManExecExamplesAndMonitorNamedByDescription",
     {{"config", kManExecExamples}},
     {kEdp, kGtbz},
     kGtbz,
     "1920x1080@59.950Hz",
     KanshiStoreResult::Stored,
     "config",
     std::string(kManExecExamples)
         .replace(std::string(kManExecExamples).find("1920x1200"), 9, "1920x1080@59.950Hz")},
    {"ManExecExamplesOutputWithoutAMode",
     {{"config", kManExecExamples}},
     {kEdp, kDp1},
     kDp1,
     "1920x1080",
     KanshiStoreResult::Stored,
     "config",
     std::string(kManExecExamples)
         .replace(std::string(kManExecExamples).find("transform 270") + 13, 0, " mode 1920x1080")},
    {"IncludedProfilesComeWhereTheirIncludeIs",
     {{"config", "include profiles.d/*\nprofile late {\n\toutput HEADLESS-1 mode 640x480\n}\n"},
      {"profiles.d/desk", "profile desk {\n\toutput 'HEADLESS-1' enable\n}\n"}},
     {kHead1},
     kHead1,
     "800x600",
     KanshiStoreResult::Stored,
     "profiles.d/desk",
     "profile desk {\n\toutput 'HEADLESS-1' enable mode 800x600\n}\n"},
    {"AliasStandsForItsMonitor",
     {{"config", "output \"Some Company ASDF 4242\" alias $desk\n"
                 "profile {\n\toutput $desk mode 1600x900\n}\n"}},
     {kAsdf},
     kAsdf,
     "1920x1200",
     KanshiStoreResult::Stored,
     "config",
     "output \"Some Company ASDF 4242\" alias $desk\nprofile {\n\toutput $desk mode 1920x1200\n}\n"},
    {"UnknownFieldsReadAsUnknown",
     {{"config", "profile {\n\toutput \"Unknown Unknown Unknown\" mode 800x600\n}\n"}},
     {kLvds},
     kLvds,
     "1024x768",
     KanshiStoreResult::Stored,
     "config",
     "profile {\n\toutput \"Unknown Unknown Unknown\" mode 1024x768\n}\n"},
    // kanshi 1.9's kanshi(5) example: an output's directives in a block of its own.
    {"BlockOfTheOutputTakesTheMode",
     {{"config", kManExample19}},
     {kLvds, kAsdf},
     kAsdf,
     "1920x1080@60.000Hz",
     KanshiStoreResult::Stored,
     "config",
     std::string(kManExample19).replace(std::string(kManExample19).find("1600x900"), 8,
                                        "1920x1080@60.000Hz")},
    {"BlockWithoutAModeGetsALineOfItsOwn",
     {{"config", "profile {\n    output HEADLESS-1 {\n        position 0,0\n    }\n}\n"}},
     {kHead1},
     kHead1,
     "--custom 1024x768",
     KanshiStoreResult::Stored,
     "config",
     "profile {\n    output HEADLESS-1 {\n        position 0,0\n        mode --custom 1024x768\n"
     "    }\n}\n"},
    // Defaults outside profiles apply where a profile names the output; the
    // profile's own line takes the mode, which wins over the default.
    {"ManDefaultsExampleProfileLineTakesTheMode",
     {{"config", "output eDP-1 scale 2 mode 1920x1080\n\nprofile uses-defaults {\n\toutput eDP-1\n}\n"}},
     {kEdp},
     kEdp,
     "2560x1600@60.000Hz",
     KanshiStoreResult::Stored,
     "config",
     "output eDP-1 scale 2 mode 1920x1080\n\nprofile uses-defaults {\n\toutput eDP-1 mode "
     "2560x1600@60.000Hz\n}\n"},
    {"GlobOverMakeModelAndSerial",
     {{"config", "profile {\n\toutput \"Some Company ASDF *\" mode 1600x900\n}\n"}},
     {kAsdf},
     kAsdf,
     "1920x1080",
     KanshiStoreResult::Stored,
     "config",
     "profile {\n\toutput \"Some Company ASDF *\" mode 1920x1080\n}\n",
     kKanshi19},
    {"GlobIsLiteralBeforeKanshi19",
     {{"config", "profile {\n\toutput \"Some Company ASDF *\" mode 1600x900\n}\n"}},
     {kAsdf}, kAsdf, "1920x1080", KanshiStoreResult::NoProfile, "", ""},
    // As kanshi 1.5 and 1.9 were seen to take them, on labwc's headless outputs.
    {"Kanshi15TriesTheLastNamedLineFirst",
     {{"config", kTwoLinesForOneOutput}},
     {kBare1, kBare2},
     kBare1,
     "--custom 800x600",
     KanshiStoreResult::Stored,
     "config",
     std::string(kTwoLinesForOneOutput).replace(std::string(kTwoLinesForOneOutput).find("640x480"),
                                                7, "--custom 800x600")},
    {"Kanshi19TakesTheLinesInFileOrderWithoutASecondTry",
     {{"config", kTwoLinesForOneOutput}},
     {kBare1, kBare2}, kBare1, "--custom 800x600", KanshiStoreResult::NoProfile, "", "",
     kKanshi19},
    {"AliasDefinedInABlock",
     {{"config", "output \"Some Company ASDF 4242\" {\n\talias $desk\n}\n"
                 "profile {\n\toutput $desk enable\n}\n"}},
     {kAsdf},
     kAsdf,
     "1920x1080",
     KanshiStoreResult::Stored,
     "config",
     "output \"Some Company ASDF 4242\" {\n\talias $desk\n}\n"
     "profile {\n\toutput $desk enable mode 1920x1080\n}\n"},
    // "...output" takes any number of outputs: a line of the output's own
    // takes the mode; one shared with others cannot.
    {"OwnLineBesideAnyNumberOfOthers",
     {{"config", "profile {\n\toutput HEADLESS-1 mode 800x600\n\t...output * enable\n}\n"}},
     {kHead1, kHead2, kLvds},
     kHead1,
     "1024x768",
     KanshiStoreResult::Stored,
     "config",
     "profile {\n\toutput HEADLESS-1 mode 1024x768\n\t...output * enable\n}\n"},
    {"ModeSharedWithOtherOutputsFails",
     {{"config", "profile {\n\toutput LVDS-1 enable\n\t...output * mode 800x600\n}\n"}},
     {kHead1, kHead2, kLvds}, kHead1, "1024x768", KanshiStoreResult::Failed, "", ""},
    {"UnclosedProfileFails", {{"config", "profile {\n\toutput * mode 800x600\n"}}, {kHead1},
     kHead1, "1024x768", KanshiStoreResult::Failed, "", ""},
    {"UnclosedQuoteFails", {{"config", "profile {\n\toutput \"LVDS-1 mode 800x600\n}\n"}},
     {kLvds}, kLvds, "1024x768", KanshiStoreResult::Failed, "", ""},
    {"MissingIncludeFails", {{"config", "include nowhere\nprofile {\n\toutput * enable\n}\n"}},
     {kHead1}, kHead1, "1024x768", KanshiStoreResult::Failed, "", ""},
};

void PrintTo(const EditCase& c, std::ostream* os) { *os << c.name; }

class KanshiEditTest : public testing::TestWithParam<EditCase> {};

TEST_P(KanshiEditTest, ChangesOnlyTheChosenProfilesLine)
{
    const EditCase& c = GetParam();
    const TempDir dir;
    for (const auto& [name, text] : c.files) {
        fs::create_directories(fs::path(dir.Path() + "/" + name).parent_path());
        std::ofstream(dir.Path() + "/" + name, std::ios::binary) << text;
    }
    const KanshiEdit edit =
        KanshiEditMode(dir.Path() + "/config", dir.Path(), c.rules, c.connected, c.output, c.mode);
    ASSERT_EQ(edit.result, c.result) << edit.error;
    if (c.result == KanshiStoreResult::Failed) {
        EXPECT_FALSE(edit.error.empty());
    }
    if (c.result != KanshiStoreResult::Stored) return;
    EXPECT_EQ(edit.path, dir.Path() + "/" + c.changedFile);
    EXPECT_EQ(edit.text, c.changedText);
}

INSTANTIATE_TEST_SUITE_P(Configs, KanshiEditTest, testing::ValuesIn(kEditCases),
                         [](const testing::TestParamInfo<EditCase>& p) { return p.param.name; });

TEST(KanshiModeValue, AsKanshiReadsIt)
{
    EXPECT_EQ(KanshiModeValue(1920, 1080, 60000, false), "1920x1080@60.000Hz");
    EXPECT_EQ(KanshiModeValue(2560, 1440, 59951, false), "2560x1440@59.951Hz");
    EXPECT_EQ(KanshiModeValue(1280, 720, 0, false), "1280x720");
    EXPECT_EQ(KanshiModeValue(1024, 768, 0, true), "--custom 1024x768");
}

TEST(KanshiConfigPath, CommandLineThenXdgConfigHomeThenHome)
{
    const std::vector<std::string> env = {"HOME=/home/u", "XDG_CONFIG_HOME=/cfg"};
    EXPECT_EQ(KanshiConfigPath({"kanshi"}, "/w", env), "/cfg/kanshi/config");
    EXPECT_EQ(KanshiConfigPath({"kanshi"}, "/w", {"HOME=/home/u", "XDG_CONFIG_HOME=rel"}),
              "/home/u/.config/kanshi/config");
    EXPECT_EQ(KanshiConfigPath({"kanshi"}, "/w", {}), "");
    EXPECT_EQ(KanshiConfigPath({"kanshi", "-c", "/etc/k"}, "/w", env), "/etc/k");
    EXPECT_EQ(KanshiConfigPath({"kanshi", "--config", "k.conf"}, "/w", env), "/w/k.conf");
    EXPECT_EQ(KanshiConfigPath({"kanshi", "--config=/a", "-c/b"}, "/w", env), "/b");
    EXPECT_EQ(KanshiConfigPath({"kanshi", "--", "-c", "/x"}, "/w", env), "/cfg/kanshi/config");
}

// Without a kanshi of this session, the store says so and touches nothing.
TEST(KanshiStoreMode, NotRunningWithoutAKanshiOfThisSession)
{
    const TempDir dir;
    setenv("XDG_RUNTIME_DIR", dir.Path().c_str(), 1);
    setenv("WAYLAND_DISPLAY", "tavrimo-no-kanshi", 1);
    std::string error;
    EXPECT_EQ(KanshiStoreMode({kHead1}, kHead1, 800, 600, 0, &error),
              KanshiStoreResult::NotRunning);
    EXPECT_FALSE(FindKanshi().running);
}

}  // namespace
