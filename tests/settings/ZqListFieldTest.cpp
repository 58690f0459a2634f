#include "ZqListField.h"

#include <gtest/gtest.h>

struct FieldCase {
    const char *line;
    int index;
    char sep;
    const char *expected;
};

void PrintTo(const FieldCase &c, std::ostream *os)
{
    *os << '"' << c.line << "\" #" << c.index;
}

class GetFieldTable : public ::testing::TestWithParam<FieldCase> {};

TEST_P(GetFieldTable, SplitsAsTheListRuleSays)
{
    const FieldCase &c = GetParam();
    EXPECT_EQ(GetField(c.line, c.index, c.sep), QByteArray(c.expected))
        << "line '" << c.line << "' index " << c.index;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, GetFieldTable,
    ::testing::Values(
        FieldCase{"alt.a,alt.b,", 1, ',', "alt.a"},
        FieldCase{"alt.a,alt.b,", 2, ',', "alt.b"},
        FieldCase{"alt.a,alt.b,", 3, ',', ""},
        FieldCase{"alt.a,,alt.b,", 2, ',', ""},
        FieldCase{"alt.a,,alt.b,", 3, ',', "alt.b"},
        FieldCase{"alt.a,alt.b", 2, ',', "alt.b"},   // missing trailing separator is implied
        FieldCase{"", 1, ',', ""},
        FieldCase{"x", 0, ',', ""},
        FieldCase{"x", -3, ',', ""},
        FieldCase{"211 5 10 20 alt.test", 2, ' ', "5"},
        FieldCase{"211 5 10 20 alt.test", 5, ' ', "alt.test"},
        FieldCase{"211 5 10 20 alt.test", 6, ' ', ""},
        FieldCase{"220 12 <a@b> article", 3, ' ', "<a@b>"},
        FieldCase{"12,<id@x>+", 2, ',', "<id@x>+"},
        FieldCase{"42", 2, ',', ""},
        FieldCase{",lead", 1, ',', ""},
        FieldCase{",lead", 2, ',', "lead"}));

TEST(ReadList, StopsAtTheFirstEmptyField)
{
    EXPECT_EQ(ReadList("a,b,c,"), (QList<QByteArray>{"a", "b", "c"}));
    EXPECT_EQ(ReadList("a,b,c"), (QList<QByteArray>{"a", "b", "c"}));
    EXPECT_EQ(ReadList("a,,b,"), (QList<QByteArray>{"a"}));
    EXPECT_TRUE(ReadList("").isEmpty());
    EXPECT_TRUE(ReadList(",a,").isEmpty());
}

TEST(ToInt32Def, AcceptsOnlyDecimalIn32Bits)
{
    EXPECT_EQ(ToInt32Def("119", 7), 119);
    EXPECT_EQ(ToInt32Def("-5", 7), -5);
    EXPECT_EQ(ToInt32Def("+5", 7), 5);
    EXPECT_EQ(ToInt32Def("2147483647", 7), 2147483647);
    EXPECT_EQ(ToInt32Def("-2147483648", 7), INT32_MIN);
    EXPECT_EQ(ToInt32Def("2147483648", 7), 7);
    EXPECT_EQ(ToInt32Def("-2147483649", 7), 7);
    EXPECT_EQ(ToInt32Def("99999999999999999999", 7), 7);
    EXPECT_EQ(ToInt32Def("", 7), 7);
    EXPECT_EQ(ToInt32Def("-", 7), 7);
    EXPECT_EQ(ToInt32Def("abc", 7), 7);
    EXPECT_EQ(ToInt32Def("12x", 7), 7);
    EXPECT_EQ(ToInt32Def(" 12", 7), 7);
}

TEST(ToInt64Def, AcceptsOnlyDecimalIn64Bits)
{
    EXPECT_EQ(ToInt64Def("4294967296", 7), 4294967296LL);
    EXPECT_EQ(ToInt64Def("9223372036854775807", 7), INT64_MAX);
    EXPECT_EQ(ToInt64Def("-9223372036854775808", 7), INT64_MIN);
    EXPECT_EQ(ToInt64Def("9223372036854775808", 7), 7);
    EXPECT_EQ(ToInt64Def("-9223372036854775809", 7), 7);
    EXPECT_EQ(ToInt64Def("18446744073709551626", 7), 7); // wraps a 64-bit magnitude
    EXPECT_EQ(ToInt64Def("+", 7), 7);
    EXPECT_EQ(ToInt64Def("1e3", 7), 7);
}
