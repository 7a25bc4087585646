// A simulated host with the stand-in SQL Server running in-process on an ephemeral loopback
// port, its freetds.conf written, and KELVORA_HOST pointing at it; plus helpers that drive the
// portable provider the way the data-access layer does.
#pragma once

#include "platform/oledb/com_lite.h"
#include "platform/oledb/error_records.h"
#include "platform/oledb/provider.h"
#include "platform/posix/SimHost.h"
#include "simulator/standin/Server.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace kv::oledb::testing {

class StandinHost {
public:
    explicit StandinHost(standin::Profile profile = standin::Profile::Sql2000,
                         std::string computerName = "KELVORA-PC")
        : profile_(profile) {
        char pattern[] = "/tmp/kv-oledb-XXXXXX";
        folder_ = ::mkdtemp(pattern);
        platform::sim::CreateOptions options;
        options.computerName = std::move(computerName);
        auto host = platform::sim::SimHost::create(folder_, options);
        if (!host) {
            ADD_FAILURE() << "host: " << host.error().message;
            return;
        }
        host_ = std::make_unique<platform::sim::SimHost>(std::move(host).value());
        ::setenv("KELVORA_HOST", folder_.c_str(), 1);
        start();
    }
    ~StandinHost() {
        if (server_) {
            server_->stop();
        }
        server_.reset();
        ::unsetenv("KELVORA_HOST");
        std::error_code ec;
        std::filesystem::remove_all(folder_, ec);
    }
    StandinHost(const StandinHost&) = delete;
    StandinHost& operator=(const StandinHost&) = delete;

    void start() {
        standin::Server::Options options;
        options.profile = profile_;
        server_ = std::make_unique<standin::Server>(*host_, options);
        std::string error;
        ASSERT_TRUE(server_->start(error)) << error;
        ASSERT_TRUE(standin::writeFreetdsConf(*host_, server_->port(), profile_, error)) << error;
    }
    standin::Server& server() { return *server_; }
    std::uint16_t port() const { return server_->port(); }
    const std::filesystem::path& folder() const { return folder_; }

private:
    standin::Profile profile_;
    std::filesystem::path folder_;
    std::unique_ptr<platform::sim::SimHost> host_;
    std::unique_ptr<standin::Server> server_;
};

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

} // namespace kv::oledb::testing
