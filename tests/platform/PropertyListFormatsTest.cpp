#include "Foundation/PropertyList.h"
#include "support/TemporaryFolder.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace {

std::string fixture(const std::string& name)
{
    std::ifstream in(std::string(ARVEL_TEST_DATA) + "/plists/" + name, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// What tests/data/plists/make-fixtures.py stores, as this system reads it.
Value pythonEdgeValues()
{
    Value::Bytes all;
    for (int i = 0; i < 256; ++i)
        all.push_back(static_cast<std::uint8_t>(i));
    return Value::dictionary({
        {"UInt64Max", 18446744073709551615ULL},
        {"TwoTo63", 9223372036854775808ULL},
        {"Int64Min", static_cast<long long>(INT64_MIN)},
        {"Negative", -1},
        {"Dates", Value::array({Value::date(-3187296000.0), Value::date(3124137600.0), Value::date(-63113904000.0),
                      Value::date(252423993599.0)})},
        {"Text", "Z\u00fcrich \u2013 \u6771\u4eac \U0001F680 & <tag>"},
        {"Reals", Value::array({0.1, 1e300, -2.5, HUGE_VAL})},
        {"Bytes", Value::data(all)},
        {"Empty", Value::dictionary({{"Array", Value::array()}, {"Dictionary", Value::dictionary()}, {"String", ""}})},
        {"Yes", true},
        {"No", false},
    });
}

std::optional<Value> parse(std::string_view data)
{
    return propertyListFromData(data);
}

// A binary list of one string object holding these UTF-16 code units.
std::string binaryUtf16String(std::u16string units)
{
    std::string data = "bplist00";
    data += static_cast<char>(0x60 | units.size());
    for (char16_t u : units) {
        data += static_cast<char>(u >> 8);
        data += static_cast<char>(u & 0xFF);
    }
    std::string trailer(6, '\0');
    trailer += '\1';
    trailer += '\1';
    for (std::uint64_t field : {std::uint64_t(1), std::uint64_t(0), std::uint64_t(data.size())})
        for (int shift = 56; shift >= 0; shift -= 8)
            trailer += static_cast<char>((field >> shift) & 0xFF);
    return data + '\x08' + trailer;
}

} // namespace

TEST(PropertyListFormats, ReadWhatAnotherImplementationWroteInBothFormats)
{
    Value expected = pythonEdgeValues();
    EXPECT_EQ(parse(fixture("python-edge.xml")), expected);

    PropertyListFormat format = PropertyListFormat::XML;
    auto binary = propertyListFromData(fixture("python-edge.binary"), &format);
    ASSERT_TRUE(binary);
    EXPECT_EQ(format, PropertyListFormat::Binary);
    EXPECT_EQ((*binary)["Fraction"], Value::date(-0.5));
    EXPECT_EQ((*binary)["Archive"]["$top"]["root"], Value::uid(1));
    EXPECT_EQ((*binary)["Archive"]["$objects"], Value::array({Value::uid(0), "x"}));
    binary->remove("Fraction");
    binary->remove("Archive");
    EXPECT_EQ(*binary, expected);

    EXPECT_EQ(parse(fixture("utf16-bom.xml")), Value::dictionary({{"Name", "\u00e9t\u00e9"}, {"Count", 3}}));
}

TEST(PropertyListFormats, KeepEveryValueThroughAWriteAndARead)
{
    Value values = pythonEdgeValues();
    values.set("Reals", Value::array({0.1, 1e300, -2.5, HUGE_VAL, -HUGE_VAL, 5e-324, -0.0}));
    values.set("Uid", Value::uid(4294967295u));
    values.set("Control", "tab\tnewline\nreturn\r");
    values.set("DistantFuture", Value::date(63113904000.0));
    for (auto format : {PropertyListFormat::XML, PropertyListFormat::Binary}) {
        auto data = propertyListData(values, format);
        ASSERT_TRUE(data);
        EXPECT_EQ(parse(*data), values) << (format == PropertyListFormat::XML ? "XML" : "binary");
    }
    // Only the binary format keeps a date's fraction; XML keeps whole seconds.
    Value fraction = Value::dictionary({{"When", Value::date(-0.5)}, {"Later", Value::date(1e12 + 0.25)}});
    EXPECT_EQ(parse(*binaryPropertyListData(fraction)), fraction);
    EXPECT_EQ(parse(*xmlPropertyListData(fraction)),
        Value::dictionary({{"When", Value::date(-1)}, {"Later", Value::date(1e12)}}));
}

TEST(PropertyListFormats, OtherReadersReadWhatWeWrite)
{
    if (std::system("/usr/bin/python3 -c 'import plistlib' 2>/dev/null") != 0)
        GTEST_SKIP() << "no /usr/bin/python3 with plistlib here";
    TemporaryFolder folder;
    Value values = pythonEdgeValues();
    values.remove("Reals"); // Python reads "+infinity" but cannot compare it in a literal
    folder.write("ours.xml", *xmlPropertyListData(values));
    values.set("Uid", Value::uid(7));
    folder.write("ours.binary", *binaryPropertyListData(values));
    std::string check = "/usr/bin/python3 -c '\n"
                        "import plistlib, datetime, sys\n"
                        "x = plistlib.load(open(sys.argv[1], \"rb\"))\n"
                        "b = plistlib.load(open(sys.argv[2], \"rb\"))\n"
                        "assert x[\"UInt64Max\"] == 2**64 - 1 and x[\"Int64Min\"] == -2**63, x\n"
                        "assert x[\"Dates\"][2] == datetime.datetime(1, 1, 1), x[\"Dates\"]\n"
                        "assert x[\"Bytes\"] == bytes(range(256)) and x[\"Text\"].endswith(\"\\U0001F680 & <tag>\")\n"
                        "assert b[\"Uid\"] == plistlib.UID(7) and b[\"TwoTo63\"] == 2**63, b\n"
                        "del b[\"Uid\"]\n"
                        "assert b == x, (b, x)\n"
                        "' "
        + folder.file("ours.xml") + " " + folder.file("ours.binary");
    EXPECT_EQ(std::system(check.c_str()), 0);
}

TEST(PropertyListFormats, AcceptTheDocumentsOtherReadersAccept)
{
    // A value element as the document element, without <plist>.
    EXPECT_EQ(parse("<?xml version=\"1.0\"?>\n<dict><key>a</key><integer>0x1F</integer></dict>"),
        Value::dictionary({{"a", 31}}));
    // Comments, CDATA, character references, whitespace around numbers.
    EXPECT_EQ(parse("<plist><!-- note --><array><string><![CDATA[<x>]]>&#x263A;&amp;</string>"
                    "<real> 1.5e400 </real><integer> -7 </integer><date>-0001-03-01T00:00:00Z</date></array></plist>"),
        Value::array({"<x>\u263A&", HUGE_VAL, -7, Value::date(-63171964800.0)}));
    EXPECT_EQ(parse("<dict><key>CF$UID</key><integer>5</integer></dict>"), Value::uid(5));
    EXPECT_EQ(parse("<dict><key>CF$UID</key><string>5</string></dict>"),
        Value::dictionary({{"CF$UID", "5"}}));
}

TEST(PropertyListFormats, RefuseStringsHoldingNulAndMalformedDocuments)
{
    using namespace std::string_literals;
    for (std::string data : {
             "<plist><string>a\0b</string></plist>"s,
             "<plist><dict><key>a\0</key><true/></dict></plist>"s,
             "<plist><string>a&#0;b</string></plist>"s,
             binaryUtf16String(u"a\0b"s),
             "<plist><string>x</string><string>y</string></plist>"s,
             "<plist><dict><key>a</key></dict></plist>"s,
             "<plist><dict><string>a</string></dict></plist>"s,
             "<plist><integer>18446744073709551616</integer></plist>"s,
             "<plist><integer>-9223372036854775809</integer></plist>"s,
             "<plist><date>2001-02-30T00:00:00Z</date></plist>"s,
             "<plist><real>1,5</real></plist>"s,
             "<plist><true>yes</true></plist>"s,
             "<plist><foo/></plist>"s,
             "<plist></plist>"s,
             "<!DOCTYPE plist [<!ENTITY a \"aaaa\">]><plist><string>&a;</string></plist>"s,
             "<!DOCTYPE plist SYSTEM \"file:///etc/passwd\"><plist><string>&x;</string></plist>"s,
         })
        EXPECT_FALSE(parse(data).has_value()) << data;
    // The same characters that are not NUL are fine.
    EXPECT_EQ(parse(binaryUtf16String(u"a\u00e9\xD83D\xDE80")), Value("a\u00e9\U0001F680"));
    EXPECT_EQ(parse(binaryUtf16String(u"lone \xD800")), Value("lone \uFFFD"));
    // Nothing can write what nothing may read.
    EXPECT_FALSE(xmlPropertyListData(Value("a\0b"s)));
    EXPECT_FALSE(binaryPropertyListData(Value::dictionary({{"a\0b"s, 1}})));
    EXPECT_FALSE(xmlPropertyListData(Value("bell\a")));
    EXPECT_FALSE(xmlPropertyListData(Value::date(NAN)));
    EXPECT_TRUE(binaryPropertyListData(Value::date(NAN)));
}

namespace {

// A binary list whose objects are given whole; the top object is 0.
std::string binaryWithObjects(const std::vector<std::string>& objects, unsigned refSize = 1)
{
    std::string data = "bplist00";
    std::vector<std::uint64_t> offsets;
    for (const auto& object : objects) {
        offsets.push_back(data.size());
        data += object;
    }
    std::uint64_t table = data.size();
    for (auto offset : offsets)
        for (int shift = 24; shift >= 0; shift -= 8)
            data += static_cast<char>((offset >> shift) & 0xFF);
    std::string trailer(6, '\0');
    trailer += '\4';
    trailer += static_cast<char>(refSize);
    for (std::uint64_t field : {std::uint64_t(objects.size()), std::uint64_t(0), table})
        for (int shift = 56; shift >= 0; shift -= 8)
            trailer += static_cast<char>((field >> shift) & 0xFF);
    return data + trailer;
}

} // namespace

TEST(PropertyListFormats, RefuseBinaryListsThatLieAboutTheirObjects)
{
    using namespace std::string_literals;
    // An array holding itself.
    EXPECT_FALSE(parse(binaryWithObjects({"\xA1\x00"s})));
    // References and counts past the object table or the data.
    EXPECT_FALSE(parse(binaryWithObjects({"\xA1\x05"s})));
    EXPECT_FALSE(parse(binaryWithObjects({"\x5F\x13\x7F\xFF\xFF\xFF\xFF\xFF\xFF\xFF"s})));
    EXPECT_FALSE(parse(binaryWithObjects({"\xAF\x13\x7F\xFF\xFF\xFF\xFF\xFF\xFF\xFF"s})));
    EXPECT_FALSE(parse(binaryWithObjects({"\x14\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00"s})));
    // Forty arrays each holding the next one twice: 2^40 objects if expanded.
    std::vector<std::string> doubling;
    for (unsigned i = 0; i < 40; ++i)
        doubling.push_back("\xA2"s + static_cast<char>(i + 1) + static_cast<char>(i + 1));
    doubling.push_back("\x09"s);
    EXPECT_FALSE(parse(binaryWithObjects(doubling)));
    // Shared objects within the budget are fine: a key used by many dictionaries.
    EXPECT_EQ(parse(binaryWithObjects({"\xA3\x01\x01\x01"s, "\xD1\x02\x03"s, "\x51k"s, "\x10\x07"s})),
        Value::array({Value::dictionary({{"k", 7}}), Value::dictionary({{"k", 7}}), Value::dictionary({{"k", 7}})}));

    // Every cut of a valid list is refused or read, never a crash.
    std::string valid = *binaryPropertyListData(pythonEdgeValues());
    for (std::size_t length = 0; length < valid.size(); ++length)
        (void)parse(std::string_view(valid).substr(0, length));
    std::string xml = *xmlPropertyListData(pythonEdgeValues());
    for (std::size_t length = 0; length < xml.size(); length += 7)
        (void)parse(std::string_view(xml).substr(0, length));
}
