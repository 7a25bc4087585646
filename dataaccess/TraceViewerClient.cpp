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

std::uint32_t tickCount() {
    return platform::SystemClock().tickCount();
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
    std::string bytes;
    bytes.swap(FPending);
    if (!FStream)
        throw ESocketError("Socket error " + std::to_string(platform::wsa::NotConnected));
    if (auto sent = FStream->sendAll(bytes.data(), bytes.size()); !sent) {
        FStream.reset();
        throw ESocketError("Socket error " + std::to_string(sent.code()));
    }
}

void TSocketMessagePacker::WriteInteger(std::int32_t Value) {
    const auto v = static_cast<std::uint32_t>(Value);
    for (int shift = 24; shift >= 0; shift -= 8)
        FPending.push_back(static_cast<char>((v >> shift) & 0xFF));
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
    {
        std::lock_guard lock(FClient.FSignalLock);
        FClient.FStop = true;
        FClient.FSignalled = true;
    }
    FClient.FSignal.notify_all();
    if (FThread.joinable())
        FThread.join();
}

void TEventSendThread::Run() {
    for (;;) {
        {
            std::unique_lock lock(FClient.FSignalLock);
            FClient.FSignal.wait(lock, [&] { return FClient.FSignalled; });
            FClient.FSignalled = false; // the signal resets itself
        }
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

TTraceViewerClient::TTraceViewerClient() = default;

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

std::shared_ptr<const TStartupMessage> TTraceViewerClient::StartupMessage() {
    // Built once and kept for the life of the client.
    std::lock_guard lock(FSettingsLock);
    if (!FStartup)
        FStartup = std::make_shared<TStartupMessage>(platform::currentProcessId(),
                                                     FCaption + " monitoring is started",
                                                     ApplicationExeName());
    return FStartup;
}

void TTraceViewerClient::Start() {
    Queue(StartupMessage());
}

void TTraceViewerClient::Finish() {
    std::string caption;
    {
        std::lock_guard lock(FSettingsLock);
        caption = FCaption;
    }
    Queue(std::make_shared<TEventMessage>(platform::currentProcessId(), 1,
                                          caption + " monitoring is finished"));
}

std::uint32_t TTraceViewerClient::EventStart(TMonitorEvent& Event) {
    Event.EventNumber = ++FLastEventNumber;
    if (LinkDownForNow())
        return Event.EventNumber;
    Queue(std::make_shared<TEventStartMessage>(platform::currentProcessId(), Event, tickCount()));
    return Event.EventNumber;
}

void TTraceViewerClient::EventEnd(TMonitorEvent& Event) {
    if (Event.EventNumber == 0)
        Event.EventNumber = FLastEventNumber.load();
    if (LinkDownForNow())
        return;
    Queue(std::make_shared<TEventEndMessage>(platform::currentProcessId(), Event, tickCount()));
}

bool TTraceViewerClient::LinkDownForNow() const {
    return !FSettingsPending.load() && FLinkDown.load() &&
           tickCount() - FLinkDownTick.load() < FLinkRetryAfter.load();
}

void TTraceViewerClient::Queue(std::shared_ptr<const TMonitorMessage> Message) {
    if (LinkDownForNow())
        return;
    {
        std::lock_guard lock(FAddLock);
        const std::size_t tail = FTail.load();
        const std::size_t next = tail + 1 == Slots ? 0 : tail + 1;
        if (next == FHead.load())
            return; // full: the message is dropped
        FRing[tail] = std::move(Message);
        FTail.store(next);
        if (!FThread)
            FThread = std::make_unique<TEventSendThread>(*this);
    }
    {
        std::lock_guard lock(FSignalLock);
        FSignalled = true;
    }
    FSignal.notify_all();
}

bool TTraceViewerClient::SendQueued() {
    while (FHead.load() != FTail.load()) {
        // Settings of a later activation count from the next message on.
        TakePendingSettings();
        const std::size_t head = FHead.load();
        std::shared_ptr<const TMonitorMessage> message = std::move(FRing[head]);
        SendOne(message);
        FHead.store(head + 1 == Slots ? 0 : head + 1);
    }
    FlushGathered();
    std::lock_guard lock(FSignalLock);
    FDrained.notify_all();
    return !(FStop && FHead.load() == FTail.load());
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
    }
}

void TTraceViewerClient::SendOne(const std::shared_ptr<const TMonitorMessage>& Message) {
    const auto startup = StartupMessage();
    const auto* event = dynamic_cast<const TEventMessage*>(Message.get());
    const bool finish =
        Message->MessageType() == mtEvent && event != nullptr && event->EventType() == 1;
    if (FPacker.Connected()) {
        // An open link: the keep-alive probes (two before a message, one before a finish) go
        // out with the message, in the drain's one send.
        FPacker.WriteInteger(mtProbe);
        if (!finish)
            FPacker.WriteInteger(mtProbe);
        Message->Write(FPacker);
        if (finish) {
            FlushGathered();
            FPacker.Close();
        } else if (FPacker.Gathered() > GatherLimit) {
            FlushGathered();
        }
    } else if (!finish && FPacker.Connect()) {
        // A new connection begins with the start-up message. A finish never opens one.
        if (Message.get() != startup.get())
            startup->Write(FPacker);
        Message->Write(FPacker);
    }
    FLinkRetryAfter = static_cast<std::uint32_t>(FPacker.ReconnectTimeout());
    FLinkDownTick = FPacker.FailedTick();
    FLinkDown = !FPacker.Connected() && FPacker.Failed();
}

void TTraceViewerClient::WaitUntilSent() {
    std::unique_lock lock(FSignalLock);
    FDrained.wait_for(lock, std::chrono::seconds(10), [&] { return FHead.load() == FTail.load(); });
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
        TMonitorEvent e = Event.Monitor->ViewerEventOf(Event);
        if (Event.Start)
            return client.EventStart(e);
        e.EventNumber = MessageID;
        client.EventEnd(e);
        return e.EventNumber;
    };
}

} // namespace kv::dataaccess
