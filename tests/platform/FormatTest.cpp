#include "Foundation/Format.h"

#include <gtest/gtest.h>

TEST(AFormat, PrintsObjectsWithTheirDescriptionAndStringsAsTheyAre)
{
    Value props = Value::dictionary({{"Arvel", Value::dictionary({{"Button", Value::dictionary({{"Action", 1}})}})}});
    EXPECT_EQ(stringWithFormat("UID %d properties %@\n", 501, props), "UID 501 properties {Arvel = {Button = {Action = 1; }; }; }\n");
    EXPECT_EQ(stringWithFormat("User \"%@\" UID %u on console.\n", std::string("alice"), 501u),
        "User \"alice\" UID 501 on console.\n");
    EXPECT_EQ(stringWithFormat("[%@]", Value("two words")), "[two words]");
    EXPECT_EQ(stringWithFormat("%@", Value()), "(null)");
    EXPECT_EQ(stringWithFormat("%@", static_cast<const char*>(nullptr)), "(null)");
    EXPECT_EQ(stringWithFormat("%@", 12), "12");
}

TEST(AFormat, NarrowsIntegersTo32BitsWithoutALengthModifier)
{
    EXPECT_EQ(stringWithFormat("%u", -1), "4294967295");
    EXPECT_EQ(stringWithFormat("%d", 4294967295u), "-1");
    EXPECT_EQ(stringWithFormat("%lu", 4294967296ULL), "4294967296");
    EXPECT_EQ(stringWithFormat("%lld", -5000000000LL), "-5000000000");
    EXPECT_EQ(stringWithFormat("%ld", 5000000000LL), "5000000000");
    EXPECT_EQ(stringWithFormat("%i", -7), "-7");
    EXPECT_EQ(stringWithFormat("%hd", 65535), "-1");
}

TEST(AFormat, HandlesEveryConversionWithFlagsAndWidth)
{
    EXPECT_EQ(stringWithFormat("%x %X %#x %08X", 255, 255, 255, 0xE0000280u), "ff FF 0xff E0000280");
    EXPECT_EQ(stringWithFormat("%s|%-5s|%5s|%.2s", "abc", "ab", "ab", "abcdef"), "abc|ab   |   ab|ab");
    EXPECT_EQ(stringWithFormat("%c%c", 'o', 'k'), "ok");
    EXPECT_EQ(stringWithFormat("%f %.2f %6.1f", 1.5, 1.005, -2.25), "1.500000 1.00   -2.2");
    EXPECT_EQ(stringWithFormat("%g %g %e", 0.0001, 1e20, 1.0), "0.0001 1e+20 1.000000e+00");
    EXPECT_EQ(stringWithFormat("%+d % d %-4d| %04d", 5, 5, 5, -5), "+5  5 5   | -005");
    EXPECT_EQ(stringWithFormat("%*d|%-*d|", 4, 7, 3, 8), "   7|8  |");
    EXPECT_EQ(stringWithFormat("100%% done"), "100% done");
    EXPECT_EQ(stringWithFormat("%5@|", std::string("ab")), "   ab|");
}

TEST(AFormat, ConvertsBetweenNumberKindsSafely)
{
    EXPECT_EQ(stringWithFormat("%d", 2.75), "2");
    EXPECT_EQ(stringWithFormat("%f", 3), "3.000000");
    EXPECT_EQ(stringWithFormat("%d", Value(true)), "1");
    EXPECT_EQ(stringWithFormat("%d", "text"), "0");
    EXPECT_EQ(stringWithFormat("%s", 42), "42");
}

TEST(AFormat, NeverReadsPastItsArguments)
{
    EXPECT_EQ(stringWithFormat("a %d b %@ c"), "a  b  c");
    EXPECT_EQ(stringWithFormat("%d %d", 1), "1 ");
    EXPECT_EQ(stringWithFormat("trailing %"), "trailing %");
    EXPECT_EQ(stringWithFormat("%k unknown", 1), "%k unknown");
    EXPECT_EQ(stringWithFormat("%999999999d", 1).size(), 4096u);
}
