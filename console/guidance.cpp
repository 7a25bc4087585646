#include "console/guidance.h"

#include <algorithm>
#include <cctype>
#include <iterator>

namespace kv::console {

namespace {

// The sentences are kept short enough for the status bar of the 290-pixel window; a test
// measures each one in the window's font.
std::vector<GuidanceRow> makeTable() {
    return {
        // Reaching the server.
        {"17", 17, 0, false, "Sunucuya ulaşılamadı. Servisi başlatıp bağlanın."},
        {"233", 233, 0, false, "Sunucu bağlantıyı kesti. Servisi yeniden başlatın."},
        {"18456", 18456, 0, false, "Sunucu girişi reddetti. Teknik servise başvurun."},
        {"18452", 18452, 0, false, "Sunucu SQL girişine kapalı. Teknik servise başvurun."},
        {"4060", 4060, 0, false, "Giriş veritabanı açılamadı. Data Bağla'ya basın."},
        // The disk under the database.
        {"823", 823, 0, false, "Disk okunamadı. Diski denetleyip Onar'a basın."},
        {"824", 824, 0, false, "Diskten bozuk veri okundu. Diski denetleyin."},
        {"1105", 1105, 0, false, "Veritabanı büyüyemiyor. Diskte yer açın."},
        {"9002", 9002, 0, false, "İşlem günlüğü doldu. Yer açıp Onar'a basın."},
        {"5149", 5149, 0, false, "Dosya büyütülemedi. Diskte yer açın."},
        {"5123/112", 5123, 112, false, "Dosya yazılamadı: disk dolu. Yer açın."},
        {"5123/5", 5123, 5, false, "Dosya yazılamadı: izin yok. İzinleri denetleyin."},
        {"5123/3", 5123, 3, false, "Klasör yok. Yolu denetleyin."},
        {"5123", 5123, 0, false, "Dosya yazılamadı. Diski ve izinleri denetleyin."},
        // The product's files.
        {"5120/2", 5120, 2, false, "Veritabanı dosyası yok. Dosyayı yerine koyun."},
        {"5120/3", 5120, 3, false, "Kelvora\\Data klasörü yok. Klasörü geri koyun."},
        {"5120/5", 5120, 5, false, "Dosyaya erişim yok. Dosya izinlerini denetleyin."},
        {"5120/32", 5120, 32, false, "Dosya başka programda açık. Programı kapatın."},
        {"5120", 5120, 0, false, "Veritabanı dosyası açılamadı. Dosyayı denetleyin."},
        {"5105", 5105, 0, false, "Veritabanı dosyası açılamadı. Dosyayı denetleyin."},
        {"5171", 5171, 0, false, "Bu dosya bir MDF dosyası değil. Doğrusunu koyun."},
        {"5172", 5172, 0, false, "Veritabanı dosyası bozuk. Teknik servise başvurun."},
        {"5173", 5173, 0, false, "Log dosyası bu veriye ait değil. Onar'a basın."},
        {"5113", 5113, 0, false, "Log dosyası kullanılamıyor. Onar'a basın."},
        {"9001", 9001, 0, false, "Log dosyası kullanılamıyor. Onar'a basın."},
        {"9004", 9004, 0, false, "Log dosyası bozuk. Onar'a basın."},
        {"948", 948, 0, false, "Dosya yeni bir SQL sürümünden. Servise başvurun."},
        {"926", 926, 0, false, "Veritabanı şüpheli durumda. Onar'a basın."},
        {"5170", 5170, 0, false, "Aynı adda dosya var. Eski geçici dosyayı kaldırın."},
        {"5133", 5133, 0, false, "Klasör bulunamadı. Yolu denetleyin."},
        {"5025", 5025, 0, false, "Eski log dosyası yerinde. Teknik servise başvurun."},
        // The database on the server.
        {"1801", 1801, 0, false, "Veritabanı zaten bağlı. Önce Data Kopar'a basın."},
        {"2520", 2520, 0, false, "Veritabanı sunucuda yok. Data Bağla'ya basın."},
        {"911", 911, 0, false, "Veritabanı sunucuda yok. Data Bağla'ya basın."},
        {"15010", 15010, 0, false, "Veritabanı sunucuda yok. Data Bağla'ya basın."},
        {"3702", 3702, 0, false, "Veritabanı kullanımda. Kelvora'yı kapatıp deneyin."},
        {"3703", 3703, 0, false, "Veritabanı kullanımda. Kelvora'yı kapatıp deneyin."},
        {"5064", 5064, 0, false, "Veritabanı kullanımda. Kelvora'yı kapatıp deneyin."},
        {"5070", 5070, 0, false, "Veritabanı kullanımda. Kelvora'yı kapatıp deneyin."},
        {"7919", 7919, 0, false, "Tek kullanıcı moduna geçilemedi. Yeniden deneyin."},
        {"5011", 5011, 0, false, "Veritabanı değiştirilemedi. Teknik servise başvurun."},
        // The rebuild's statements on a server that does not take them.
        {"2526", 2526, 0, false, "Sunucu bu komutu tanımıyor. Teknik servise başvurun."},
        {"259", 259, 0, false, "Sunucu katalog değişikliği yapmaz. Servise başvurun."},
        {"5023", 5023, 0, false, "Log yeniden kurulamadı. Teknik servise başvurun."},
        // Damage found by the check.
        {"8928", 8928, 0, false, "Veritabanında bozuk sayfa var. Onarım gerekiyor."},
        {"8939", 8939, 0, false, "Veritabanında bozuk sayfa var. Onarım gerekiyor."},
        {"8946", 8946, 0, false, "Veritabanında bozuk sayfa var. Onarım gerekiyor."},
        {"8909", 8909, 0, false, "Veritabanında bozuk sayfa var. Onarım gerekiyor."},
        // Closing errors: they sum up the errors before them.
        {"1813", 1813, 0, true, "Veritabanı açılamadı. Dosyaları denetleyin."},
        {"1802", 1802, 0, true, "Veritabanı oluşturulamadı. Diski denetleyin."},
        {"945", 945, 0, true, "Veritabanı dosyalarına ulaşılamadı. Denetleyin."},
        {"5069", 5069, 0, true, "Veritabanı ayarı değişmedi. Yeniden deneyin."},
        // The check before the rebuild.
        {"preflight.disk", 0, 0, false, "Diskte yer açıp Onar'a yeniden basın."},
        {"preflight.held", 0, 0, false, "Dosyayı açan programı kapatıp Onar'a basın."},
        {"preflight.version", 0, 0, false, "Sunucuya yeniden bağlanıp Onar'a basın."},
        {"preflight.scratch", 0, 0, false, "Eski geçici dosyayı kaldırıp Onar'a basın."},
    };
}

bool startsWithAt(std::string_view text, std::size_t at, std::string_view word) {
    if (at + word.size() > text.size())
        return false;
    for (std::size_t i = 0; i < word.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[at + i])) != word[i])
            return false;
    return true;
}

} // namespace

