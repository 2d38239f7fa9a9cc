#pragma once

#include "format/ContainerManager.h"

#include <QString>

namespace Keldra::Core {

// What new records can make of the header, measured without serialising the
// index: the encrypted index on the drive plus, for each record, the text it
// adds with every number at its longest. It can only overestimate; a replaced
// entry only makes room.
class IndexRoom
{
public:
    explicit IndexRoom(const ContainerDocument& document);

    // Index text a file of this path and size adds at most.
    qint64 fileCost(const QString& vaultPath, qint64 sourceSize) const;
    // Index text a folder record adds at most.
    qint64 folderCost(const QString& path) const;
    // The longest the header gets once the index grew by this much text.
    qint64 headerSize(qint64 addedIndexBytes) const;
    bool fits(qint64 addedIndexBytes) const;

private:
    qint64 m_encryptedIndex = 0;
    qint64 m_headerWithoutIndex = 0;
    qint64 m_emptyIndex = 0;
};

} // namespace Keldra::Core
