#pragma once
// The client side of the trace viewer link: one per process, fed by the SQL trace monitor.
//
// The monitor's thread only queues: a ring of 1001 slots (1000 messages at most; a message for a
// full ring is dropped) under an add lock, and a signal for the sending thread. That thread owns
// the socket. On an open link each message goes out behind its keep-alive probes (the integer 6,
// twice; once before a finish), and what one wake of the thread gathers leaves in one send. A
// message that needs a link connects (at most once per reconnect time-out after a failed
// connect), and every new connection begins with the start-up message. A finish message goes
// only over a link that is already open, and closes it. Messages that cannot be sent are dropped:
// nothing ever reaches or blocks the traced program.

#include "dataaccess/TraceViewerMessages.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace kv::platform {
class TcpStream;
}

namespace kv::dataaccess {

// Writes messages to the trace viewer's socket. The fields of a message are gathered and go out
// in one send when the message is complete (Flush); the bytes on the wire are the same as with
// one send per field, at a tenth of the system calls. A failed send raises ESocketError and
// closes the socket: the rest of that message is lost.
class TSocketMessagePacker final : public TMessagePacker {
public:
    TSocketMessagePacker();
    ~TSocketMessagePacker() override;

    void Configure(std::string Host, int Port, int ReconnectTimeout, int SendTimeout);
    // Connects unless the last failed connect is younger than the reconnect time-out; false
    // when there is no link.
    bool Connect();
    void Close();
    bool Connected() const { return FStream != nullptr; }
    // When the last connect failed (for the queue's early drop), and the time-out after it.
    bool Failed() const { return FFailed; }
    std::uint32_t FailedTick() const { return FFailedTick; }
    int ReconnectTimeout() const { return FReconnectTimeout; }

    void WriteInteger(std::int32_t Value) override;
    void WriteString(const std::string& Value) override;
    // Sends what was written since the last flush.
    void Flush();
    std::size_t Gathered() const { return FPending.size(); }

private:
    std::string FPending;

    std::string FHost;
    int FPort = 1000;
    int FReconnectTimeout = 5000;
    int FSendTimeout = 1000;
    std::unique_ptr<platform::TcpStream> FStream;
    bool FFailed = false;
    std::uint32_t FFailedTick = 0;
};

class TTraceViewerClient;

// The sending thread: waits for the client's signal and sends what is queued; on stop it empties
// the queue first.
class TEventSendThread {
public:
    explicit TEventSendThread(TTraceViewerClient& Client);
    ~TEventSendThread(); // stops and waits
    TEventSendThread(const TEventSendThread&) = delete;
    TEventSendThread& operator=(const TEventSendThread&) = delete;

private:
    void Run();
    TTraceViewerClient& FClient;
    std::thread FThread;
};

class TTraceViewerClient {
public:
    // The process-wide client, made on first use and ended with the program.
    static TTraceViewerClient& Get();

    TTraceViewerClient();
    ~TTraceViewerClient(); // the queue is sent (or dropped) before it returns
    TTraceViewerClient(const TTraceViewerClient&) = delete;
    TTraceViewerClient& operator=(const TTraceViewerClient&) = delete;

    // Caption ("Nuvo") and the link's settings; taken at each activation of a monitor.
    void Configure(const std::string& Caption, const std::string& Host, int Port,
                   int ReconnectTimeout, int SendTimeout);
    // Queue the start-up message / the finish message.
    void Start();
    void Finish();
    // Numbers the event (handing the number back), then queues its start message.
    std::uint32_t EventStart(TMonitorEvent& Event);
    // Queues an end message; an event number of 0 becomes the last number given out.
    void EventEnd(TMonitorEvent& Event);

    // Whether a message queued now would only be dropped (the link is down and its reconnect
    // time-out has not passed): the monitor then skips building the event.
    bool Dropping() const { return LinkDownForNow(); }
    // Gives out the next event number without queueing anything.
    std::uint32_t NextEventNumber() { return ++FLastEventNumber; }

    // For tests: waits until the sending thread has taken every queued message.
    void WaitUntilSent();

    static constexpr std::size_t Slots = 1001;

private:
    friend class TEventSendThread;
    void Queue(std::shared_ptr<const TMonitorMessage> Message);
    bool LinkDownForNow() const;
    // The sending thread takes the settings of a later Configure before its next message.
    void TakePendingSettings();
    std::atomic<bool> FSettingsPending{false};
    std::shared_ptr<const TStartupMessage> StartupMessage();
    // The sending thread's work: every queued message, in order. Returns false once told to
    // stop and nothing is left.
    bool SendQueued();
    void SendOne(const std::shared_ptr<const TMonitorMessage>& Message);
    void FlushGathered();
    static constexpr std::size_t GatherLimit = 64 * 1024;

    std::string FCaption = "DataAccess";
    // Published by the sending thread after each message: whether the link is down and since
    // when. A message queued before the reconnect time-out has passed would only be dropped by
    // the thread, so it is dropped at once, without waking the thread.
    std::atomic<bool> FLinkDown{false};
    std::atomic<std::uint32_t> FLinkDownTick{0};
    std::atomic<std::uint32_t> FLinkRetryAfter{0};
    std::atomic<std::uint32_t> FLastEventNumber{0};
    std::shared_ptr<const TStartupMessage> FStartup;

    std::array<std::shared_ptr<const TMonitorMessage>, Slots> FRing;
    std::atomic<std::size_t> FHead{0}; // next message to send; advanced by the sending thread
    std::atomic<std::size_t> FTail{0}; // next free slot; advanced under the add lock
    std::mutex FAddLock;

    // The automatically resetting new-message signal, and the stop request.
    std::mutex FSignalLock;
    std::condition_variable FSignal;
    bool FSignalled = false;
    bool FStop = false;
    std::condition_variable FDrained;

    TSocketMessagePacker FPacker; // owned by the sending thread once it runs
    std::mutex FSettingsLock;
    // Settings of a later activation, taken by the sending thread before its next message.
    struct PendingSettings {
        std::string Host;
        int Port = 1000;
        int ReconnectTimeout = 5000;
        int SendTimeout = 1000;
        bool Pending = false;
    } FPendingSettings;
    std::unique_ptr<TEventSendThread> FThread;
};

} // namespace kv::dataaccess
