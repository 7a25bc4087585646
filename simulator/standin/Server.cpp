#include "simulator/standin/Server.h"

#include "platform/Clock.h"
#include "platform/TcpListener.h"
#include "simulator/standin/RpcDeclarations.h"
#include "simulator/standin/RpcParams.h"
#include "simulator/standin/Tds.h"

#include <chrono>
#include <cstring>
#include <ctime>
#include <deque>
#include <fstream>

namespace kv::standin {

namespace {

constexpr std::size_t MaxConnections = 512;

bool sendAll(platform::TcpConnection& socket, const std::vector<std::uint8_t>& bytes) {
    return socket.sendAll(bytes.data(), bytes.size()).ok();
}

// Turns the engine's results into tokens. A statement's DONE is held back until the next
// token shows whether more results follow (DONE_MORE) or the batch has ended.
class TdsSink : public ResultSink {
public:
    TdsSink(tds::TokenWriter& writer, std::string server)
        : w_(writer), server_(std::move(server)) {}

    void message(const Message& m) override {
        flush(true);
        w_.message(m, server_);
    }
    void databaseChanged(const std::string& n, const std::string& o) override {
        flush(true);
        w_.envChange(1, n, o);
    }
    void rowSet(const RowSet& rows) override {
        flush(true);
        w_.colMetadata(rows.columns);
        for (const auto& r : rows.rows)
            w_.row(rows.columns, r);
    }
    void statementDone(const StatementEnd& end) override {
        flush(true);
        pending_ = end;
    }
    // Ends the response; `extra` adds status bits to the last DONE.
    void finish(std::uint16_t extra) {
        if (!pending_) {
            w_.done(tds::token::Done, extra, 0, 0);
            return;
        }
        write(*pending_, false, extra);
        pending_.reset();
    }
    void flush(bool more) {
        if (!pending_)
            return;
        write(*pending_, more, 0);
        pending_.reset();
    }

private:
    void write(const StatementEnd& e, bool more, std::uint16_t extra) {
        std::uint16_t status = extra;
        if (more)
            status |= tds::done::More;
        if (e.error)
            status |= tds::done::Error;
        if (e.hasCount)
            status |= tds::done::Count;
        const std::uint16_t command = e.hasCount ? 0xC1 : 0;
        if (e.kind == DoneKind::Procedure) {
            w_.returnStatus(e.returnStatus);
            w_.done(tds::token::DoneProc, status, 0xE0, e.count);
        } else {
            w_.done(tds::token::Done, status, command, e.count);
        }
    }

    tds::TokenWriter& w_;
    std::string server_;
    std::optional<StatementEnd> pending_;
};

// 8178: a parameter of the declaration list got no value. The query is named as SQL Server
// shows it, the declaration list in parentheses before the statement.
Message unsuppliedParameterError(Profile profile, const std::string& statement,
                                 const std::vector<tds::RpcParam>& params,
                                 const std::string& name) {
    const auto* list = std::get_if<std::string>(&params.front().value);
    const std::string query = "(" + (list ? *list : std::string()) + ")" + statement;
    Message m;
    m.number = 8178;
    m.severity = 16;
    m.state = 1;
    m.line = 0;
    m.text = profile == Profile::Sql2000
                 ? "Prepared statement '" + query + "' expects parameter " + name +
                       ", which was not supplied."
                 : "The parameterized query '" + query + "' expects the parameter '" + name +
                       "', which was not supplied.";
    return m;
}

std::string timestamp() {
    const std::tm tm = platform::localTime(std::time(nullptr));
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
    return buf;
}

} // namespace

class Server::Connection {
public:
    Connection(Server& server, std::unique_ptr<platform::TcpConnection> socket)
        : server_(server), socket_(std::move(socket)) {
        thread_ = std::thread([this] { run(); });
    }
    ~Connection() {
        if (thread_.joinable())
            thread_.join();
    }
    bool done() const { return done_; }
    void cut() {
        std::lock_guard lock(socketMutex_);
        if (socket_)
            socket_->cut();
    }

private:
    void run();
    bool readMessage(tds::Message& out);
    bool handleLogin();
    void handleBatch(const std::string& sql);
    void handleCall(const std::string& statement, std::vector<tds::RpcParam> params);
    // Ends a response that a cancel or a fatal error cut short; false for an ordinary outcome.
    bool endCutShort(BatchOutcome outcome, tds::TokenWriter& w, TdsSink& sink);
    bool respond(const std::vector<std::uint8_t>& tokens, std::size_t packetSize) {
        return sendAll(*socket_,
                       tds::packetize(tokens, packetSize, static_cast<std::uint16_t>(spid())));
    }
    // Sends what the batch has produced so far as packets of a response that goes on (no
    // EOM), as SQL Server does while a statement is still running: the client reads the first
    // results and may cancel in the middle of the response.
    void stream(tds::TokenWriter& w, TdsSink& sink);
    // The engine's attention poll for a batch whose output so far is in w.
    bool pollWhileStreaming(tds::TokenWriter& w, TdsSink& sink, int milliseconds) {
        stream(w, sink);
        return waitForAttention(milliseconds);
    }
    int spid() const { return session_ ? session_->spid : 0; }
    bool waitForAttention(int milliseconds);

