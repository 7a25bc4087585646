#pragma once
// The client side of the trace viewer link: one per process, fed by the SQL trace monitor.
//
// The monitor's thread only queues: a ring of 1001 slots (1000 messages at most; a message for a
// full ring is dropped) under an add lock that only the queueing threads take. A message is
// encoded into its slot as it is queued, and a slot keeps its memory for the next message, so a
// traced statement costs no allocation of the link's own and touches little memory the sending
// thread has touched. The sending thread owns the socket; it gathers the messages of a burst,
// probes included, into the buffer of one send. On an open link
// each message goes out behind its keep-alive probes (the integer 6, twice; once before a
// finish). A message that needs a link connects (at most once per reconnect time-out after a
// failed connect), and every new connection begins with the start-up message. A finish message
// goes only over a link that is already open, and closes it. Messages that cannot be sent are
// dropped: nothing ever reaches or blocks the traced program.
//
// What the link costs the traced program is mostly waking the sending thread and the sends, not
// the messages themselves. So the queueing thread wakes the sending thread only when it sleeps
// with an empty queue; the thread then lets messages gather for a short window (cut short when
// the ring is half full) and sends what gathered at once. A queueing thread never takes a lock
// or waits for anything the sending thread holds: its wake is a platform::Wakeup's.
//
// At the end the queue is still sent, but once the viewer fails to take a message (a send that
// timed out, a refused connect) the rest is dropped: a viewer that stopped reading holds the
// program's end up for one send time-out, not one per message.

#include "dataaccess/TraceViewerMessages.h"
#include "platform/Wakeup.h"

#include <array>
#include <atomic>
#include <chrono>
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
    // A message encoded beforehand.
    void WriteBytes(const std::string& Bytes) { FPending += Bytes; }
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

// The sending thread: waits for the client's wake and sends what is queued; on stop it empties
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

    // For tests and the benchmark: sends what is queued now, without the gathering window, and
    // waits until it has left.
    void WaitUntilSent();

    static constexpr std::size_t Slots = 1001;
    // The ring at half its size wakes the sending thread at once.
    static constexpr std::size_t HighWater = Slots / 2;
    // How long the sending thread lets messages gather after the first one wakes it.
    static constexpr std::chrono::milliseconds GatherWindow{20};
    // How long it sleeps with an empty queue before it looks again unwoken (no wake is lost;
    // this only bounds what an unforeseen one would cost).
    static constexpr std::chrono::milliseconds IdleLook{1000};

private:
    friend class TEventSendThread;

    enum class TSlotKind : std::uint8_t { Startup, Finish, Event };
    struct TSlot {
        TSlotKind Kind = TSlotKind::Event;
        std::string Bytes; // the message, encoded; empty for the start-up message
    };
    // A slot whose message was larger keeps no more than this once sent.
    static constexpr std::size_t SlotKeep = 4096;

    // Fills the next free slot (with `Fill(TSlot&)`, its bytes emptied), unless the ring is full
    // or the link is down for now.
    template <class FillSlot>
    void Queue(TSlotKind Kind, const FillSlot& Fill);
    // Wakes the sending thread from its sleep with an empty queue, or from the gathering window.
    void Wake();
    // The sending thread: sleeps while nothing is queued, then lets messages gather.
    void WaitForWork();
    bool LinkDownForNow() const;
    // The sending thread takes the settings of a later Configure before its next message.
    void TakePendingSettings();
    // The start-up message's bytes, built once and kept for the life of the client.
    const std::string& StartupBytes();
    // The sending thread's work: every queued message, in order. Returns false once told to
    // stop and nothing is left.
    bool SendQueued();
    void SendOne(const TSlot& Slot);
    void FlushGathered();
    static constexpr std::size_t GatherLimit = 64 * 1024;

    const std::uint32_t FProcessID;
    std::string FCaption = "DataAccess";
    std::string FStartup; // under FSettingsLock
    std::atomic<bool> FSettingsPending{false};
    // Published by the sending thread when it changes: whether the link is down and since
    // when. A message queued before the reconnect time-out has passed would only be dropped by
    // the thread, so it is dropped at once, without waking the thread.
    alignas(64) std::atomic<bool> FLinkDown{false};
    std::atomic<std::uint32_t> FLinkDownTick{0};
    std::atomic<std::uint32_t> FLinkRetryAfter{0};
    std::atomic<std::uint32_t> FLastEventNumber{0};

    std::array<TSlot, Slots> FRing;
    // The two ends of the ring live on cache lines of their own: the queueing thread and the
    // sending thread would otherwise pull one line back and forth with every message.
    // Next message to send; advanced by the sending thread, every few messages.
    alignas(64) std::atomic<std::size_t> FHead{0};
    // Next free slot, advanced under the add lock; and the head as the queueing side last read
    // it (it reads the real one again only when the ring looks full).
    alignas(64) std::atomic<std::size_t> FTail{0};
    std::size_t FHeadSeen = 0;
    std::mutex FAddLock;

    // The sending thread's sleeps: with an empty queue (FIdle set), and while messages gather
    // (until FHurry: a half-full ring, a stop, WaitUntilSent).
    alignas(64) std::atomic<bool> FIdle{false};
    std::atomic<bool> FHurry{false};
    platform::Wakeup FWakeUp;
    std::atomic<bool> FStop{false};
    // Ending, and the viewer did not take a message: the rest is dropped (sending thread only).
    bool FGivingUp = false;
    std::string FSenderStartup; // the sending thread's copy of the start-up message

    // WaitUntilSent's wait: the thread is between taking messages and their send.
    std::atomic<bool> FSending{false};
    std::mutex FDrainLock;
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
