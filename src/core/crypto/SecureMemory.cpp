#include "crypto/SecureMemory.h"

#include <sodium.h>

namespace Keldra::Core {

void wipe(QByteArray& bytes)
{
    // Not through data(): on a shared buffer it would detach and wipe only the new copy.
    if (!bytes.isEmpty() && bytes.data_ptr().isMutable())
        sodium_memzero(const_cast<char*>(bytes.constData()), static_cast<size_t>(bytes.size()));
    bytes.clear();
}

} // namespace Keldra::Core
