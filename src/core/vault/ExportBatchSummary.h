#pragma once

#include "vault/BatchProgress.h"

#include <QList>

namespace Keldra::Core {

// What a tree export did.
struct ExportBatchSummary
{
    int exported = 0;
    int foldersCreated = 0;
    qint64 bytes = 0;
    // Existing (policy Skip), InvalidName (a name this system cannot hold)
    // or Failed with its error.
    QList<SkippedItem> skipped;
};

} // namespace Keldra::Core
