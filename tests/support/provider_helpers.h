// Helpers that drive an OLE DB provider for SQL Server the way the data-access layer does:
// property sets, a login, a data source with its session, commands, and all rows of a rowset
// read as text. Portable: the Windows build's tests use them too (with the provider over ODBC).
#pragma once

#include "platform/oledb/com_lite.h"
#include "platform/oledb/error_records.h"

#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace kv::oledb::testing {

// One property of a DBINIT-style set, built the way the data-access layer builds them.
inline DBPROP textProperty(DBPROPID id, const std::string& value) {
    DBPROP p{};
    p.dwPropertyID = id;
    p.dwOptions = DBPROPOPTIONS_OPTIONAL;
    p.colid = DB_NULLID;
    VariantInit(&p.vValue);
    p.vValue.vt = VT_BSTR;
    p.vValue.bstrVal = toBstr(value);
    return p;
}

inline DBPROP intProperty(DBPROPID id, LONG value, VARTYPE vt = VT_I4) {
    DBPROP p{};
    p.dwPropertyID = id;
    p.dwOptions = DBPROPOPTIONS_REQUIRED;
    p.colid = DB_NULLID;
    VariantInit(&p.vValue);
    p.vValue.vt = vt;
    if (vt == VT_I2) {
        p.vValue.iVal = static_cast<SHORT>(value);
    } else if (vt == VT_BOOL) {
        p.vValue.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    } else {
        p.vValue.lVal = value;
    }
    return p;
}

// Applies one property set and frees the values.
inline HRESULT applySet(IDBProperties* props, const GUID& set, std::vector<DBPROP> values,
                        std::vector<DBPROPSTATUS>* statuses = nullptr) {
    DBPROPSET s{values.data(), static_cast<ULONG>(values.size()), set};
    const HRESULT hr = props->SetProperties(1, &s);
    for (auto& v : values) {
        if (statuses) {
            statuses->push_back(v.dwStatus);
        }
        VariantClear(&v.vValue);
    }
    return hr;
}

struct Login {
    std::string server = "(local)";
    std::string user = "sa";
    std::string password = "k";
    std::string database;
};

// Creates the provider and logs in; the data source comes back also when Initialize fails.
inline HRESULT openDataSource(const Login& login, ComPtr<IDBInitialize>& out) {
    HRESULT hr = CoCreateInstance(CLSID_SQLOLEDB, nullptr, CLSCTX_INPROC_SERVER, IID_IDBInitialize,
                                  out.putVoid());
    if (FAILED(hr)) {
        return hr;
    }
    ComPtr<IDBProperties> props;
    hr = out.as(IID_IDBProperties, props);
    if (FAILED(hr)) {
        return hr;
    }
    std::vector<DBPROP> init = {textProperty(DBPROP_INIT_DATASOURCE, login.server),
                                textProperty(DBPROP_INIT_CATALOG, login.database),
                                intProperty(DBPROP_INIT_TIMEOUT, 5),
                                textProperty(DBPROP_AUTH_USERID, login.user)};
    if (!login.password.empty()) {
        init.push_back(textProperty(DBPROP_AUTH_PASSWORD, login.password));
    }
    init.push_back(intProperty(DBPROP_INIT_PROMPT, DBPROMPT_NOPROMPT, VT_I2));
    init.push_back(intProperty(DBPROP_INIT_HWND, 0));
    hr = applySet(props.get(), DBPROPSET_DBINIT, std::move(init));
    if (FAILED(hr)) {
        return hr;
    }
    return out->Initialize();
}

inline std::string textOf(const VARIANT& v) {
    return v.vt == VT_BSTR ? fromOle(v.bstrVal, SysStringLen(v.bstrVal)) : std::string();
}

// Reads properties of one set; values as text (integers in decimal).
inline std::vector<std::string> readProperties(IDBProperties* props, const GUID& set,
                                               std::vector<DBPROPID> ids,
                                               HRESULT* result = nullptr) {
    DBPROPIDSET idSet{ids.data(), static_cast<ULONG>(ids.size()), set};
    ULONG count = 0;
    DBPROPSET* sets = nullptr;
    const HRESULT hr = props->GetProperties(1, &idSet, &count, &sets);
    if (result) {
        *result = hr;
    }
    std::vector<std::string> out;
    for (ULONG s = 0; s < count; ++s) {
        for (ULONG p = 0; p < sets[s].cProperties; ++p) {
            VARIANT& v = sets[s].rgProperties[p].vValue;
            if (v.vt == VT_I4) {
                out.push_back(std::to_string(v.lVal));
            } else {
                out.push_back(textOf(v));
            }
            VariantClear(&v);
        }
        CoTaskMemFree(sets[s].rgProperties);
    }
    CoTaskMemFree(sets);
    return out;
}

// A logged-in data source with one session, as the data-access layer opens it.
struct OpenLink {
    ComPtr<IDBInitialize> source;
    ComPtr<IDBProperties> properties;
    ComPtr<IDBCreateCommand> session;

