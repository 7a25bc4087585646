// The db-lib transport of the portable provider: process-wide set-up, the two message
// callbacks, login and batches. The table that turns client-side failures into what the
// classic SQL Server provider reports is in tds_failures.cpp.
#include "platform/oledb/tds_link.h"

#include "platform/oledb/provider.h"

#define MSDBLIB 1
#include <sybfront.h>
// sybfront.h must come first.
#include <cstdio>
#include <cstring>
#include <iterator>
#include <map>
#include <mutex>
#include <sybdb.h>
#include <unistd.h>

namespace kv::oledb::tds {
namespace {

// ---------------------------------------------------------------------------------------------
// Callbacks.

// The open links by their DBPROCESS, for db-lib's interrupt callbacks.
std::mutex g_linksMutex;
std::map<DBPROCESS*, DbLibLink*> g_links;

// Where messages go while no DBPROCESS carries a collector (during dbopen).
thread_local Messages* t_collector = nullptr;
// True while a login is in progress on this thread (a time-out then ends the attempt).
thread_local bool t_inLogin = false;

Messages* collectorOf(DBPROCESS* dbproc) {
    if (dbproc) {
        if (auto* c = reinterpret_cast<Messages*>(dbgetuserdata(dbproc))) {
            return c;
        }
    }
    return t_collector;
}

int errorHandler(DBPROCESS* dbproc, int severity, int dberr, int oserr, char* dberrstr,
                 char* /*oserrstr*/) {
    // A time-out during a command: cancel the command and keep the connection (INT_TIMEOUT
    // sends an attention); during a login: give up.
    const int answer = dberr == SYBETIME && !t_inLogin ? INT_TIMEOUT : INT_CANCEL;
    Messages* c = collectorOf(dbproc);
    if (!c) {
        return answer;
    }
    if (dberr == SYBETIME) {
        c->timedOut = true;
    }
    // SYBESMSG only says "the server sent a message", which the message callback has already
    // recorded with all its fields.
    if (dberr == SYBESMSG) {
        return answer;
    }
    const std::string text = dberrstr ? dberrstr : "";
    // db-lib reports several failures twice in a row (connection failed, unable to connect).
    for (const auto& e : c->client) {
        if (e.number == dberr && e.osError == oserr && e.text == text) {
            return answer;
        }
    }
    c->client.push_back(ClientError{dberr, severity, oserr, text});
    return answer;
}

int messageHandler(DBPROCESS* dbproc, DBINT msgno, int msgstate, int severity, char* msgtext,
                   char* srvname, char* procname, int line) {
    Messages* c = collectorOf(dbproc);
    if (!c) {
        return 0;
    }
    SqlServerMessage m;
    m.number = msgno;
    m.state = static_cast<std::uint8_t>(msgstate < 0 ? 0 : msgstate);
    m.severityClass = static_cast<std::uint8_t>(severity < 0 ? 0 : severity);
    m.message = msgtext ? msgtext : "";
    m.server = srvname ? srvname : "";
    m.procedure = procname ? procname : "";
    m.line = static_cast<std::uint16_t>(line < 0 ? 0 : line);
    c->server.push_back(std::move(m));
    return 0;
}

std::once_flag g_initOnce;
bool g_initOk = false;
// db-lib's login time-out is process-wide; logins take turns.
std::mutex g_loginMutex;

bool initialiseDbLib() {
    std::call_once(g_initOnce, [] {
        g_initOk = dbinit() == SUCCEED;
        if (g_initOk) {
            dberrhandle(errorHandler);
            dbmsghandle(messageHandler);
        }
    });
    return g_initOk;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// DbLibLink.

namespace {

BYTE tdsVersionCode(const std::string& text) {
    if (text == "7.1" || text == "8.0") {
        return DBVERSION_71;
    }
    if (text == "7.2") {
        return DBVERSION_72;
    }
    if (text == "7.3") {
        return DBVERSION_73;
    }
    if (text == "7.4") {
        return DBVERSION_74;
    }
    return 0;
}

// The classic provider logs in as the process's workstation when none is given.
std::string defaultWorkstation() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) == 0) {
        return name;
    }
    return {};
}

} // namespace

