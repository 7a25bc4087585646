#include "traceviewer/trace_texts.h"

#include "platform/TcpStream.h"

namespace kv::traceviewer {

std::string socketErrorSentence(platform::ErrorCode code) {
    namespace wsa = platform::wsa;
    switch (code) {
    case wsa::AccessDenied:
        return "bu kullanıcının bu bağlantı noktasını açma izni yok (1024'ün altındaki "
               "noktalar yönetici yetkisi ister; Windows'ta nokta ayrılmış da olabilir)";
    case wsa::AddressInUse:
        return "bu bağlantı noktası başka bir program tarafından kullanılıyor";
    case wsa::ConnectionReset:
        return "bağlantı karşı taraftan sıfırlandı";
    case wsa::ConnectionAborted:
        return "bağlantı kesildi";
    case wsa::ConnectionRefused:
        return "bağlantı reddedildi";
    case wsa::TimedOut:
        return "işlem zaman aşımına uğradı";
    default:
        return "Windows Sockets hatası";
    }
}

std::string listeningNote(std::uint16_t port) {
    return "127.0.0.1:" + std::to_string(port) + " dinleniyor";
}

std::string cannotListenNote(std::uint16_t port, const platform::Error& error) {
    return "127.0.0.1:" + std::to_string(port) +
           " dinlenemiyor: " + socketErrorSentence(error.code) + " (hata " +
           std::to_string(error.code) + ")";
}

std::string listenWayOut(bool inWindow) {
    return std::string(inWindow ? "Başka bir bağlantı noktası yazıp \"Dinle\" düğmesine basın "
                                  "ya da kelvora-trace'i --port N ile başlatın."
                                : "kelvora-trace'i başka bir bağlantı noktasıyla başlatın: "
                                  "--port N.") +
           " İzlenen programda da aynı numara verilmeli: SQL izleme bileşeninin "
           "TraceViewerOptions.Port değeri (varsayılanı 1000).";
}

std::string connectedNote(int client) {
    return "İstemci " + std::to_string(client) + " bağlandı";
}

std::string closedNote(int client, const platform::Error& error) {
    if (error.code == 0)
        return "İstemci " + std::to_string(client) + " bağlantıyı kapattı";
    return "İstemci " + std::to_string(client) + ": " + socketErrorSentence(error.code) +
           " (hata " + std::to_string(error.code) + ")";
}

std::string unreadableNote(int client, const dataaccess::TDecodeFault& fault) {
    using dataaccess::TDecodeFault;
    std::string why;
    if (fault.Kind == TDecodeFault::dfUnknownType) {
        why = "bilinmeyen ileti türü " + std::to_string(fault.Value);
    } else {
        static const char* const counted[] = {"metin uzunluğu", "parametre sayısı",
                                              "çağrı yığını sayısı"};
        why =
            std::string("olanaksız ") + counted[fault.Counted] + " " + std::to_string(fault.Value);
    }
    return "İstemci " + std::to_string(client) + ": akış okunamıyor (" + why +
           "); bağlantı kapatıldı";
}

std::string programName(const std::string& exePath) {
    const auto slash = exePath.find_last_of("/\\");
    return slash == std::string::npos ? exePath : exePath.substr(slash + 1);
}

std::string kindText(TraceRecord::Kind kind) {
    switch (kind) {
    case TraceRecord::Kind::Startup:
        return "başladı";
    case TraceRecord::Kind::Finish:
        return "bitti";
    case TraceRecord::Kind::Event:
        return "olay";
    case TraceRecord::Kind::UnpairedEnd:
        return "bitiş";
    }
    return {};
}

std::string rowsText(const TraceRecord& record) {
    const bool executed =
        record.eventType == 10 && !record.failed &&
        (record.kind == TraceRecord::Kind::Event || record.kind == TraceRecord::Kind::UnpairedEnd);
    return executed && record.rows >= 0 ? std::to_string(record.rows) : std::string();
}

std::string paramsLine(const TraceRecord& record) {
    std::string line;
    for (const auto& p : record.params)
        line += (line.empty() ? "" : ", ") + p.Name + "=" + p.Value;
    return oneLine(line);
}

std::string oneLine(const std::string& text) {
    std::string line = text;
    for (auto& c : line)
        if (c == '\r' || c == '\n' || c == '\t')
            c = ' ';
    return line;
}

std::string detailText(int client, std::uint32_t processId, const std::string& exePath,
                       const TraceRecord& r) {
    std::string out = "Program: " + (exePath.empty() ? std::string("?") : exePath) + " (süreç " +
                      std::to_string(processId) + ", istemci " + std::to_string(client) + ")\n";
    out += "Tür: " + kindText(r.kind);
    if (r.eventNumber != 0)
        out += " (no " + std::to_string(r.eventNumber) + ")";
    // The description of a statement repeats the statement and its parameters: its first line
    // is enough here, the statement follows whole.
    std::string description = r.description;
    if (!r.sql.empty())
        description = description.substr(0, description.find_first_of("\r\n"));
    while (!description.empty() &&
           (description.back() == '\r' || description.back() == '\n' || description.back() == ' '))
        description.pop_back();
    out += "\nAçıklama: " + description + "\n";
    if (r.kind == TraceRecord::Kind::Startup || r.kind == TraceRecord::Kind::Finish)
        return out;
    if (!r.objectName.empty()) {
        out += "Nesne: " + r.objectName;
        if (!r.objectType.empty())
            out += " (" + r.objectType + ")";
        if (!r.parentName.empty())
            out += ", bağlantısı: " + r.parentName;
        out += "\n";
    }
    if (r.kind == TraceRecord::Kind::Event)
        out += "Süre: " + std::to_string(r.duration) + " ms\n";
    if (const std::string rows = rowsText(r); !rows.empty())
        out += "Satır: " + rows + "\n";
    if (r.failed)
        out += "Hata:\n" + r.errorText + "\n";
    if (!r.sql.empty())
        out += "Komut:\n" + r.sql + "\n";
    if (!r.params.empty()) {
        out += "Parametreler:\n";
        for (const auto& p : r.params)
            out += "  :" + p.Name + " (" + p.DataType + (p.Direction.empty() ? "" : ", ") +
                   p.Direction + ") = " + p.Value + "\n";
    }
    return out;
}

} // namespace kv::traceviewer