    Server& server_;
    // Cut from other threads; reset by the connection's own thread when it ends.
    std::mutex socketMutex_;
    std::unique_ptr<platform::TcpConnection> socket_;
    std::thread thread_;
    std::atomic<bool> done_{false};
    tds::MessageReader reader_{tds::MaxPacketSize};
    std::deque<tds::Message> queued_;
    bool dead_ = false;
    std::shared_ptr<Session> session_;
    std::uint32_t version_ = tds::version::V71;
    std::size_t packetSize_ = tds::DefaultPacketSize;
    std::string peer_;
};

bool Server::Connection::readMessage(tds::Message& out) {
    if (!queued_.empty()) {
        out = std::move(queued_.front());
        queued_.pop_front();
        return true;
    }
    for (;;) {
        std::string error;
        switch (reader_.next(out, error)) {
        case tds::MessageReader::State::Ready:
            return true;
        case tds::MessageReader::State::Malformed:
            server_.log("Connection " + peer_ + " (spid " + std::to_string(spid()) +
                        ") closed: " + error + ".");
            return false;
        case tds::MessageReader::State::NeedMore:
            break;
        }
        if (dead_)
            return false;
        std::uint8_t buffer[65536];
        auto n = socket_->receive(buffer, sizeof buffer);
        if (!n || *n == 0)
            return false;
        reader_.append(buffer, *n);
    }
}

bool Server::Connection::waitForAttention(int milliseconds) {
    auto ready = socket_->readable(milliseconds);
    if (ready && !*ready)
        return false;
    std::uint8_t buffer[65536];
    auto n = ready ? socket_->receive(buffer, sizeof buffer) : platform::Result<std::size_t>(0);
    if (!n || *n == 0) {
        dead_ = true;
        return true; // the client is gone: stop working for it
    }
    reader_.append(buffer, *n);
    tds::Message m;
    std::string error;
    for (;;) {
        auto state = reader_.next(m, error);
        if (state == tds::MessageReader::State::Malformed) {
            dead_ = true;
            server_.log("Connection " + peer_ + " closed during a batch: " + error + ".");
            return true;
        }
        if (state == tds::MessageReader::State::NeedMore)
            return false;
        if (m.type == tds::packet::Attention)
            return true;
        queued_.push_back(std::move(m));
    }
}

void Server::Connection::run() {
    peer_ = socket_->peer();
    session_ = server_.engine().openSession();
    session_->kill = [this] { cut(); };
    if (handleLogin()) {
        tds::Message m;
        while (!dead_ && readMessage(m)) {
            if (m.type == tds::packet::SqlBatch || m.type == tds::packet::Rpc) {
                if (m.status & tds::StatusIgnore) {
                    tds::TokenWriter w(version_, server_.engine().collationBytes());
                    w.done(tds::token::Done, 0, 0, 0);
                    if (!respond(w.bytes(), packetSize_))
                        break;
                    continue;
                }
                std::string error;
                std::optional<std::string> sql;
                std::optional<tds::RpcRequest> rpc;
                if (m.type == tds::packet::SqlBatch) {
                    sql = tds::parseSqlBatch(m.payload, version_, error);
                } else {
                    rpc = tds::parseRpc(m.payload, version_, error);
                    if (rpc && rpc->statement)
                        sql = rpc->statement;
                    else if (rpc)
                        sql = "EXEC " + rpc->procedure;
                }
                if (!sql) {
                    server_.log("Connection " + peer_ + " closed: " + error + ".");
                    break;
                }
                if (rpc && rpc->statement && !rpc->params.empty())
                    handleCall(*sql, rpc->params);
                else
                    handleBatch(*sql);
            } else if (m.type == tds::packet::Attention) {
                // Nothing is running: acknowledge at once.
                tds::TokenWriter w(version_, server_.engine().collationBytes());
                w.done(tds::token::Done, tds::done::Attention, 0, 0);
                if (!respond(w.bytes(), packetSize_))
                    break;
            } else {
                server_.log("Connection " + peer_ + " closed: message type " +
                            std::to_string(m.type) + " is not expected after login.");
                break;
            }
        }
    }
    server_.engine().closeSession(*session_);
    {
        std::lock_guard lock(socketMutex_);
        socket_.reset();
    }
    done_ = true;
}

bool Server::Connection::handleLogin() {
    tds::Message m;
    if (!readMessage(m))
        return false;
    std::string error;
    const ProfileInfo& info = server_.engine().info();
    // Clients of the TDS 7.0/7.1 era (and some later drivers) send LOGIN7 straight away; SQL
    // Server takes it as a login without encryption negotiation.
    if (m.type == tds::packet::PreLogin) {
        if (!tds::parsePreLogin(m.payload, error)) {
            server_.log("Connection " + peer_ + " closed: " + error + ".");
            return false;
        }
        if (!sendAll(*socket_,
                     tds::packetize(tds::preLoginResponse(info.major, info.minor, info.build),
                                    tds::DefaultPacketSize, 0)))
            return false;
        if (!readMessage(m))
            return false;
    } else if (m.type != tds::packet::Login7) {
        if (m.type != tds::packet::PreTds7Login)
            server_.log("Connection " + peer_ + " closed: message type " + std::to_string(m.type) +
                        " before PRELOGIN.");
        return false;
    }
    if (m.type != tds::packet::Login7) {
        server_.log("Connection " + peer_ + " closed: message type " + std::to_string(m.type) +
                    " instead of LOGIN7.");
        return false;
    }
    auto login = tds::parseLogin7(m.payload, error);
    if (!login) {
        server_.log("Connection " + peer_ + " closed: " + error + ".");
        return false;
    }
    version_ = tds::negotiateVersion(login->tdsVersion, info.tdsVersion);
    tds::TokenWriter w(version_, server_.engine().collationBytes());
    auto result =
        server_.engine().login(*session_, login->userName, login->password, login->database);
    const std::string serverName = server_.engine().serverName();
    if (!result.ok) {
        for (const auto& msg : result.messages)
            w.message(msg, serverName);
        w.done(tds::token::Done, tds::done::Error, 0, 0);
        (void)respond(w.bytes(), tds::DefaultPacketSize);
        return false;
    }
    std::size_t granted = login->packetSize == 0 ? tds::DefaultPacketSize : login->packetSize;
    granted = std::clamp(granted, tds::MinPacketSize, tds::MaxPacketSize);
    w.envChange(1, result.database, "master");
    w.message(result.messages.at(0), serverName);
    w.envCollation();
    w.envChange(2, result.language, "");
    w.message(result.messages.at(1), serverName);
    w.loginAck(version_, "Microsoft SQL Server", info.major, info.minor, info.build);
    w.envChange(4, std::to_string(granted), std::to_string(login->packetSize));
    w.done(tds::token::Done, 0, 0, 0);
    if (!respond(w.bytes(), tds::DefaultPacketSize))
        return false;
    packetSize_ = granted;
    reader_.setMaxPacket(granted);
    return true;
}

void Server::Connection::stream(tds::TokenWriter& w, TdsSink& sink) {
    sink.flush(true);
    if (w.bytes().empty() || dead_)
        return;
    std::vector<std::uint8_t> packets =
        tds::packetize(w.bytes(), packetSize_, static_cast<std::uint16_t>(spid()));
    // packetize ends the message; this part does not.
    for (std::size_t at = 0; at + tds::HeaderSize <= packets.size();) {
        const std::size_t length = (std::size_t{packets[at + 2]} << 8) | packets[at + 3];
        packets[at + 1] = static_cast<std::uint8_t>(packets[at + 1] & ~tds::StatusEom);
        at += length;
    }
    if (!sendAll(*socket_, packets))
        dead_ = true;
    w.clear();
}

// sp_executesql with parameters: the declaration list names and types the values, the
// statement runs with the inputs bound, the values assigned to output parameters go back as
// RETURNVALUE tokens before the final DONEPROC.
void Server::Connection::handleCall(const std::string& statement,
                                    std::vector<tds::RpcParam> params) {
    tds::applyRpcDeclarations(params, server_.engine().collationBytes());
    tds::TokenWriter w(version_, server_.engine().collationBytes());
    if (const auto missing = tds::unsuppliedParameters(params); !missing.empty()) {
        w.message(
            unsuppliedParameterError(server_.engine().profile(), statement, params, missing[0]),
            server_.engine().serverName());
        w.done(tds::token::DoneProc, tds::done::Error, 0, 0);
        if (!respond(w.bytes(), packetSize_))
            dead_ = true;
        return;
    }
    if (const tds::RpcParam* compared = tds::comparedLongParameter(statement, params);
        compared != nullptr && server_.engine().profile() == Profile::Sql2000) {
        kv::standin::Message m;
        m.number = 402;
        m.severity = 16;
        m.state = 1;
        m.text = "The data types " + compared->declaredType +
                 " and nvarchar are incompatible in the equal to operator.";
        w.message(m, server_.engine().serverName());
        w.done(tds::token::DoneProc, tds::done::Error, 0, 0);
        if (!respond(w.bytes(), packetSize_))
            dead_ = true;
        return;
    }
    TdsSink sink(w, server_.engine().serverName());
    tds::AssignmentSink assignments(sink, params);
    const BatchOutcome outcome = server_.engine().execute(
        *session_, tds::bindRpcParams(statement, params), assignments,
        [this, &w, &sink](int ms) { return pollWhileStreaming(w, sink, ms); });
    if (endCutShort(outcome, w, sink))
        return;
    sink.flush(true);
    tds::writeReturnValues(w, params);
    w.done(tds::token::DoneProc, 0, 0, 0);
    if (!respond(w.bytes(), packetSize_))
        dead_ = true;
}

bool Server::Connection::endCutShort(BatchOutcome outcome, tds::TokenWriter& w, TdsSink& sink) {
    if (outcome == BatchOutcome::Cancelled) {
        if (dead_)
            return true;
        // End the interrupted response, then acknowledge the attention in a message of its own.
        sink.flush(true);
        w.done(tds::token::Done, 0, 0, 0);
        if (!respond(w.bytes(), packetSize_))
            return true;
        w.clear();
        w.done(tds::token::Done, tds::done::Attention, 0, 0);
        (void)respond(w.bytes(), packetSize_);
        return true;
    }
    if (outcome == BatchOutcome::Fatal) {
        sink.finish(tds::done::Error | tds::done::ServerError);
        (void)respond(w.bytes(), packetSize_);
        dead_ = true;
        return true;
    }
    return false;
}

void Server::Connection::handleBatch(const std::string& sql) {
    tds::TokenWriter w(version_, server_.engine().collationBytes());
    TdsSink sink(w, server_.engine().serverName());
    const BatchOutcome outcome =
        server_.engine().execute(*session_, sql, sink, [this, &w, &sink](int ms) {
            return pollWhileStreaming(w, sink, ms);
        });
    if (endCutShort(outcome, w, sink))
        return;
    sink.finish(0);
    if (!respond(w.bytes(), packetSize_))
        dead_ = true;
}

Server::Server(platform::ServerMachine machine, Options options) : options_(std::move(options)) {
    if (options_.logFile) {
        logFile_ = *options_.logFile;
    } else {
        auto path = machine.resolve(ErrorLogWindowsPath);
        if (path) {
            std::error_code ec;
            std::filesystem::create_directories(path->parent_path(), ec);
            logFile_ = *path;
        }
    }
    Engine::Options engineOptions;
    engineOptions.profile = options_.profile;
    engineOptions.saPassword = options_.saPassword;
    engineOptions.log = [this](const std::string& line) { log(line); };
    engine_ = std::make_unique<Engine>(std::move(machine), std::move(engineOptions));
}

Server::~Server() {
    stop();
}

void Server::log(const std::string& line) {
    std::lock_guard lock(logMutex_);
    if (logFile_.empty())
        return;
    std::ofstream out(logFile_, std::ios::app);
    out << timestamp() << " spid " << line << "\n";
}

bool Server::start(std::string& error) {
    auto acceptor = platform::acceptTcp(options_.port);
    if (!acceptor) {
        error = "cannot listen on 127.0.0.1:" + std::to_string(options_.port) + ": " +
                platform::socketErrorText(acceptor.code());
        return false;
    }
    acceptor_ = std::move(acceptor).value();
    port_ = acceptor_->port();
    stopping_ = false;
    acceptThread_ = std::thread([this] { acceptLoop(); });
    log("Server is listening on [ 127.0.0.1 <ipv4> " + std::to_string(port_) + "].");
    const auto target = engine_->machine().discoveryListen();
    if (options_.discovery && !target.address.empty() && target.port != 0) {
        InstanceInfo instance;
        instance.serverName = engine_->serverName();
        instance.version = engine_->info().productVersion;
        instance.tcpPort = port_;
        std::string why;
        if (!discovery_.start(target.address, target.port, instance, why))
            log("Resolution protocol not available: " + why);
    }
    return true;
}

void Server::acceptLoop() {
    while (!stopping_) {
        // Finished connections are joined at every turn, at the latest every 100 ms.
        auto accepted = acceptor_->accept(100);
        reap(false);
        if (!accepted || !*accepted)
            continue;
        std::lock_guard lock(connectionsMutex_);
        if (connections_.size() >= MaxConnections)
            continue; // the new connection closes as it goes
        connections_.push_back(std::make_unique<Connection>(*this, std::move(accepted).value()));
    }
}

void Server::reap(bool all) {
    std::list<std::unique_ptr<Connection>> finished;
    {
        std::lock_guard lock(connectionsMutex_);
        for (auto it = connections_.begin(); it != connections_.end();) {
            if (all || (*it)->done()) {
                finished.push_back(std::move(*it));
                it = connections_.erase(it);
            } else {
                ++it;
            }
        }
    }
    finished.clear(); // joins outside the lock
}

void Server::dropConnections() {
    std::lock_guard lock(connectionsMutex_);
    for (auto& c : connections_)
        c->cut();
}

std::size_t Server::connectionCount() const {
    std::lock_guard lock(connectionsMutex_);
    std::size_t n = 0;
    for (const auto& c : connections_)
        n += c->done() ? 0 : 1;
    return n;
}

void Server::stop() {
    discovery_.stop();
    if (acceptThread_.joinable()) {
        stopping_ = true;
        // Wakes the accept loop at once instead of at its next time-out.
        acceptor_->stop();
        acceptThread_.join();
    }
    acceptor_.reset();
    dropConnections();
    reap(true);
    if (engine_)
        engine_->shutdown();
}

bool writeFreetdsConf(const platform::ServerMachine& machine, std::uint16_t port, Profile profile,
                      std::string& error) {
    const auto conf = machine.clientConfigFile();
    if (!conf)
        return true;
    const std::filesystem::path file = *conf;
    std::filesystem::path temp = file;
    temp += ".new";
    {
        std::ofstream out(temp, std::ios::trunc);
        const char* version = profileInfo(profile).freetdsVersion;
        out << "# Written by sqlserver-standin: the servers of this simulated host.\n";
        for (const std::string& name : {machine.computerName(), std::string("(local)")}) {
            out << "[" << name << "]\n"
                << "\thost = 127.0.0.1\n"
                << "\tport = " << port << "\n"
                << "\ttds version = " << version << "\n\n";
        }
        if (!out) {
            error = "cannot write " + temp.string();
            return false;
        }
    }
    std::error_code ec;
    std::filesystem::rename(temp, file, ec);
    if (ec) {
        error = "cannot replace " + file.string() + ": " + ec.message();
        return false;
    }
    return true;
}

} // namespace kv::standin