std::unique_ptr<Link> DbLibLink::open(const LoginSettings& settings, Failure& failure,
                                      Messages& information) {
    information.clear();
    Messages none;
    if (settings.integrated) {
        failure = makeFailure(Situation::IntegratedLoginUnavailable, none, IID_IDBInitialize);
        return nullptr;
    }
    // On the simulated host a name must be known to the host's freetds.conf: anything else is
    // a server that does not exist, reported at once and without asking the resolver.
    std::string target = settings.server.empty() ? "(local)" : settings.server;
    std::string tdsVersion;
    if (auto resolver = ServerNameResolver::forSimulatedHost()) {
        auto endpoint = resolver->resolve(target);
        if (!endpoint) {
            failure = makeFailure(Situation::ServerUnreachable, none, IID_IDBInitialize);
            return nullptr;
        }
        target = endpoint->dblibName();
        tdsVersion = endpoint->tdsVersion;
    }
    if (!initialiseDbLib()) {
        failure = makeFailure(Situation::ServerUnreachable, none, IID_IDBInitialize);
        return nullptr;
    }

    LOGINREC* login = dblogin();
    if (!login) {
        failure = Failure{E_OUTOFMEMORY, {}, false};
        return nullptr;
    }
    DBSETLUSER(login, settings.user.c_str());
    if (!settings.password.empty()) {
        DBSETLPWD(login, settings.password.c_str());
    }
    const std::string app = settings.application.empty() ? "Kelvora" : settings.application;
    DBSETLAPP(login, app.c_str());
    const std::string host =
        settings.workstation.empty() ? defaultWorkstation() : settings.workstation;
    if (!host.empty()) {
        DBSETLHOST(login, host.c_str());
    }
    if (!settings.language.empty()) {
        DBSETLNATLANG(login, settings.language.c_str());
    }
    if (!settings.database.empty()) {
        DBSETLDBNAME(login, settings.database.c_str());
    }
    DBSETLCHARSET(login, "UTF-8");
    if (settings.packetSize > 0) {
        DBSETLPACKET(login, settings.packetSize);
    }
    if (settings.encrypt) {
        DBSETLENCRYPT(login, TRUE);
    }
    // Always an explicit version: in its automatic mode db-lib 1.3 ignores the login time-out
    // and waits for a silent server forever. 7.4 is answered with the server's own version.
    const BYTE version = tdsVersionCode(tdsVersion);
    DBSETLVERSION(login, version ? version : DBVERSION_74);

    Messages collected;
    DBPROCESS* dbproc = nullptr;
    {
        std::lock_guard lock(g_loginMutex);
        dbsetlogintime(settings.loginTimeoutSeconds > 0 ? settings.loginTimeoutSeconds : 0);
        t_collector = &collected;
        t_inLogin = true;
        dbproc = dbopen(login, target.c_str());
        t_inLogin = false;
        t_collector = nullptr;
    }
    dbloginfree(login);

    if (!dbproc) {
        bool refused = false;
        for (const auto& m : collected.server) {
            refused = refused || isLoginRefusal(m);
        }
        Situation situation = Situation::ServerUnreachable;
        if (refused) {
            situation = Situation::LoginRefused;
        } else if (collected.hasServerError()) {
            situation = Situation::LoginFailedOther;
        } else if (collected.timedOut && !collected.hasClientError(SYBECONN)) {
            situation = Situation::LoginTimeout;
        }
        failure = makeFailure(situation, collected, IID_IDBInitialize);
        return nullptr;
    }

    std::unique_ptr<DbLibLink> link(new DbLibLink());
    link->dbproc_ = dbproc;
    link->serverName_ = settings.server.empty() ? "(local)" : settings.server;
    dbsetuserdata(dbproc, reinterpret_cast<BYTE*>(&link->messages_));
    {
        std::lock_guard lock(g_linksMutex);
        g_links[dbproc] = link.get();
    }
    dbsetinterrupt(dbproc, &DbLibLink::checkInterrupt, &DbLibLink::handleInterrupt);
    information.server = std::move(collected.server);
    return link;
}

