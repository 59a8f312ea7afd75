#include "Foundation/PropertyList.h"
#include "Log/Log.h"
#include "support/TemporaryFolder.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace {

Value sampleSettings()
{
    return Value::dictionary({
        {"PrefsVersion", 4},
        {"TrackpadSpeed", 1.5},
        {"WholeReal", 15.0},
        {"Negative", -1},
        {"Big", 4294967295LL},
        {"MouseKeepMoving", true},
        {"Off", false},
        {"Name", "Text & <markup> \"quoted\""},
        {"Empty", ""},
        {"Blob", Value::data({0, 1, 2, 255})},
        {"When", Value::date(86400)}, // XML keeps whole seconds
        {"List", Value::array({1, 2.5, "x", Value::array()})},
        {"ApplicationSet", Value::dictionary({{"com.example.App", Value::dictionary({{"NWCorner", Value::dictionary({{"Action", 7}, {"Data", 65571}})}})}})},
    });
}

} // namespace

class APropertyListFile : public ::testing::Test {
protected:
    TemporaryFolder folder;
    ScopedLogCapture log;
};

TEST_F(APropertyListFile, RoundTripsThroughXmlKeepingEveryKind)
{
    std::string path = folder.file("settings.plist");
    ASSERT_TRUE(writePropertyListFile(path, sampleSettings()));
    auto result = readPropertyList(path);
    ASSERT_TRUE(result.ok());
    EXPECT_EQ(result.value, sampleSettings());
    EXPECT_TRUE(result.value["WholeReal"].isReal());
    EXPECT_TRUE(result.value["PrefsVersion"].isInteger());
    EXPECT_TRUE(result.value["MouseKeepMoving"].isBoolean());
    EXPECT_NE(folder.read("settings.plist").find("<?xml"), std::string::npos);
    EXPECT_TRUE(log.lines().empty());
}

TEST_F(APropertyListFile, ReadsBinaryFiles)
{
    auto binary = binaryPropertyListData(sampleSettings());
    ASSERT_TRUE(binary);
    folder.write("binary.plist", *binary);
    EXPECT_EQ(readPropertyListFile(folder.file("binary.plist")), sampleSettings());
}

TEST_F(APropertyListFile, WritesAtomicallyLeavingNoTemporaryFiles)
{
    std::string path = folder.file("a.plist");
    ASSERT_TRUE(writePropertyListFile(path, Value::dictionary({{"v", 1}})));
    ASSERT_TRUE(writePropertyListFile(path, Value::dictionary({{"v", 2}})));
    EXPECT_EQ(readPropertyListFile(path)["v"], Value(2));
    int files = 0;
    for ([[maybe_unused]] auto& entry : std::filesystem::directory_iterator(folder.path()))
        ++files;
    EXPECT_EQ(files, 1);
}

TEST_F(APropertyListFile, ReportsAWriteItCannotMake)
{
    std::string error;
    EXPECT_FALSE(writePropertyListFile(folder.file("missing/folder/x.plist"), Value::dictionary(), &error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(writePropertyListFile(folder.file("nil.plist"), Value(), &error));
    EXPECT_TRUE(writePropertyListFile(folder.file("made/folder/x.plist"), Value::dictionary(), nullptr, true));
}

TEST_F(APropertyListFile, ReadsMissingTruncatedAndForeignFilesAsNilWithOneLine)
{
    auto xml = *xmlPropertyListData(sampleSettings());
    folder.write("truncated.plist", xml.substr(0, xml.size() / 2));
    auto binary = *binaryPropertyListData(sampleSettings());
    folder.write("truncated-binary.plist", binary.substr(0, binary.size() - 20));
    folder.write("text.plist", "this is not a property list at all");
    folder.write("empty.plist", "");
    folder.write("array.plist", *xmlPropertyListData(Value::array({1})));

    for (const char* name : {"missing.plist", "truncated.plist", "truncated-binary.plist", "text.plist", "empty.plist"}) {
        log.clear();
        EXPECT_TRUE(readPropertyListFile(folder.file(name)).isNil()) << name;
        EXPECT_EQ(log.lines().size(), 1u) << name;
    }
    log.clear();
    EXPECT_TRUE(readPropertyListFile(folder.file("array.plist"), Value::Type::Dictionary).isNil());
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_EQ(log.lines()[0], "PropertyList error: Unable to read \"" + folder.file("array.plist") + "\": root is array, not dictionary.");
    EXPECT_EQ(readPropertyList(folder.file("missing.plist")).status, PropertyListStatus::Missing);
    EXPECT_EQ(readPropertyList(folder.file("text.plist")).status, PropertyListStatus::NotAPropertyList);
    EXPECT_EQ(readPropertyList(folder.path()).status, PropertyListStatus::Unreadable);
}

TEST_F(APropertyListFile, RefusesDeeplyNestedData)
{
    std::string xml = "<?xml version=\"1.0\"?><plist version=\"1.0\">";
    for (int i = 0; i < 2000; ++i)
        xml += "<array>";
    for (int i = 0; i < 2000; ++i)
        xml += "</array>";
    xml += "</plist>";
    EXPECT_FALSE(propertyListFromData(xml).has_value());
}

namespace {

// n one-element arrays, each holding the next; the last is empty.
std::string binaryNestedArrays(unsigned n)
{
    std::string data = "bplist00";
    std::vector<unsigned> offsets;
    for (unsigned i = 0; i < n; ++i) {
        offsets.push_back(static_cast<unsigned>(data.size()));
        if (i + 1 == n) {
            data += char(0xA0);
            break;
        }
        data += char(0xA1);
        for (int shift : {16, 8, 0})
            data += char(((i + 1) >> shift) & 0xFF);
    }
    unsigned table = static_cast<unsigned>(data.size());
    for (unsigned offset : offsets) {
        for (int shift : {16, 8, 0})
            data += char((offset >> shift) & 0xFF);
    }
    std::string trailer(6, '\0');
    trailer += char(3);
    trailer += char(3);
    for (std::uint64_t field : {std::uint64_t(n), std::uint64_t(0), std::uint64_t(table)}) {
        for (int shift = 56; shift >= 0; shift -= 8)
            trailer += char((field >> shift) & 0xFF);
    }
    return data + trailer;
}

} // namespace

TEST_F(APropertyListFile, RefusesNestingDeeperThanItConvertsBeforeParsing)
{
    // Deep enough to overflow the stack of a recursive reader.
    std::string xml = "<?xml version=\"1.0\"?><plist version=\"1.0\">";
    for (int i = 0; i < 200000; ++i)
        xml += "<array>";
    for (int i = 0; i < 200000; ++i)
        xml += "</array>";
    xml += "</plist>";
    EXPECT_FALSE(propertyListFromData(xml).has_value());
    EXPECT_FALSE(propertyListFromData(binaryNestedArrays(200000)).has_value());

    Value nested = Value::Array {};
    for (int i = 0; i < 100; ++i)
        nested = Value::Array {nested};
    EXPECT_EQ(propertyListFromData(binaryNestedArrays(101)), nested);
    std::optional<std::string> written = binaryPropertyListData(nested);
    ASSERT_TRUE(written.has_value());
    EXPECT_EQ(propertyListFromData(*written), nested);
    // Self-closing containers add no depth.
    EXPECT_EQ(propertyListFromData("<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>a</key><array/></dict></plist>"),
        Value::dictionary({{"a", Value::Array {}}}));
}
