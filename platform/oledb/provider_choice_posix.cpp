// POSIX systems: the portable provider answers under the classic provider's class id from the
// start (com_lite_posix.cpp), so there is no choice to make.
#include "platform/oledb/provider.h"

namespace kv::oledb {

ProviderChoice usePortableProviderWhereNoneInstalled() {
    return {};
}

} // namespace kv::oledb