const std::vector<GuidanceRow>& guidanceTable() {
    static const std::vector<GuidanceRow> table = makeTable();
    return table;
}

int quotedOsError(std::string_view text) {
    // "Operating system error 32(...)" (5120), "operating system error 112(...)" (5123, 5149),
    // "returned error 1117(...)" (823).
    for (const char* lead : {"system error ", "returned error "}) {
        for (std::size_t at = 0; at < text.size(); ++at) {
            if (!startsWithAt(text, at, lead))
                continue;
            std::size_t digit = at + std::string_view(lead).size();
            int number = 0;
            bool any = false;
            while (digit < text.size() && text[digit] >= '0' && text[digit] <= '9' &&
                   number < 100000) {
                number = number * 10 + (text[digit] - '0');
                any = true;
                ++digit;
            }
            if (any)
                return number;
        }
    }
    return 0;
}

std::optional<Guidance> guidanceForMessage(const ServerMessage& message) {
    const auto& table = guidanceTable();
    const GuidanceRow* any = nullptr;
    const int osError = quotedOsError(message.text);
    for (const auto& row : table) {
        if (row.number != message.number || row.number == 0)
            continue;
        if (row.osError != 0 && row.osError == osError)
            return Guidance{row.key, row.text};
        if (row.osError == 0 && any == nullptr)
            any = &row;
    }
    if (any == nullptr)
        return std::nullopt;
    return Guidance{any->key, any->text};
}

std::optional<Guidance> guidanceFor(const std::vector<ServerMessage>& all) {
    // Informational messages that came with the errors (a repair's summary lines, a changed
    // database context) are no trouble of their own.
    std::vector<ServerMessage> messages;
    std::copy_if(all.begin(), all.end(), std::back_inserter(messages),
                 [](const ServerMessage& message) { return message.severity > 10; });
    if (messages.empty())
        return std::nullopt;
    std::optional<Guidance> closing;
    for (const auto& message : messages) {
        auto found = guidanceForMessage(message);
        if (!found)
            continue;
        const auto& table = guidanceTable();
        const bool isClosing = std::any_of(table.begin(), table.end(), [&](const GuidanceRow& r) {
            return r.key == found->key && r.closing;
        });
        if (!isClosing)
            return found;
        if (!closing)
            closing = std::move(found);
    }
    if (closing)
        return closing;
    return Guidance{"other", "Sunucu hatası " + std::to_string(messages.front().number) +
                                 ". Günlüğü servise gönderin."};
}

bool reportsDamage(int number) {
    switch (number) {
    case 2511: // keys out of order
    case 2533: // a page allocated but not seen
    case 8909: // a wrong page id in the page header
    case 8928: // a page that could not be processed
    case 8939: // a page that fails its tests
    case 8945: // an index that will be rebuilt
    case 8946: // a damaged allocation page header
    case 8976: // a page not seen in the scan
    case 8978: // a page missing its reference
        return true;
    default:
        return false;
    }
}

std::optional<Guidance> guidanceForRepairStep(const std::vector<ServerMessage>& messages) {
    std::vector<ServerMessage> others;
    std::copy_if(messages.begin(), messages.end(), std::back_inserter(others),
                 [](const ServerMessage& message) { return !reportsDamage(message.number); });
    return guidanceFor(others);
}

Guidance guidanceFor(Refusal refusal) {
    const char* key = "preflight.disk";
    switch (refusal) {
    case Refusal::DiskSpace:
        key = "preflight.disk";
        break;
    case Refusal::FileHeld:
        key = "preflight.held";
        break;
    case Refusal::ServerVersion:
        key = "preflight.version";
        break;
    case Refusal::ScratchName:
        key = "preflight.scratch";
        break;
    }
    for (const auto& row : guidanceTable())
        if (row.key == key)
            return Guidance{row.key, row.text};
    return Guidance{key, {}};
}

} // namespace kv::console
