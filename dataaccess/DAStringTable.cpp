// The string table of the data-access layer. Entries 0..10 and 100..710 hold the label sets
// of the connect dialog: caption, user name, password, server, connect and cancel button, then
// database, port, protocol, provider and data source (the Polish block has only the first six).
// The Russian block sits at 0, not at 800.

#include "dataaccess/DAStringTable.h"

#include <map>

namespace kv::dataaccess {

namespace {

const std::map<int, const char*>& table() {
    static const std::map<int, const char*> entries{
        {0, "Соединение"},
        {1, "Имя"},
        {2, "Пароль"},
        {3, "Сервер"},
        {4, "Соединить"},
        {5, "Отмена"},
        {6, "База данных"},
        {7, "Порт"},
        {8, "Протокол"},
        {9, "Провайдер"},
        {10, "Источник данных"},
        {100, "Connect"},
        {101, "User Name"},
        {102, "Password"},
        {103, "Server"},
        {104, "Connect"},
        {105, "Cancel"},
        {106, "Database"},
        {107, "Port"},
        {108, "Protocol"},
        {109, "Provider"},
        {110, "Data source"},
        {200, "Ouverture de session"},
        {201, "Nom utilisateur"},
        {202, "Mot de passe"},
        {203, "Serveur"},
        {204, "Ok"},
        {205, "Annuler"},
        {206, "Base de données"},
        {207, "Port"},
        {208, "Protocole"},
        {209, "Fournisseur"},
        {210, "Source de données"},
        {300, "Anmeldung"},
        {301, "Benutzername"},
        {302, "Kennwort"},
        {303, "Host-Zeichenfolge"},
        {304, "Ok"},
        {305, "Abbrechen"},
        {306, "Datenbank"},
        {307, "Port"},
        {308, "Protokoll"},
        {309, "Provider"},
        {310, "Datenquelle"},
        {400, "Connessione"},
        {401, "Nome Utente"},
        {402, "Parola d'ordine"},
        {403, "Stringa Conn.Host"},
        {404, "Ok"},
        {405, "Elimina"},
        {406, "Database"},
        {407, "Porta"},
        {408, "Protocollo"},
        {409, "Provider"},
        {410, "Origine dati"},
        {500, "Rejestracja"},
        {501, "Uiytkowhik"},
        {502, "Hasio"},
        {503, "Opis hosta"},
        {504, "Ok"},
        {505, "Anuluj"},
        {600, "Iniciar Sessão"},
        {601, "Nome do Usuário"},
        {602, "Senha"},
        {603, "Servidor"},
        {604, "Ok"},
        {605, "Cancelar"},
        {606, "Banco de dados"},
        {607, "Porta"},
        {608, "Protocolo"},
        {609, "Provedor"},
        {610, "Fonte de dados"},
        {700, "Conectar"},
        {701, "Usuario"},
        {702, "Clave"},
        {703, "Cadena Conexiyn"},
        {704, "Ok"},
        {705, "Cancelar"},
        {706, "Base de datos"},
        {707, "Puerto"},
        {708, "Protocolo"},
        {709, "Proveedor"},
        {710, "Origen de datos"},
    };
    return entries;
}

} // namespace

std::string LoadResString(int Ident) {
    const auto it = table().find(Ident);
    return it == table().end() ? std::string() : std::string(it->second);
}

} // namespace kv::dataaccess
