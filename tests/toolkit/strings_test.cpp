#include "toolkit/Strings.h"
#include "toolkit/SysUtils.h"

#include <gtest/gtest.h>
#include <sstream>

namespace {

TEST(StringList, TextEndsEveryLineWithCrLf) {
    TStringList l;
    EXPECT_EQ(l.Text(), "");
    l.Add("Program Açıldı.");
    l.Add("");
    l.Add("x");
    EXPECT_EQ(l.Text(), "Program Açıldı.\r\n\r\nx\r\n");
}

TEST(StringList, SetTextSplitsOnAnyLineBreak) {
    TStringList l;
    l.SetText("a\r\nb\nc\rd");
    ASSERT_EQ(l.Count(), 4);
    EXPECT_EQ(l[3], "d");
    l.SetText("a\r\n");
    EXPECT_EQ(l.Count(), 1);
    l.SetText("a\r\n\r\n");
    ASSERT_EQ(l.Count(), 2);
    EXPECT_EQ(l[1], "");
    l.SetText("");
    EXPECT_EQ(l.Count(), 0);
    l.SetText("\n\r");
    EXPECT_EQ(l.Count(), 2);
}

TEST(StringList, IndexOfAndSortIgnoreAsciiCase) {
    TStringList l;
    l.Add("beta");
    l.Add("Alpha");
    l.Add("_under");
    l.Add("alpha2");
    l.Add("Çay");
    EXPECT_EQ(l.IndexOf("ALPHA"), 1);
    EXPECT_EQ(l.IndexOf("gamma"), -1);
    l.Sort();
    // Letters fold to upper case, so '_' (0x5F) sorts after them; bytes above 0x7F last.
    EXPECT_EQ(l.Text(), "Alpha\r\nalpha2\r\nbeta\r\n_under\r\nÇay\r\n");
    EXPECT_EQ(CompareText("abc", "ABD"), -1);
    EXPECT_TRUE(SameText("KELVORA", "kelvora"));
    EXPECT_FALSE(SameText("ı", "I")); // only a-z fold
}

TEST(StringList, SortedListsAndDuplicates) {
    TStringList l;
    l.SetSorted(true);
    l.Add("b");
    l.Add("A");
    l.Add("c");
    EXPECT_EQ(l.Add("B"), 1); // dupIgnore: the existing index
    EXPECT_EQ(l.Count(), 3);
    EXPECT_EQ(l.IndexOf("C"), 2);
    l.SetDuplicates(dupError);
    EXPECT_THROW(l.Add("a"), EStringListError);
    l.SetDuplicates(dupAccept);
    l.Add("a");
    EXPECT_EQ(l.Count(), 4);
    EXPECT_THROW(l.Insert(0, "z"), EStringListError);
    EXPECT_THROW(l.Get(4), EStringListError);
    try {
        l.Delete(-1);
    } catch (const EStringListError& e) {
        EXPECT_EQ(e.Message(), "List index out of bounds (-1)");
    }
}

TEST(StringList, NameValueHelpers) {
    TStringList l;
    l.Add("Server=KELVORA-PC");
    l.Add("User=sa");
    l.Add("plain");
    EXPECT_EQ(l.Values("server"), "KELVORA-PC");
    EXPECT_EQ(l.Names(1), "User");
    EXPECT_EQ(l.ValueFromIndex(1), "sa");
    EXPECT_EQ(l.Names(2), "");
    EXPECT_EQ(l.IndexOfName("USER"), 1);
    l.SetValues("User", "admin");
    EXPECT_EQ(l[1], "User=admin");
    l.SetValues("Database", "kelvora");
    EXPECT_EQ(l[3], "Database=kelvora");
    l.SetValues("User", "");
    EXPECT_EQ(l.IndexOfName("User"), -1);
}

TEST(StringList, ChangeEventsRespectUpdates) {
    TStringList l;
    int changing = 0;
    int changed = 0;
    l.OnChanging = [&](TObject*) { ++changing; };
    l.OnChange = [&](TObject* sender) {
        EXPECT_EQ(sender, &l);
        ++changed;
    };
    l.Add("a");
    EXPECT_EQ(changed, 1);
    l.BeginUpdate();
    l.Add("b");
    l.Add("c");
    l.BeginUpdate();
    l.Delete(0);
    l.EndUpdate();
    EXPECT_EQ(changed, 1);
    l.EndUpdate();
    EXPECT_EQ(changed, 2);
    EXPECT_EQ(changing, 2);
    l.SetText("x\r\ny");
    EXPECT_EQ(changed, 3);
}

TEST(StringList, AssignCommaTextAndStreams) {
    TStringList a;
    a.SetText("one\r\ntwo words\r\nsay \"hi\"");
    TStringList b;
    b.Assign(&a);
    EXPECT_EQ(b.Text(), a.Text());
    EXPECT_EQ(a.CommaText(), "one,\"two words\",\"say \"\"hi\"\"\"");
    TStringList c;
    c.SetCommaText(a.CommaText());
    EXPECT_EQ(c.Text(), a.Text());
    std::ostringstream out;
    a.SaveToStream(out);
    EXPECT_EQ(out.str(), a.Text());
    std::istringstream in("p\nq\n");
    c.LoadFromStream(in);
    EXPECT_EQ(c.Text(), "p\r\nq\r\n");
    TObject o;
    c.AddObject("r", &o);
    EXPECT_EQ(c.Objects(2), &o);
    EXPECT_EQ(c.IndexOfObject(&o), 2);
    c.Move(2, 0);
    EXPECT_EQ(c[0], "r");
    EXPECT_EQ(c.Objects(0), &o);
}

// Hex digits are upper case, padded with zeros to the width asked for, never cut to it.
TEST(SysUtils, IntToHexPadsButNeverCuts) {
    EXPECT_EQ(IntToHex(0, 8), "00000000");
    EXPECT_EQ(IntToHex(0xBEEF, 8), "0000BEEF");
    EXPECT_EQ(IntToHex(0xabcdef12u, 4), "ABCDEF12");
    EXPECT_EQ(IntToHex(0xFFFFFFFFFFFFFFFFull, 0), "FFFFFFFFFFFFFFFF");
    EXPECT_EQ(IntToHex(0x1F, 20), "0000000000000000001F");
    EXPECT_EQ(IntToHex(7, -3), "7");
}

} // namespace
