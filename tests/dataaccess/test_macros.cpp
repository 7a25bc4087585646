// Macro scan and expansion.
#include "dataaccess/Macros.h"

#include <gtest/gtest.h>

using namespace kv::dataaccess;

TEST(Macros, ScanFindsReferencesOutsideLiteralsAndComments) {
    TMacros m;
    m.Scan("select * from &tab where x='&no' /* &no2 */ and [&no3] and &Where and a & b and c&=1");
    ASSERT_EQ(m.Count(), 2);
    EXPECT_EQ(m[0].Name, "tab");
    EXPECT_EQ(m[1].Name, "Where"); // a keyword names a macro too
}

TEST(Macros, TextWithoutAmpersandClearsTheCollection) {
    TMacros m;
    m.Scan("&a");
    ASSERT_EQ(m.Count(), 1);
    m.Scan("select 1");
    EXPECT_EQ(m.Count(), 0);
}

// Values survive a rescan that keeps their names, whatever the case of the new reference.
TEST(Macros, RescanKeepsValuesOfSurvivingNames) {
    TMacros m;
    m.Scan("&a &b");
    m[0].Value = "1";
    m[1].Value = "2";
    m.Scan("&B &c &A");
    ASSERT_EQ(m.Count(), 3);
    EXPECT_EQ(m.FindMacro("b")->Value, "2");
    EXPECT_EQ(m.FindMacro("a")->Value, "1");
    EXPECT_EQ(m.FindMacro("c")->Value, "");
}

TEST(Macros, NumericNamesOnlyWhenAllowed) {
    TMacros m;
    m.Scan("&1st &2");
    EXPECT_EQ(m.Count(), 0);
    m.AllowNumericNames = true;
    m.Scan("&1st &2 &3 x");
    ASSERT_EQ(m.Count(), 3);
    EXPECT_EQ(m[0].Name, "1st");
    EXPECT_EQ(m[1].Name, "2");
    EXPECT_EQ(m[2].Name, "3");
}

TEST(Macros, ExpandReplacesActiveReferencesOnly) {
    TMacros m;
    m.Scan("select &f from &t where '&t'=&t");
    m.FindMacro("f")->Value = "a, b";
    m.FindMacro("t")->Value = "tab";
    EXPECT_EQ(m.Expand("select &f from &t where '&t'=&t"), "select a, b from tab where '&t'=tab");
    m.FindMacro("f")->Active = false;
    EXPECT_EQ(m.Expand("select &f from &t"), "select &f from tab");
}