// db-lib asks these about once a second while it waits for the server. They run on the
// thread that waits; only the request flag comes from elsewhere.
int DbLibLink::checkInterrupt(void* dbproc) {
    std::lock_guard lock(g_linksMutex);
    auto it = g_links.find(static_cast<DBPROCESS*>(dbproc));
    return it != g_links.end() && it->second->cancel_.load() && !it->second->attentionSent_;
}

int DbLibLink::handleInterrupt(void* dbproc) {
    std::lock_guard lock(g_linksMutex);
    auto it = g_links.find(static_cast<DBPROCESS*>(dbproc));
    if (it == g_links.end())
        return INT_CONTINUE;
    it->second->attentionSent_ = true;
    return INT_CANCEL; // db-lib sends the attention and reads the server's acknowledgement
}

void DbLibLink::clearCancel() {
    cancel_.store(false);
    attentionSent_ = false;
}

void DbLibLink::cancelBatch() {
    if (dbproc_ && !isDead()) {
        attentionSent_ = true;
        dbcancel(dbproc_);
    }
    messages_.clear();
}

DbLibLink::~DbLibLink() {
    if (dbproc_) {
        {
            std::lock_guard lock(g_linksMutex);
            g_links.erase(dbproc_);
        }
        dbsetuserdata(dbproc_, nullptr);
        dbclose(dbproc_);
    }
}

bool DbLibLink::isDead() {
    if (!dead_ && (!dbproc_ || DBDEAD(dbproc_))) {
        dead_ = true;
    }
    return dead_;
}

Link::Step DbLibLink::afterFailure() {
    // db-lib's severities do not tell a dropped socket from a statement error; the state of
    // the connection does.
    if (attentionSent_ && !isDead()) {
        return Step::Cancelled;
    }
    if (isDead() || messages_.hasClientError(SYBEREAD) || messages_.hasClientError(SYBEWRIT) ||
        messages_.hasClientError(SYBEDDNE) || messages_.hasClientError(SYBESEOF)) {
        dead_ = true;
        return Step::Dead;
    }
    if (messages_.timedOut) {
        return Step::TimedOut;
    }
    return Step::Failed;
}

void DbLibLink::applyTimeout(int timeoutSeconds) {
    // The per-connection time-out (db-lib's own is process-wide); 0 means none. Set only when
    // it changes: most commands keep the default.
    const int wanted = timeoutSeconds > 0 ? timeoutSeconds : 0;
    if (wanted != timeoutSeconds_) {
        if (wanted > 0) {
            dbsetopt(dbproc_, DBSETTIME, std::to_string(wanted).c_str(), 0);
        } else {
            dbclropt(dbproc_, DBSETTIME, nullptr);
        }
        timeoutSeconds_ = wanted;
    }
}

