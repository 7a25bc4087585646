#pragma once
// The stand-in SQL Server as one object: a TDS listener on 127.0.0.1 (one thread per
// connection) in front of the engine, for tests in-process and for the sqlserver-standin
// executable. The sockets are the platform's (TcpServer.h, DatagramPort.h), so the same server
// runs on the simulated host and on Windows.
//
// A connection that sends something malformed (a packet shorter than its header or longer than
// the packet size, a message over 1 MB, an unreadable LOGIN7, a wrong message type) is closed
// and the reason goes to the server's log; the other connections are not affected.

#include "platform/ServerMachine.h"
#include "platform/TcpServer.h"
#include "simulator/standin/Discovery.h"
#include "simulator/standin/Engine.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace kv::standin {

class Server {
public:
    struct Options {
        Profile profile = Profile::Sql2000;
        std::optional<std::string> saPassword;
        std::uint16_t port = 0; // 0: an ephemeral port
        // The server's own log; by default the machine's
        // "C:\Program Files\Microsoft SQL Server\MSSQL\LOG\ERRORLOG".
        std::optional<std::filesystem::path> logFile;
        // Answer the resolution protocol on the machine's discovery address and port (a port
        // already taken is logged and otherwise ignored).
        bool discovery = true;
    };

    Server(platform::ServerMachine machine, Options options);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Binds 127.0.0.1:port and starts accepting. False with a reason on failure.
    bool start(std::string& error);
    std::uint16_t port() const { return port_; }
    // Closes the listener and every connection, waits for their threads, closes the databases.
    void stop();
    // Cuts every open connection at once, as a crashed server would (no response, no clean-up
    // of the databases). The listener keeps running.
    void dropConnections();
    std::size_t connectionCount() const;

    Engine& engine() { return *engine_; }
    void log(const std::string& line);

private:
    class Connection;
    void acceptLoop();
    void reap(bool all);

    Options options_;
    std::unique_ptr<Engine> engine_;
    std::filesystem::path logFile_;
    std::mutex logMutex_;
    std::unique_ptr<platform::TcpAcceptor> acceptor_;
    std::uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread acceptThread_;
    mutable std::mutex connectionsMutex_;
    std::list<std::unique_ptr<Connection>> connections_;
    DiscoveryResponder discovery_;
};

// Writes the machine's freetds.conf (the simulated host has one; Windows has none, and then
// nothing is written): sections for the computer name and "(local)" pointing at
// 127.0.0.1:port with the profile's TDS version.
bool writeFreetdsConf(const platform::ServerMachine& machine, std::uint16_t port, Profile profile,
                      std::string& error);

} // namespace kv::standin
