#pragma once
// The query tests' common ground: a TMSQuery on a TMSConnection over the recording fake
// provider, a monitor that keeps every OnSQL text, and builders for scripted results.
#include "dataaccess/MSQuery.h"
#include "dataaccess/MSSQLMonitor.h"
#include "fake_provider.h"

#include <gtest/gtest.h>

using namespace kv::dataaccess;
using fake::FakeProvider;
using fake::FakeResult;
using fake::FakeStatement;

inline kv::oledb::ErrorRecordData serverError(int number, int cls, std::string text) {
    kv::oledb::ErrorRecordData r;
    kv::oledb::SqlServerMessage m;
    m.number = number;
    m.severityClass = static_cast<std::uint8_t>(cls);
    m.state = 1;
    m.message = std::move(text);
    r.sqlServer = m;
    return r;
}

inline FakeResult rows(int n) {
    FakeResult r;
    r.rowset = true;
    r.columns = {"name"};
    for (int i = 0; i < n; ++i)
        r.rows.push_back({"db" + std::to_string(i)});
    return r;
}

inline FakeResult noRows(int affected = -1) {
    FakeResult r;
    r.rowsAffected = affected;
    return r;
}

inline const char kSelect[] = "use master SELECT * FROM sysdatabases s\r\nWHERE s.[name]='kelvora'";

class QueryTest : public testing::Test {
protected:
    void SetUp() override {
        monitor.OnSQL = [this](TObject*, const std::string& t, TDATraceFlag f) {
            traces.emplace_back(t, f);
        };
        con.SetLoginPrompt(false);
        con.SetServer("SRV");
        con.SetUsername("sa");
        q.SetConnection(&con);
    }
    fake::FakeState& st() { return provider.state(); }
    void setSQL(std::initializer_list<const char*> lines) {
        q.Close();
        q.SQL()->Clear();
        for (const char* l : lines)
            q.SQL()->Add(l);
    }

    std::vector<std::pair<std::string, TDATraceFlag>> traces;
    kv::oledb::ComScope com;
    kv::oledb::ScopedClassRemoval noNC10{CLSID_SQLNCLI10};
    kv::oledb::ScopedClassRemoval noNC{CLSID_SQLNCLI};
    FakeProvider provider{CLSID_SQLOLEDB};
    TMSSQLMonitor monitor{nullptr};
    TMSConnection con{nullptr};
    TMSQuery q{nullptr};
};
