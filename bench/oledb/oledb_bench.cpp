// Round trips per second of a one-row select against the stand-in server: through the
// portable provider the way the data-access layer runs a statement (command, multiple
// results, rowset, accessor, one block of rows), and through db-lib directly. Prints the
// provider's cost relative to db-lib; the goal is at most 5% over.
#include "platform/oledb/com_lite.h"
#include "platform/posix/SimHost.h"
#include "simulator/standin/Server.h"

#define MSDBLIB 1
#include <sybfront.h>
// sybfront.h must come first.
#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <sybdb.h>
#include <vector>

using namespace kv::oledb;

namespace {

constexpr const char* kSelect = "SELECT 1 AS one";

struct Host {
    std::filesystem::path folder;
    std::unique_ptr<kv::platform::sim::SimHost> host;
    std::unique_ptr<kv::standin::Server> server;

    Host() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "kv-oledb-bench-XXXXXX").string();
        folder = ::mkdtemp(pattern.data());
        host = std::make_unique<kv::platform::sim::SimHost>(
            kv::platform::sim::SimHost::create(folder).value());
        server = std::make_unique<kv::standin::Server>(*host, kv::standin::Server::Options{});
        std::string error;
        if (!server->start(error) ||
            !kv::standin::writeFreetdsConf(*host, server->port(), kv::standin::Profile::Sql2000,
                                           error)) {
            std::fprintf(stderr, "stand-in: %s\n", error.c_str());
            std::exit(1);
        }
        ::setenv("KELVORA_HOST", folder.c_str(), 1);
    }
    ~Host() {
        server->stop();
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
    }
};

Host* g_host = nullptr;

DBPROP text(DBPROPID id, const char* value) {
    DBPROP p{};
    p.dwPropertyID = id;
    p.dwOptions = DBPROPOPTIONS_REQUIRED;
    p.colid = DB_NULLID;
    p.vValue.vt = VT_BSTR;
    p.vValue.bstrVal = toBstr(value);
    return p;
}

// The provider's objects, opened once and kept for every run.
struct ProviderLink {
    ComScope com;
    ComPtr<IDBInitialize> source;
    ComPtr<ICommandText> command;
    bool ok = false;
    ProviderLink();
};

ProviderLink::ProviderLink() {
    CoCreateInstance(CLSID_SQLOLEDB, nullptr, CLSCTX_INPROC_SERVER, IID_IDBInitialize,
                     source.putVoid());
    ComPtr<IDBProperties> props;
    source.as(IID_IDBProperties, props);
    DBPROP init[] = {text(DBPROP_INIT_DATASOURCE, "(local)"), text(DBPROP_AUTH_USERID, "sa"),
                     text(DBPROP_AUTH_PASSWORD, "k")};
    DBPROPSET set{init, 3, DBPROPSET_DBINIT};
    props->SetProperties(1, &set);
    for (auto& p : init) {
        VariantClear(&p.vValue);
    }
    if (source->Initialize() != S_OK) {
        return;
    }
    ComPtr<IDBCreateSession> factory;
    source.as(IID_IDBCreateSession, factory);
    ComPtr<IDBCreateCommand> session;
    factory->CreateSession(nullptr, IID_IDBCreateCommand,
                           reinterpret_cast<IUnknown**>(session.put()));
    session->CreateCommand(nullptr, IID_ICommandText, reinterpret_cast<IUnknown**>(command.put()));
    const OleString sql = toOle(kSelect);
    command->SetCommandText(DBGUID_DEFAULT, sql.c_str());
    ComPtr<ICommandProperties> commandProps;
    command.as(IID_ICommandProperties, commandProps);
    DBPROP multiple{};
    multiple.dwPropertyID = DBPROP_IMultipleResults;
    multiple.colid = DB_NULLID;
    multiple.vValue.vt = VT_BOOL;
    multiple.vValue.boolVal = VARIANT_TRUE;
    DBPROPSET rowsetSet{&multiple, 1, DBPROPSET_ROWSET};
    commandProps->SetProperties(1, &rowsetSet);
    ok = true;
}

