#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/send_options.h"
#include "remote/key_lookup.h"

namespace {

using remote::KeyLookup;

TEST(SendKeyLookup, NamesHintsNumbersAndPrefixesInAnyCase) {
    const struct {
        const char* word;
        int hotspot;
    } cases[] = {
        {"POWER_ON/OFF", 1},      {"power", 1},    {"KEY_4_Split", 17},
        {"1ch_show", 13},         {"#21", 21},     {"#6", 6},
        {"1_3_Split", 2},  // whole name over longer ones
        {"key_1_3_split_m2", 20}, {"outsize", 12}, {"_IR_KEY_2", 14},
    };
    for (const auto& c : cases) {
        const KeyLookup lookup = remote::lookUpKey(c.word);
        ASSERT_EQ(lookup.result, KeyLookup::Result::Found) << c.word;
        EXPECT_EQ(lookup.key->hotspot, c.hotspot) << c.word;
    }
}

TEST(SendKeyLookup, AmbiguousPrefixListsEveryCandidate) {
    const KeyLookup lookup = remote::lookUpKey("audio");
    EXPECT_EQ(lookup.result, KeyLookup::Result::Ambiguous);
    EXPECT_EQ(lookup.names,
              (std::vector<std::string_view>{"AUDIO_CH1", "AUDIO_CH2", "AUDIO_mute/unmute",
                                             "AUDIO_CH3", "AUDIO_CH4"}));
}

TEST(SendKeyLookup, UnknownWordsGetTheNearestNames) {
    for (const char* word : {"", "#0", "#22", "#", "x#1", "#1x"}) {
        EXPECT_EQ(remote::lookUpKey(word).result, KeyLookup::Result::Unknown) << word;
    }
    EXPECT_TRUE(remote::lookUpKey("#22").names.empty());
    EXPECT_EQ(remote::lookUpKey("powr").names, std::vector<std::string_view>{"POWER_ON/OFF"});
    EXPECT_EQ(remote::lookUpKey("4ch_shwo").names, std::vector<std::string_view>{"4CH_Show"});
}

TEST(SendCommandLine, KeysAndTextsKeepTheirOrder) {
    const auto parsed = cli::parseCommandLine({"--port=COM7", "--baud", "$2580", "--wait", "1000",
                                               "power", "--text", "G08", "#13", "--", "1ch"});
    ASSERT_TRUE(parsed.errors.empty()) << parsed.errors.front();
    const cli::Options& options = parsed.options;
    EXPECT_EQ(options.port, "COM7");
    EXPECT_EQ(options.baud, 9600);
    EXPECT_EQ(options.wait.count(), 1000);
    std::vector<std::string> sent;
    for (const cli::Command& command : options.commands) {
        sent.push_back(command.label + "=" +
                       std::string(command.frame.bytes.begin(), command.frame.bytes.end()));
    }
    EXPECT_EQ(sent, (std::vector<std::string>{"POWER_ON/OFF=G45g\n", std::string("G08=G08\0\n", 9),
                                              "1CH_Show=G0Cg\n", "1CH_Show=G0Cg\n"}));
}

TEST(SendCommandLine, RefusesWhatWouldSendTheWrongThingOrNothing) {
    const std::vector<std::vector<std::string_view>> refused = {
        {},
        {"Reserved"},
        {"power", "#6"},
        {"--text", "G45gX"},
        {"--text", ""},
        {"--baud", "0", "power"},
        {"--baud", "fast", "power"},
        {"--wait", "-1", "power"},
        {"--wait", "99999999999", "power"},
        {"--search", "power"},
        {"--search", "--port", "COM6"},
        {"--list-keys", "--text", "G45g"},
        {"--list-keys", "--search"},
        {"power", "--port"},
        {"--json=yes", "power"},
        {"--frobnicate", "power"},
    };
    for (const auto& args : refused) {
        EXPECT_FALSE(cli::parseCommandLine(args).errors.empty()) << ::testing::PrintToString(args);
    }
    EXPECT_EQ(cli::parseCommandLine({"powr", "audio", "power", "Reserved"}).errors.size(), 3u);
    // A number past the last key is answered with the numbering, not with names.
    EXPECT_EQ(cli::parseCommandLine({"#22"}).errors,
              std::vector<std::string>{
                  "unknown key \"#22\"; the keys are #1 to #21 (--list-keys shows them all)"});
    EXPECT_EQ(cli::parseCommandLine({"powr", "--help"}).options.action, cli::Options::Action::Help);
}

}  // namespace