namespace {

// The db-lib form of a parameter value: type, maximal length (output only), bytes.
struct RpcData {
    int type = SYBVARCHAR;
    DBINT maxLength = -1;
    std::string bytes;
    bool null = false;
};

RpcData rpcDataOf(const RpcArg& a) {
    RpcData d;
    const CellValue& v = a.value;
    auto put = [&](const void* p, std::size_t n) {
        d.bytes.assign(static_cast<const char*>(p), n);
    };
    switch (v.kind) {
    case CellValue::Kind::Null:
        d.null = true;
        break;
    case CellValue::Kind::Int: {
        const std::int64_t i = v.i;
        put(&i, 8);
        break;
    }
    case CellValue::Kind::Real:
        put(&v.d, 8);
        break;
    case CellValue::Kind::Bool: {
        const unsigned char b = v.i ? 1 : 0;
        put(&b, 1);
        break;
    }
    case CellValue::Kind::Bytes:
        d.bytes = v.s;
        break;
    default: {
        std::string text;
        asText(v, text);
        d.bytes = std::move(text);
        break;
    }
    }
    // The declared type decides the wire type, so that a null or an output has one too. Texts
    // travel as ntext (UTF-16, any length) and long byte strings as image, whatever they are
    // declared as: the server converts them to the declared type and returns outputs in it.
    const std::string& t = a.declaredType;
    if (t == "ntext" || t.rfind("nvarchar", 0) == 0) {
        d.type = SYBNTEXT;
    } else if (t == "image" || t == "varbinary(max)") {
        d.type = SYBIMAGE;
    } else if (t == "bigint") {
        d.type = SYBINT8;
    } else if (t == "float") {
        d.type = SYBFLT8;
    } else if (t == "bit") {
        d.type = SYBBITN;
        d.maxLength = a.output ? 1 : -1;
    } else if (t.rfind("varbinary", 0) == 0) {
        d.type = SYBVARBINARY;
        d.maxLength = a.output ? 8000 : -1;
    } else {
        d.type = SYBVARCHAR;
        d.maxLength = a.output ? 8000 : -1;
    }
    if (d.type == SYBINT8 || d.type == SYBFLT8) {
        d.maxLength = -1;
    }
    return d;
}

CellValue returnedValue(int type, const BYTE* data, DBINT length) {
    if (!data) {
        return CellValue::null();
    }
    switch (type) {
    case SYBINT1:
        return CellValue::integer(*data);
    case SYBINT2: {
        std::int16_t v;
        std::memcpy(&v, data, 2);
        return CellValue::integer(v);
    }
    case SYBINT4: {
        std::int32_t v;
        std::memcpy(&v, data, 4);
        return CellValue::integer(v);
    }
    case SYBINT8: {
        std::int64_t v;
        std::memcpy(&v, data, 8);
        return CellValue::integer(v);
    }
    case SYBFLT8: {
        double v;
        std::memcpy(&v, data, 8);
        return CellValue::real(v);
    }
    case SYBREAL: {
        float v;
        std::memcpy(&v, data, 4);
        return CellValue::real(v);
    }
    case SYBBIT:
    case SYBBITN:
        return CellValue::boolean(*data != 0);
    case SYBBINARY:
    case SYBVARBINARY:
    case SYBIMAGE:
        return CellValue::bytes(
            std::string(reinterpret_cast<const char*>(data), static_cast<std::size_t>(length)));
    default:
        return CellValue::text(
            std::string(reinterpret_cast<const char*>(data), static_cast<std::size_t>(length)));
    }
}

} // namespace

Link::Step DbLibLink::call(const std::string& procedure, const std::vector<RpcArg>& args,
                           int timeoutSeconds) {
    if (isDead()) {
        return Step::Dead;
    }
    applyTimeout(timeoutSeconds);
    if (dbrpcinit(dbproc_, procedure.c_str(), 0) != SUCCEED) {
        return afterFailure();
    }
    std::vector<RpcData> data; // kept until the call has been sent
    data.reserve(args.size());
    for (const RpcArg& a : args) {
        data.push_back(rpcDataOf(a));
        RpcData& d = data.back();
        const DBINT length = d.null ? 0 : static_cast<DBINT>(d.bytes.size());
        BYTE* value = d.null ? nullptr : reinterpret_cast<BYTE*>(d.bytes.data());
        if (dbrpcparam(dbproc_, a.name.empty() ? nullptr : a.name.c_str(),
                       a.output ? DBRPCRETURN : 0, d.type, d.maxLength, length, value) != SUCCEED) {
            return afterFailure();
        }
    }
    if (dbrpcsend(dbproc_) != SUCCEED) {
        return afterFailure();
    }
    if (dbsqlok(dbproc_) != SUCCEED) {
        return afterFailure();
    }
    return attentionSent_ ? Step::Cancelled : Step::Ok;
}

std::vector<ReturnValue> DbLibLink::returnValues() {
    std::vector<ReturnValue> out;
    if (!dbproc_ || isDead()) {
        return out;
    }
    const int n = dbnumrets(dbproc_);
    for (int i = 1; i <= n; ++i) {
        const char* name = dbretname(dbproc_, i);
        out.push_back({name ? name : "", returnedValue(dbrettype(dbproc_, i), dbretdata(dbproc_, i),
                                                       dbretlen(dbproc_, i))});
    }
    return out;
}

