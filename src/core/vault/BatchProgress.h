#pragma once

#include "Error.h"

#include <QString>

#include <functional>

namespace Keldra::Core {

struct BatchProgress
{
    int fileNumber = 0;    // 1-based number of the file being worked on
    int fileCount = 0;     // files in the whole batch
    qint64 bytesDone = 0;  // plaintext bytes done in the whole batch
    qint64 bytesTotal = 0; // plaintext bytes of the whole batch
    QString currentName;   // vault path (import) or vault path being exported
};
using BatchProgressCallback = std::function<void(const BatchProgress&)>;

// A source or vault file the batch did not take, and why (shown in summaries).
struct SkippedItem
{
    enum class Why { Link, Special, Unreadable, InvalidName, Existing, Failed };
    QString path; // outside path (import) or vault path (export)
    Why why = Why::Failed;
    Error error; // the detail for Unreadable/Failed
};

// What to do with files that already exist at the destination.
enum class ExistingFiles { Replace, Skip };

} // namespace Keldra::Core