    HRESULT open(const Login& login = {}) {
        HRESULT hr = openDataSource(login, source);
        if (FAILED(hr)) {
            return hr;
        }
        source.as(IID_IDBProperties, properties);
        ComPtr<IDBCreateSession> factory;
        hr = source.as(IID_IDBCreateSession, factory);
        if (FAILED(hr)) {
            return hr;
        }
        ComPtr<ISessionProperties> sessionProperties;
        hr = factory->CreateSession(nullptr, IID_ISessionProperties,
                                    reinterpret_cast<IUnknown**>(sessionProperties.put()));
        if (FAILED(hr)) {
            return hr;
        }
        return sessionProperties.as(IID_IDBCreateCommand, session);
    }

    ComPtr<ICommandText> command(const std::string& sql) {
        ComPtr<ICommandText> text;
        EXPECT_EQ(session->CreateCommand(nullptr, IID_ICommandText,
                                         reinterpret_cast<IUnknown**>(text.put())),
                  S_OK);
        const OleString wide = toOle(sql);
        EXPECT_EQ(text->SetCommandText(DBGUID_DEFAULT, wide.c_str()), S_OK);
        return text;
    }
};

// All rows of a rowset, every column read as text (NULL as "<null>"), fetched `block` rows at
// a time; `rounds` counts the GetNextRows calls that returned rows.
struct Fetched {
    HRESULT result = S_OK;
    std::vector<std::string> columns;
    std::vector<std::vector<std::string>> rows;
    int rounds = 0;
};

inline Fetched fetchAll(IUnknown* rowsetUnknown, DBROWCOUNT block = 25) {
    Fetched out;
    ComPtr<IRowset> rowset;
    ComPtr<IUnknown>::share(rowsetUnknown).as(IID_IRowset, rowset);
    ComPtr<IColumnsInfo> info;
    rowset.as(IID_IColumnsInfo, info);
    DBORDINAL count = 0;
    DBCOLUMNINFO* columns = nullptr;
    OLECHAR* strings = nullptr;
    out.result = info->GetColumnInfo(&count, &columns, &strings);
    constexpr DBLENGTH kWidth = 520;
    std::vector<DBBINDING> bindings(count);
    for (DBORDINAL i = 0; i < count; ++i) {
        out.columns.push_back(fromOle(columns[i].pwszName));
        DBBINDING& b = bindings[i];
        b = DBBINDING{};
        b.iOrdinal = columns[i].iOrdinal;
        b.obStatus = i * (kWidth + 16);
        b.obLength = b.obStatus + 4;
        b.obValue = b.obStatus + 16;
        b.dwPart = DBPART_VALUE | DBPART_LENGTH | DBPART_STATUS;
        b.dwMemOwner = DBMEMOWNER_CLIENTOWNED;
        b.eParamIO = DBPARAMIO_NOTPARAM;
        b.cbMaxLen = kWidth;
        b.wType = DBTYPE_WSTR;
    }
    CoTaskMemFree(columns);
    CoTaskMemFree(strings);
    ComPtr<IAccessor> accessor;
    rowset.as(IID_IAccessor, accessor);
    HACCESSOR handle = 0;
    std::vector<DBBINDSTATUS> status(count);
    EXPECT_EQ(accessor->CreateAccessor(DBACCESSOR_ROWDATA, count, bindings.data(), 0, &handle,
                                       status.data()),
              S_OK);
    std::vector<BYTE> buffer(count * (kWidth + 16) + 16);
    for (;;) {
        DBCOUNTITEM obtained = 0;
        HROW* rows = nullptr;
        const HRESULT hr = rowset->GetNextRows(DB_NULL_HCHAPTER, 0, block, &obtained, &rows);
        if (FAILED(hr)) {
            out.result = hr;
            break;
        }
        if (obtained > 0) {
            ++out.rounds;
        }
        for (DBCOUNTITEM r = 0; r < obtained; ++r) {
            EXPECT_EQ(rowset->GetData(rows[r], handle, buffer.data()), S_OK);
            std::vector<std::string> values;
            for (DBORDINAL c = 0; c < count; ++c) {
                DBSTATUS st = 0;
                std::memcpy(&st, buffer.data() + bindings[c].obStatus, sizeof st);
                values.push_back(st == DBSTATUS_S_ISNULL
                                     ? "<null>"
                                     : fromOle(reinterpret_cast<const OLECHAR*>(
                                           buffer.data() + bindings[c].obValue)));
            }
            out.rows.push_back(std::move(values));
        }
        if (obtained > 0) {
            rowset->ReleaseRows(obtained, rows, nullptr, nullptr, nullptr);
        }
        CoTaskMemFree(rows);
        if (hr == DB_S_ENDOFROWSET || obtained == 0) {
            break;
        }
    }
    accessor->ReleaseAccessor(handle, nullptr);
    return out;
}

} // namespace kv::oledb::testing