Link::Step DbLibLink::execute(const std::string& sql, int timeoutSeconds) {
    if (isDead()) {
        return Step::Dead;
    }
    applyTimeout(timeoutSeconds);
    if (dbcmd(dbproc_, sql.c_str()) != SUCCEED) {
        return afterFailure();
    }
    if (dbsqlexec(dbproc_) != SUCCEED) {
        return afterFailure();
    }
    return attentionSent_ ? Step::Cancelled : Step::Ok;
}

Link::Step DbLibLink::nextResult() {
    if (isDead()) {
        return Step::Dead;
    }
    const RETCODE rc = dbresults(dbproc_);
    if (attentionSent_) {
        return Step::Cancelled;
    }
    // A connection that died in the middle of a response ends the results too; that is no
    // clean end of the batch.
    if (rc != SUCCEED && isDead()) {
        return afterFailure();
    }
    if (rc == SUCCEED) {
        return Step::Ok;
    }
    if (rc == NO_MORE_RESULTS) {
        return Step::NoMore;
    }
    return afterFailure();
}

int DbLibLink::columnCount() const {
    return dbproc_ ? dbnumcols(dbproc_) : 0;
}

long long DbLibLink::rowCount() const {
    if (!dbproc_ || !dbiscount(dbproc_)) {
        return -1;
    }
    return DBCOUNT(dbproc_);
}

Link::Step DbLibLink::nextRow() {
    if (isDead()) {
        return Step::Dead;
    }
    const STATUS rc = dbnextrow(dbproc_);
    if (attentionSent_) {
        return Step::Cancelled;
    }
    if (rc == REG_ROW) {
        return Step::Ok;
    }
    if (rc == NO_MORE_ROWS && isDead()) {
        return afterFailure();
    }
    if (rc == NO_MORE_ROWS) {
        return Step::NoMore;
    }
    if (rc == FAIL) {
        return afterFailure();
    }
    // Compute rows and buffer states: not produced by the statements sent here; skip them.
    return Step::Ok;
}

void DbLibLink::discardRows() {
    if (dbproc_ && !isDead()) {
        dbcanquery(dbproc_);
    }
}

void DbLibLink::drainResults() {
    while (!isDead()) {
        const RETCODE rc = dbresults(dbproc_);
        if (rc == NO_MORE_RESULTS) {
            break;
        }
        if (rc == SUCCEED) {
            dbcanquery(dbproc_);
        } else if (isDead()) {
            break;
        }
    }
    messages_.clear();
}

Messages DbLibLink::takeMessages() {
    Messages out = std::move(messages_);
    messages_.clear();
    return out;
}

std::string DbLibLink::currentDatabase() const {
    if (!dbproc_) {
        return {};
    }
    const char* name = dbname(dbproc_);
    return name ? name : "";
}

std::optional<std::string> DbLibLink::queryScalar(const std::string& sql) {
    std::optional<std::string> value;
    if (execute(sql, 0) != Step::Ok) {
        if (!isDead()) {
            drainResults();
        }
        takeMessages();
        return value;
    }
    while (nextResult() == Step::Ok) {
        if (columnCount() > 0) {
            while (nextRow() == Step::Ok) {
                if (!value) {
                    const int type = dbcoltype(dbproc_, 1);
                    const BYTE* data = dbdata(dbproc_, 1);
                    const DBINT length = dbdatlen(dbproc_, 1);
                    if (data) {
                        char buffer[512] = {};
                        const DBINT n =
                            dbconvert(dbproc_, type, data, length, SYBCHAR,
                                      reinterpret_cast<BYTE*>(buffer), sizeof buffer - 1);
                        if (n >= 0) {
                            value = std::string(buffer, static_cast<std::size_t>(n));
                        }
                    }
                }
            }
        }
    }
    takeMessages();
    return value;
}

} // namespace kv::oledb::tds

namespace kv::oledb {

HRESULT createTdsDataSource(IUnknown* outer, REFIID riid, void** ppv) {
    return tds::createDataSource(outer, riid, ppv, &tds::DbLibLink::open);
}

} // namespace kv::oledb
