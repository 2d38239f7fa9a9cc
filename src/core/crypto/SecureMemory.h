#pragma once

#include <QByteArray>

namespace Keldra::Core {

// Overwrites the bytes in place (sodium_memzero), then empties the array.
// Copies that share the buffer are wiped too, which is what we want for keys
// and passwords. Bytes the array does not own (a literal) are only released.
void wipe(QByteArray& bytes);

// Wipes a buffer when it leaves scope, whatever the return path.
class KeyWiper
{
public:
    explicit KeyWiper(QByteArray& bytes) : m_bytes(bytes) {}
    ~KeyWiper() { wipe(m_bytes); }
    KeyWiper(const KeyWiper&) = delete;
    KeyWiper& operator=(const KeyWiper&) = delete;

private:
    QByteArray& m_bytes;
};

} // namespace Keldra::Core