void ProviderRoundTrip(benchmark::State& state) {
    static ProviderLink link;
    if (!link.ok) {
        state.SkipWithError("login failed");
        return;
    }
    ICommandText* command = link.command.get();
    DBBINDING binding{};
    binding.iOrdinal = 1;
    binding.obStatus = 0;
    binding.obLength = 8;
    binding.obValue = 16;
    binding.dwPart = DBPART_VALUE | DBPART_LENGTH | DBPART_STATUS;
    binding.wType = DBTYPE_I4;
    long long total = 0;
    for (auto _ : state) {
        ComPtr<IMultipleResults> results;
        LONGLONG affected = 0; // DBROWCOUNT is also a db-lib option name
        command->Execute(nullptr, IID_IUnknown, nullptr, &affected,
                         reinterpret_cast<IUnknown**>(results.put()));
        for (;;) {
            ComPtr<IRowset> rowset;
            const HRESULT hr =
                results->GetResult(nullptr, DBRESULTFLAG_DEFAULT, IID_IRowset, &affected,
                                   reinterpret_cast<IUnknown**>(rowset.put()));
            if (hr != S_OK) {
                break;
            }
            if (!rowset) {
                continue;
            }
            ComPtr<IAccessor> accessor;
            rowset.as(IID_IAccessor, accessor);
            HACCESSOR handle = 0;
            accessor->CreateAccessor(DBACCESSOR_ROWDATA, 1, &binding, 0, &handle, nullptr);
            for (;;) {
                DBCOUNTITEM obtained = 0;
                HROW rows[25];
                HROW* p = rows;
                const HRESULT fetched = rowset->GetNextRows(DB_NULL_HCHAPTER, 0, 25, &obtained, &p);
                for (DBCOUNTITEM i = 0; i < obtained; ++i) {
                    BYTE buffer[32];
                    rowset->GetData(rows[i], handle, buffer);
                    total += buffer[16];
                }
                rowset->ReleaseRows(obtained, rows, nullptr, nullptr, nullptr);
                if (fetched != S_OK || obtained == 0) {
                    break;
                }
            }
            accessor->ReleaseAccessor(handle, nullptr);
            break; // the walk ends at the first rowset
        }
    }
    benchmark::DoNotOptimize(total);
    state.SetItemsProcessed(state.iterations());
}

DBPROCESS* openDbLib() {
    dbinit();
    LOGINREC* login = dblogin();
    DBSETLUSER(login, "sa");
    DBSETLPWD(login, "k");
    DBSETLCHARSET(login, "UTF-8");
    const std::string target = "127.0.0.1:" + std::to_string(g_host->server->port());
    DBPROCESS* dbproc = dbopen(login, target.c_str());
    dbloginfree(login);
    return dbproc;
}

void DbLibRoundTrip(benchmark::State& state) {
    static DBPROCESS* dbproc = openDbLib();
    if (!dbproc) {
        state.SkipWithError("login failed");
        return;
    }
    long long total = 0;
    for (auto _ : state) {
        dbcmd(dbproc, kSelect);
        dbsqlexec(dbproc);
        while (dbresults(dbproc) != NO_MORE_RESULTS) {
            while (dbnextrow(dbproc) != NO_MORE_ROWS) {
                DBINT value = 0;
                std::memcpy(&value, dbdata(dbproc, 1), sizeof value);
                total += value;
            }
        }
    }
    benchmark::DoNotOptimize(total);
    state.SetItemsProcessed(state.iterations());
}

// Keeps the time per round trip of each benchmark, for the ratio.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const auto& run : runs) {
            if (run.iterations > 0 && run.run_type == Run::RT_Iteration) {
                perIteration[run.benchmark_name()] = run.GetAdjustedRealTime();
                cpuPerIteration[run.benchmark_name()] = run.GetAdjustedCPUTime();
            }
        }
    }
    std::map<std::string, double> perIteration;
    std::map<std::string, double> cpuPerIteration;
};

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    Host host;
    g_host = &host;
    // The machine is shared: runs of the two alternate, and the ratio is the median of the
    // ratios of neighbouring runs, so that a change of load hits both sides alike.
    constexpr int kRounds = 7;
    for (int i = 0; i < kRounds; ++i) {
        benchmark::RegisterBenchmark(("DbLib/" + std::to_string(i)).c_str(), DbLibRoundTrip)
            ->MinTime(0.5)
            ->UseRealTime();
        benchmark::RegisterBenchmark(("Provider/" + std::to_string(i)).c_str(), ProviderRoundTrip)
            ->MinTime(0.5)
            ->UseRealTime();
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::vector<double> ratios;
    std::vector<double> cpuRatios;
    for (int i = 0; i < kRounds; ++i) {
        const auto suffix = "/" + std::to_string(i) + "/min_time:0.500/real_time";
        const auto dblib = reporter.perIteration.find("DbLib" + suffix);
        const auto provider = reporter.perIteration.find("Provider" + suffix);
        if (dblib != reporter.perIteration.end() && provider != reporter.perIteration.end()) {
            ratios.push_back(provider->second / dblib->second);
            cpuRatios.push_back(reporter.cpuPerIteration["Provider" + suffix] /
                                reporter.cpuPerIteration["DbLib" + suffix]);
        }
    }
    if (ratios.empty()) {
        std::printf("no ratio: a benchmark did not run\n");
    } else {
        std::sort(ratios.begin(), ratios.end());
        std::sort(cpuRatios.begin(), cpuRatios.end());
        const double ratio = ratios[ratios.size() / 2];
        const double cpuRatio = cpuRatios[cpuRatios.size() / 2];
        std::printf("provider / db-lib time per round trip (median of %zu alternating runs): "
                    "%.3f (%+.1f%%; goal: at most +5%%)\n",
                    ratios.size(), ratio, (ratio - 1.0) * 100.0);
        std::printf("provider / db-lib CPU time of the calling thread: %.3f (%+.1f%%)\n", cpuRatio,
                    (cpuRatio - 1.0) * 100.0);
    }
    benchmark::Shutdown();
    return 0;
}
