#include "platform/oledb/provider.h"

namespace kv::oledb {

HRESULT createTdsDataSource(IUnknown*, REFIID, void** ppv) {
    *ppv = nullptr;
    return E_NOTIMPL;
}

HRESULT createTdsEnumerator(IUnknown*, REFIID, void** ppv) {
    *ppv = nullptr;
    return E_NOTIMPL;
}

} // namespace kv::oledb
