#include "Foundation/Value.h"

#include <gtest/gtest.h>

TEST(AValue, ReadsEveryNumberKindAsAnyNumber)
{
    EXPECT_EQ(Value(true).integer(), 1);
    EXPECT_EQ(Value(2.9).integer(), 2);
    EXPECT_EQ(Value(-2.9).integer(), -2);
    EXPECT_EQ(Value(7).real(), 7.0);
    EXPECT_EQ(Value(0).boolean(), false);
    EXPECT_EQ(Value(0.5).boolean(), true);
    EXPECT_EQ(Value(1e300).integer(), INT64_MAX);
    EXPECT_FALSE(Value("12").integer().has_value());
    EXPECT_FALSE(Value().real().has_value());
    EXPECT_FALSE(Value::dictionary({{"a", 1}}).boolean().has_value());
    EXPECT_EQ(Value("x").integerOr(9), 9);
}

TEST(AValue, KeepsIntegerRealAndBooleanApartInEquality)
{
    EXPECT_NE(Value(1), Value(1.0));
    EXPECT_NE(Value(1), Value(true));
    EXPECT_EQ(Value(4294967295u), Value(4294967295LL));
    EXPECT_EQ(Value::dictionary({{"a", Value::array({1, "b"})}}), Value::dictionary({{"a", Value::array({1, "b"})}}));
}

TEST(AValue, HasValueSemantics)
{
    Value a = Value::dictionary({{"Button", Value::dictionary({{"Action", 1}})}});
    Value b = a;
    b.dictionaryValue()->at("Button").set("Action", 2);
    EXPECT_EQ(a["Button"]["Action"], Value(1));
    EXPECT_EQ(b["Button"]["Action"], Value(2));
}

TEST(AValue, LooksUpThroughNonDictionariesAsNil)
{
    Value v = Value::dictionary({{"Arvel", "not a dictionary"}});
    EXPECT_TRUE(v["Arvel"]["Button"]["Action"].isNil());
    EXPECT_TRUE(Value(3)["x"].isNil());
    EXPECT_FALSE(v.contains("Other"));
    EXPECT_TRUE(v.remove("Arvel"));
    EXPECT_FALSE(v.remove("Arvel"));
    EXPECT_EQ(v.count(), 0u);
}

TEST(AValue, SetTurnsANonDictionaryIntoOne)
{
    Value v = 3;
    v.set("k", "v");
    EXPECT_EQ(v, Value::dictionary({{"k", "v"}}));
}

TEST(AValue, RefusesNullCStringAsNil)
{
    const char* nothing = nullptr;
    EXPECT_TRUE(Value(nothing).isNil());
}

TEST(AValueDescription, PrintsNestedDictionariesInTheOldStyle)
{
    Value v = Value::dictionary({{"Arvel", Value::dictionary({{"Button", Value::dictionary({{"Action", 1}})}})}});
    EXPECT_EQ(v.description(), "{Arvel = {Button = {Action = 1; }; }; }");
}

TEST(AValueDescription, SortsKeysAndQuotesOnlyWhatNeedsIt)
{
    Value v = Value::dictionary({{"b", "plain.text/ok-1"}, {"a", "two words"}, {"c", ""}, {"d z", "q\"uote"}});
    EXPECT_EQ(v.description(), "{a = \"two words\"; b = plain.text/ok-1; c = \"\"; \"d z\" = \"q\\\"uote\"; }");
}

TEST(AValueDescription, PrintsEveryOtherKind)
{
    EXPECT_EQ(Value().description(), "(null)");
    EXPECT_EQ(Value(true).description(), "1");
    EXPECT_EQ(Value(false).description(), "0");
    EXPECT_EQ(Value(-12).description(), "-12");
    EXPECT_EQ(Value(1.7).description(), "1.7");
    EXPECT_EQ(Value(15.0).description(), "15");
    EXPECT_EQ(Value::array({1, "a b", Value::array()}).description(), "(1, \"a b\", ())");
    EXPECT_EQ(Value::dictionary().description(), "{}");
    EXPECT_EQ(Value::data({0x00, 0x01, 0xab, 0xff, 0x10}).description(), "<0001abff 10>");
    EXPECT_EQ(Value::date(0).description(), "2001-01-01 00:00:00 +0000");
}
