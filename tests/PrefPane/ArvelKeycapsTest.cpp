// The keycap tables: read from the pane's "KeyCode" resource both ways, the
// names in keyboard order for the pop-ups, and every resource that yields
// no table said in one line.
#include "PrefPane/ArvelKeycaps.h"
#include "service/DiskFixture.h"

#include "Log/Log.h"
#include "Paths/DiskRoot.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sys/stat.h>

namespace {

using Names = std::vector<std::string>;

class TheKeycaps : public ::testing::Test {
protected:
    std::optional<ArvelKeycaps> fromPropertyList(const Value& table)
    {
        DiskFixture::writePropertyList(kPath, table);
        return ArvelKeycaps::keycapsFromResource(kPath);
    }
    std::optional<ArvelKeycaps> fromText(const std::string& text)
    {
        DiskFixture::writeFile(kPath, text);
        return ArvelKeycaps::keycapsFromResource(kPath);
    }

    static constexpr const char* kPath = "/Library/PreferencePanes/Arvel.prefPane/Contents/Resources/English.lproj/KeyCode.plist";
    DiskFixture disk;
    ScopedLogCapture log;
};

TEST_F(TheKeycaps, SortSingleCharactersFirstThenNamedKeysByWordsWithFunctionKeysByNumber)
{
    auto keycaps = fromPropertyList(Value::dictionary({{"0", "a"}, {"11", "B"}, {"18", "1"}, {"24", "="}, {"27", "-"}, {"36", "Return"},
        {"116", "Page Up"}, {"109", "F10"}, {"120", "F2"}, {"53", "Esc"}}));
    ASSERT_TRUE(keycaps);
    EXPECT_EQ(keycaps->sortedKeycaps(), (Names {"a", "B", "1", "=", "-", "Esc", "F2", "F10", "Return", "Page Up"}));
    EXPECT_EQ(keyCapSort("F2", "F10", nullptr), NSOrderedAscending);
    EXPECT_EQ(keyCapSort("F10", "F2", nullptr), NSOrderedDescending);
    EXPECT_EQ(keyCapSort("return", "Return", nullptr), NSOrderedSame);
    EXPECT_EQ(log.lines(), Names {});
}

TEST_F(TheKeycaps, OfTheUSKeyboardPairEveryKeyCodeWithItsOwnName)
{
    auto keycaps = ArvelKeycaps::keycapsFromResource(kPath);
    EXPECT_FALSE(keycaps) << "not installed yet";
    std::ifstream resource(ARVEL_KEYCODE_RESOURCE);
    DiskFixture::writeFile(kPath, std::string(std::istreambuf_iterator<char>(resource), {}));
    log.clear();
    keycaps = ArvelKeycaps::keycapsFromResource(kPath);
    ASSERT_TRUE(keycaps);
    EXPECT_EQ(keycaps->keycodeMap().size(), keycaps->keycapMap().size()) << "every name once";
    for (const auto& [code, name] : std::vector<std::pair<int, std::string>> {{0x00, "A"}, {0x12, "1"}, {0x24, "Return"}, {0x30, "Tab"},
             {0x31, "Space"}, {0x33, "Delete"}, {0x35, "Escape"}, {0x7A, "F1"}, {0x71, "F15"}, {0x7B, "Left Arrow"}, {0x7E, "Up Arrow"},
             {0x73, "Home"}, {0x77, "End"}, {0x74, "Page Up"}, {0x79, "Page Down"}, {0x75, "Forward Delete"}, {0x72, "Help"},
             {0x4C, "Enter"}, {0x52, "Keypad 0"}}) {
        EXPECT_EQ(keycaps->keycodeMap().at(code), name);
        EXPECT_EQ(keycaps->keycapMap().at(name), code);
    }
    const Names sorted = keycaps->sortedKeycaps();
    ASSERT_EQ(sorted.size(), keycaps->keycapMap().size());
    EXPECT_EQ(Names(sorted.begin(), sorted.begin() + 3), (Names {"A", "B", "C"}));
    EXPECT_EQ(Names(sorted.begin() + 26, sorted.begin() + 39), (Names {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9", "=", "`", "'"}));
    Names functionKeys;
    for (const std::string& name : sorted)
        if (name.size() > 1 && name[0] == 'F' && name[1] >= '0' && name[1] <= '9')
            functionKeys.push_back(name);
    EXPECT_EQ(functionKeys, (Names {"F1", "F2", "F3", "F4", "F5", "F6", "F7", "F8", "F9", "F10", "F11", "F12", "F13", "F14", "F15"}));
    EXPECT_EQ(sorted.back(), "Up Arrow") << "two-word names last";
    EXPECT_EQ(log.lines(), Names {});
}

TEST_F(TheKeycaps, ReadKeysThatAreNoIntegersAsCodeZeroAndKeepTheLastCodeOfAName)
{
    auto keycaps = fromPropertyList(Value::dictionary({{"12", "Q"}, {"76", "Enter"}, {"36", "Enter"}, {"x", "Mystery"}, {"5", 7}, {"6", ""}}));
    ASSERT_TRUE(keycaps);
    EXPECT_EQ(keycaps->keycodeMap(), (ArvelKeycaps::KeycodeMap {{0, "Mystery"}, {12, "Q"}, {36, "Enter"}, {76, "Enter"}}));
    EXPECT_EQ(keycaps->keycapMap(), (ArvelKeycaps::KeycapMap {{"Enter", 76}, {"Mystery", 0}, {"Q", 12}}));
    EXPECT_EQ(keycaps->sortedKeycaps(), (Names {"Q", "Enter", "Mystery"}));
    EXPECT_EQ(log.lines(), (Names {"ArvelPref error: 1 keymap key(s) are not decimal integers; each counts as the number it begins with, or 0.",
                               "ArvelPref error: 2 keymap entry(ies) have no keycap name; they are left out."}));
}

TEST_F(TheKeycaps, AreNoneForAResourceThatIsMissingUnreadableOrEmpty)
{
    const std::string localized = "ArvelPref did not localized keymap data.";
    const std::string empty = "ArvelPref did not obtain any keymap data.";
    EXPECT_FALSE(ArvelKeycaps::keycapsFromResource(""));
    EXPECT_FALSE(ArvelKeycaps::keycapsFromResource(kPath));
    EXPECT_FALSE(fromText("Return = 36;"));
    EXPECT_FALSE(fromText("<plist><dict><key>36</key>"));
    EXPECT_FALSE(fromText(""));
    EXPECT_FALSE(fromText(" \n"));
    EXPECT_FALSE(fromPropertyList(Value::dictionary()));
    EXPECT_FALSE(fromPropertyList(Value::array({"A", "B"})));
    EXPECT_FALSE(fromPropertyList(Value::dictionary({{"0", Value::array()}})));
    std::filesystem::remove(hostPath(kPath));
    ASSERT_EQ(mkfifo(hostPath(kPath).c_str(), 0644), 0);
    EXPECT_FALSE(ArvelKeycaps::keycapsFromResource(kPath)) << "a FIFO is not waited on";
    EXPECT_EQ(log.lines(), (Names {localized, localized, localized, localized, empty, empty, empty, empty,
                               "ArvelPref error: 1 keymap entry(ies) have no keycap name; they are left out.", empty, localized}));
}

} // namespace
