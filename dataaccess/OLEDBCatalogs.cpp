// The catalogs schema rowset of an open session: the database list of the login form.
//
// The restriction on the catalog name is passed as an empty value, so every catalog comes back.

#include "dataaccess/OLEDBAccess.h"
#include "dataaccess/OLEDBRowsetText.h"

namespace kv::dataaccess {

namespace {
constexpr std::size_t kMaxNameChars = 128;
}

std::vector<std::string> TOLEDBConnection::GetCatalogNames(TComponent* Component) {
    kv::oledb::ComPtr<IDBSchemaRowset> schemas;
    if (!FSessionProperties)
        RaiseLayerError(E_UNEXPECTED, "Connection is not open", Component);
    CheckResult(FSessionProperties.as(IID_IDBSchemaRowset, schemas), Component);
    VARIANT restriction;
    VariantInit(&restriction);
    kv::oledb::ComPtr<IUnknown> unknown;
    CheckResult(schemas->GetRowset(nullptr, DBSCHEMA_CATALOGS, 1, &restriction, IID_IRowset, 0,
                                   nullptr, unknown.put()),
                Component);
    kv::oledb::ComPtr<IRowset> rowset;
    CheckResult(unknown.as(IID_IRowset, rowset), Component);
    std::vector<std::string> names = ReadRowsetTexts(
        rowset.get(), 1, [this, Component](HRESULT hr) { CheckResult(hr, Component); });
    for (std::string& name : names) {
        // Characters, not bytes: a UTF-8 name is cut between two characters.
        std::size_t i = 0;
        for (std::size_t n = 0; i < name.size() && n < kMaxNameChars; ++n) {
            ++i;
            while (i < name.size() && (static_cast<unsigned char>(name[i]) & 0xC0) == 0x80)
                ++i;
        }
        name.resize(i);
    }
    return names;
}

} // namespace kv::dataaccess
