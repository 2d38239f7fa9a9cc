#include "SampleContainers.h"

namespace TestSupport {

Keldra::Core::ContainerDocument sampleDocument(const QByteArray& encryptedIndex)
{
    Keldra::Core::ContainerDocument document;
    document.crypto.kdf = QStringLiteral("Argon2id");
    document.crypto.cipher = QStringLiteral("XChaCha20-Poly1305");
    document.crypto.kdfIterations = 0;
    document.crypto.salt = QByteArray(16, '\0');
    document.crypto.nonce = QByteArray(24, '\x01');
    document.crypto.payloadNonce = QByteArray(24, '\x02');
    document.crypto.encryptedMasterKey = QByteArray(80, '\x03');
    document.encryptedIndex = encryptedIndex;
    return document;
}

QByteArray lengthLine(qint64 headerLength)
{
    return QByteArray::number(headerLength).rightJustified(20, '0') + '\n';
}

QByteArray rawContainer(const QByteArray& header, const QByteArray& line, const QByteArray& magic,
                        qint64 regionSize, char fill)
{
    QByteArray out = magic + line + header;
    out.append(QByteArray(qMax<qint64>(0, regionSize - header.size()), fill));
    out.truncate(magic.size() + line.size() + regionSize);
    return out;
}

QByteArray rawContainer(const QByteArray& header, char fill)
{
    return rawContainer(header, lengthLine(header.size()), Keldra::Core::ContainerFormat::Magic,
                        Keldra::Core::ContainerFormat::HeaderRegionSize, fill);
}

} // namespace TestSupport
