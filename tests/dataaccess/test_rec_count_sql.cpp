// The count query of QueryRecCount: what is dropped before wrapping, and what is not wrapped.
#include "dataaccess/RecCountSQL.h"

#include <gtest/gtest.h>

using kv::dataaccess::RecCountSQL;

namespace {

struct Case {
    const char* name;
    const char* text;
    const char* counted; // the text inside the parentheses; null: not wrapped
};

class RecCountSQLTest : public testing::TestWithParam<Case> {};

} // namespace

TEST_P(RecCountSQLTest, WrapsWhatCanStandInADerivedTable) {
    const Case& c = GetParam();
    const auto sql = RecCountSQL(c.text);
    if (c.counted == nullptr) {
        EXPECT_FALSE(sql) << *sql;
        return;
    }
    ASSERT_TRUE(sql);
    EXPECT_EQ(*sql, std::string("SELECT COUNT(*) FROM (") + c.counted + ") AS counted");
}

INSTANTIATE_TEST_SUITE_P(
    Texts, RecCountSQLTest,
    testing::Values(
        Case{"Plain", "select a from t", "select a from t"},
        Case{"TrailingLineComment", "select a from t -- all of them", "select a from t"},
        Case{"TrailingBlockCommentAndSemicolon", "select a from t; /* done */", "select a from t"},
        Case{"LeadingCommentStays", "-- list\r\nselect a from t", "-- list\r\nselect a from t"},
        Case{"OuterOrderBy", "select a from t order by a desc", "select a from t"},
        Case{"InnerOrderByStays", "select a from (select top 2 a from t order by a) x",
             "select a from (select top 2 a from t order by a) x"},
        Case{"OrderByInAStringStays", "select 'order by' as a from t",
             "select 'order by' as a from t"},
        Case{"BracketedOrderIsAName", "select [order] from t", "select [order] from t"},
        Case{"UnionThenOrderBy", "select a from t union all select a from u order by 1",
             "select a from t union all select a from u"},
        Case{"BatchWithUse", "use master select a from t", nullptr},
        Case{"TwoSelects", "select a from t select b from u", nullptr},
        Case{"TwoStatements", "select a from t; select b from u", nullptr},
        Case{"Procedure", "exec sp_who", nullptr},
        Case{"ForXmlAfterOrderBy", "select a from t order by a for xml auto", nullptr},
        Case{"DoesNotScan", "select a\x01 from t", nullptr}, Case{"Empty", "", nullptr}),
    [](const testing::TestParamInfo<Case>& p) { return std::string(p.param.name); });
