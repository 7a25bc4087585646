#include "dataaccess/TraceViewerClient.h"

#include "dataaccess/DASQLMonitor.h"
#include "dataaccess/OLEDBAccess.h"
#include "platform/Clock.h"
#include "platform/TcpStream.h"
#include "toolkit/SysUtils.h"

namespace kv::dataaccess {

namespace {

class ESocketError : public Exception {
public:
    using Exception::Exception;
};

// Every time the link keeps is in milliseconds (message times, the reconnect time-out), and
// some are taken for each traced statement: the coarse count, as GetTickCount's, will do.
std::uint32_t tickCount() {
    return platform::coarseTickCount();
}

} // namespace

// ---------------------------------------------------------------------------------------------
// The socket writer

TSocketMessagePacker::TSocketMessagePacker() = default;
TSocketMessagePacker::~TSocketMessagePacker() = default;

void TSocketMessagePacker::Configure(std::string Host, int Port, int ReconnectTimeout,
                                     int SendTimeout) {
    // Another viewer is another chance: a failed connect to the old one does not hold it back.
    if (Host != FHost || Port != FPort)
        FFailed = false;
    FHost = std::move(Host);
    FPort = Port;
    FReconnectTimeout = ReconnectTimeout;
    FSendTimeout = SendTimeout;
}

bool TSocketMessagePacker::Connect() {
    if (FStream)
        return true;
    if (FFailed && tickCount() - FFailedTick < static_cast<std::uint32_t>(FReconnectTimeout))
        return false;
    const std::string host = FHost.empty() ? std::string("localhost") : FHost;
    const int port = FPort == 0 ? 1000 : FPort;
    // The socket's send time-out is fixed at one second, whatever SendTimeout says.
    auto stream = platform::connectTcp(host, static_cast<std::uint16_t>(port), 1000);
    if (!stream) {
        FFailed = true;
        FFailedTick = tickCount();
        return false;
    }
    FStream = std::move(stream).value();
    FFailed = false;
    return true;
}

void TSocketMessagePacker::Close() {
    FStream.reset();
    FPending.clear();
}

void TSocketMessagePacker::Flush() {
    if (!FStream) {
        FPending.clear();
        throw ESocketError("Socket error " + std::to_string(platform::wsa::NotConnected));
    }
    const auto sent = FStream->sendAll(FPending.data(), FPending.size());
    // The buffer keeps its memory for the next send (a fresh one costs page faults each time),
    // up to a little more than what one send gathers.
    if (FPending.capacity() > 4 * 64 * 1024)
        std::string().swap(FPending);
    else
        FPending.clear();
    if (!sent) {
        FStream.reset();
        throw ESocketError("Socket error " + std::to_string(sent.code()));
    }
}

void TSocketMessagePacker::WriteInteger(std::int32_t Value) {
    const auto v = static_cast<std::uint32_t>(Value);
    const char bytes[4] = {static_cast<char>(v >> 24), static_cast<char>(v >> 16),
                           static_cast<char>(v >> 8), static_cast<char>(v)};
    FPending.append(bytes, 4);
}

void TSocketMessagePacker::WriteString(const std::string& Value) {
    WriteInteger(static_cast<std::int32_t>(Value.size()));
    FPending += Value;
}

// ---------------------------------------------------------------------------------------------
// The sending thread

TEventSendThread::TEventSendThread(TTraceViewerClient& Client)
    : FClient(Client), FThread([this] { Run(); }) {}

TEventSendThread::~TEventSendThread() {
    FClient.FStop = true;
    FClient.Wake();
    if (FThread.joinable())
        FThread.join();
}

void TEventSendThread::Run() {
    for (;;) {
        FClient.WaitForWork();
        if (!FClient.SendQueued())
            return;
    }
}

// ---------------------------------------------------------------------------------------------
// The client

TTraceViewerClient& TTraceViewerClient::Get() {
    static TTraceViewerClient client;
    return client;
}

TTraceViewerClient::TTraceViewerClient() : FProcessID(platform::currentProcessId()) {}

TTraceViewerClient::~TTraceViewerClient() {
    FThread.reset();
    FPacker.Close();
}

void TTraceViewerClient::Configure(const std::string& Caption, const std::string& Host, int Port,
                                   int ReconnectTimeout, int SendTimeout) {
    // The packer belongs to the sending thread: it takes the settings before its next message.
    std::lock_guard lock(FSettingsLock);
    FCaption = Caption;
    FPendingSettings = {Host, Port, ReconnectTimeout, SendTimeout, true};
    // Nothing is dropped early until the sending thread has tried the new settings.
    FSettingsPending = true;
    FLinkDown = false;
}

void TTraceViewerClient::TakePendingSettings() {
    if (!FSettingsPending.load())
        return;
    std::lock_guard lock(FSettingsLock);
    if (FPendingSettings.Pending) {
        FPacker.Configure(FPendingSettings.Host, FPendingSettings.Port,
                          FPendingSettings.ReconnectTimeout, FPendingSettings.SendTimeout);
        FPendingSettings.Pending = false;
    }
    FSettingsPending = false;
}

const std::string& TTraceViewerClient::StartupBytes() {
    std::lock_guard lock(FSettingsLock);
    if (FStartup.empty()) {
        TBufferMessagePacker packer(FStartup);
        WriteStartupMessage(packer, FProcessID, FCaption + " monitoring is started",
                            ApplicationExeName());
    }
    return FStartup;
}

bool TTraceViewerClient::LinkDownForNow() const {
    return !FSettingsPending.load() && FLinkDown.load() &&
           tickCount() - FLinkDownTick.load() < FLinkRetryAfter.load();
}

template <class FillSlot>
void TTraceViewerClient::Queue(TSlotKind Kind, const FillSlot& Fill) {
    if (LinkDownForNow())
        return;
    std::size_t waiting = 0;
    {
        std::lock_guard lock(FAddLock);
        const std::size_t tail = FTail.load(std::memory_order_relaxed);
        const std::size_t next = tail + 1 == Slots ? 0 : tail + 1;
        if (next == FHeadSeen)
            FHeadSeen = FHead.load();
        if (next == FHeadSeen)
            return; // full: the message is dropped
        const std::size_t head = FHeadSeen;
        // The slot is free: the sending thread is done with it until the tail moves on.
        TSlot& slot = FRing[tail];
        slot.Kind = Kind;
        slot.Bytes.clear();
        Fill(slot);
        FTail.store(next);
        waiting = (next + Slots - head) % Slots;
        if (waiting >= HighWater) {
            // Counted from the head as last seen: look again before hurrying the thread.
            FHeadSeen = FHead.load();
            waiting = (next + Slots - FHeadSeen) % Slots;
        }
        if (!FThread)
            FThread = std::make_unique<TEventSendThread>(*this);
    }
    // The tail is stored before FIdle is read, and the sending thread sets FIdle before it looks
    // at the tail: one of the two sees the other, so a message never waits for a thread that
    // sleeps without knowing of it.
    bool wake = FIdle.load();
    if (waiting >= HighWater && !FHurry.exchange(true))
        wake = true;
    if (wake)
        Wake();
}

void TTraceViewerClient::Start() {
    StartupBytes();
    Queue(TSlotKind::Startup, [](TSlot&) {});
}

void TTraceViewerClient::Finish() {
    std::string caption;
    {
        std::lock_guard lock(FSettingsLock);
        caption = FCaption;
    }
    Queue(TSlotKind::Finish, [&](TSlot& slot) {
        TBufferMessagePacker packer(slot.Bytes);
        WriteFinishMessage(packer, FProcessID, caption + " monitoring is finished");
    });
}

std::uint32_t TTraceViewerClient::EventStart(TMonitorEvent& Event) {
    Event.EventNumber = ++FLastEventNumber;
    Queue(TSlotKind::Event, [&](TSlot& slot) {
        EncodeEventStartMessage(slot.Bytes, FProcessID, Event, tickCount());
    });
    return Event.EventNumber;
}

void TTraceViewerClient::EventEnd(TMonitorEvent& Event) {
    if (Event.EventNumber == 0)
        Event.EventNumber = FLastEventNumber.load();
    Queue(TSlotKind::Event,
          [&](TSlot& slot) { EncodeEventEndMessage(slot.Bytes, FProcessID, Event, tickCount()); });
}

void TTraceViewerClient::Wake() {
    FWakeUp.wake();
}

void TTraceViewerClient::WaitForWork() {
    using std::chrono::steady_clock;
    const auto ms = [](steady_clock::duration d) {
        return static_cast<std::uint32_t>(std::chrono::ceil<std::chrono::milliseconds>(d).count());
    };
    FIdle = true;
    // Each look comes after its ticket: a message or a flush after the look wakes the sleep. A
    // flush asked for with nothing queued ends the sleep too (WaitUntilSent).
    for (;;) {
        const std::uint32_t ticket = FWakeUp.ticket();
        if (FHead.load() != FTail.load() || FStop.load() || FHurry.load())
            break;
        FWakeUp.sleep(ticket, ms(IdleLook));
    }
    FIdle = false;
    // The first message of a burst woke the thread: let the rest of the burst join it, so that
    // one send carries them all. A half-full ring, a stop or a flush cuts the window short.
    const auto end = steady_clock::now() + GatherWindow;
    for (;;) {
        const std::uint32_t ticket = FWakeUp.ticket();
        const auto left = end - steady_clock::now();
        if (FHurry.load() || FStop.load() || left <= steady_clock::duration::zero())
            break;
        FWakeUp.sleep(ticket, ms(left));
    }
    FHurry = false;
}

bool TTraceViewerClient::SendQueued() {
    FSending = true;
    if (FSenderStartup.empty())
        FSenderStartup = StartupBytes();
    std::size_t head = FHead.load();
    for (std::size_t tail = FTail.load(); head != tail; tail = FTail.load()) {
        for (std::size_t taken = 1; head != tail; ++taken) {
            // Settings of a later activation count from the next message on.
            TakePendingSettings();
            TSlot& slot = FRing[head];
            if (!FGivingUp)
                SendOne(slot);
            // A large message is not kept for the next one of this slot.
            if (slot.Bytes.capacity() > SlotKeep)
                std::string().swap(slot.Bytes);
            head = head + 1 == Slots ? 0 : head + 1;
            // The slots go back to the queueing side every so often, not one by one.
            if (taken % 64 == 0)
                FHead.store(head);
        }
        FHead.store(head);
    }
    FlushGathered();
    {
        std::lock_guard lock(FDrainLock);
        FSending = false;
    }
    FDrained.notify_all();
    return !(FStop.load() && FHead.load() == FTail.load());
}

// What the messages of one drain gathered goes out in one send; a failure closes the link and
// loses them, and the next message reconnects with the start-up message.
void TTraceViewerClient::FlushGathered() {
    if (!FPacker.Connected() || FPacker.Gathered() == 0)
        return;
    try {
        FPacker.Flush();
    } catch (const ESocketError&) {
        FPacker.Close();
        FGivingUp = FStop.load();
    }
}

void TTraceViewerClient::SendOne(const TSlot& Slot) {
    const bool finish = Slot.Kind == TSlotKind::Finish;
    const auto write = [&] {
        FPacker.WriteBytes(Slot.Kind == TSlotKind::Startup ? FSenderStartup : Slot.Bytes);
    };
    if (FPacker.Connected()) {
        // An open link: the keep-alive probes (two before a message, one before a finish) go
        // out with the message, in the drain's one send.
        FPacker.WriteInteger(mtProbe);
        if (!finish)
            FPacker.WriteInteger(mtProbe);
        write();
        if (finish) {
            FlushGathered();
            FPacker.Close();
        } else if (FPacker.Gathered() > GatherLimit) {
            FlushGathered();
        }
    } else if (!finish && FPacker.Connect()) {
        // A new connection begins with the start-up message. A finish never opens one.
        if (Slot.Kind != TSlotKind::Startup)
            FPacker.WriteBytes(FSenderStartup);
        write();
    } else if (!finish) {
        FGivingUp = FStop.load();
    }
    const bool down = !FPacker.Connected() && FPacker.Failed();
    if (down != FLinkDown.load() || (down && FPacker.FailedTick() != FLinkDownTick.load())) {
        FLinkRetryAfter = static_cast<std::uint32_t>(FPacker.ReconnectTimeout());
        FLinkDownTick = FPacker.FailedTick();
        FLinkDown = down;
    }
}

void TTraceViewerClient::WaitUntilSent() {
    FHurry = true;
    Wake();
    std::unique_lock lock(FDrainLock);
    FDrained.wait_for(lock, std::chrono::seconds(10),
                      [&] { return FHead.load() == FTail.load() && !FSending.load(); });
}

// ---------------------------------------------------------------------------------------------
// The monitor's viewer outlets

void InstallTraceViewerOutlets(TMonitorOutlets& Outlets) {
    Outlets.ViewerStart = [](TCustomDASQLMonitor* Monitor) {
        auto& client = TTraceViewerClient::Get();
        const TTraceViewerOptions& o = *Monitor->TraceViewerOptions();
        client.Configure(Monitor->Caption(), o.Host, o.Port, o.ReconnectTimeout, o.SendTimeout);
        client.Start();
    };
    Outlets.ViewerFinish = [](TCustomDASQLMonitor*) { TTraceViewerClient::Get().Finish(); };
    Outlets.ViewerSend = [](const TTraceViewerEvent& Event, std::uint32_t MessageID) {
        auto& client = TTraceViewerClient::Get();
        // Nobody to send to for now: only the numbering goes on.
        if (client.Dropping())
            return Event.Start ? client.NextEventNumber() : MessageID;
        // One event per thread, kept: its strings keep their memory from one event to the next.
        thread_local TMonitorEvent e;
        Event.Monitor->ViewerEventOf(Event, e);
        if (Event.Start)
            return client.EventStart(e);
        e.EventNumber = MessageID;
        client.EventEnd(e);
        return e.EventNumber;
    };
}

} // namespace kv::dataaccess
