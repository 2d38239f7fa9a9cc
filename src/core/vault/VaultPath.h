#pragma once

#include "format/SecureFileIndex.h"

#include <QString>

namespace Keldra::Core {

// The rules of a vault path, one home for the core, the window and keldra-cli:
// "/"-separated, relative to the vault root, no empty, "." or ".." component
// and no blanks around a component. Lookups ignore letter case, as every
// clash check of the vault does; the index itself compares exactly.
class VaultPath
{
public:
    // Canonical form, or an empty string when the path is refused.
    static QString normalized(const QString& path);
    // The folder holding a normalised path; empty for the root.
    static QString parent(const QString& path);
    // Last component of a normalised path.
    static QString baseName(const QString& path);
    // name inside directory (empty = root), normalised; empty when refused.
    static QString join(const QString& directory, const QString& name);
    // A single component the user may give to a file or folder: one that both
    // Linux and Windows can hold (see isPortable).
    static bool isValidName(const QString& name);
    // Whether a normalised path may be given to a new or renamed file or
    // folder: no component with < > : " | ? * \ or a control character, none
    // of Windows' device names (CON, PRN, AUX, NUL, COM1-9, LPT1-9, with or
    // without extension, any case), none ending in a dot or a space. Vaults
    // made elsewhere may hold other names; they are still found, exported and
    // renamed, only never made.
    static bool isPortable(const QString& path);
    // Case-insensitive; a folder is not inside itself.
    static bool isInside(const QString& path, const QString& directory);

    static bool hasFile(const SecureFileIndex& index, const QString& path);
    // The file at a normalised path: the one spelled exactly so, else the first
    // that matches ignoring case; null when none. Valid until the index changes.
    static const VaultFileEntry* findFile(const SecureFileIndex& index, const QString& path);
    static bool hasFolder(const SecureFileIndex& index, const QString& path);
    // Adds the missing ancestor folders of a normalised path, stamped with the current time.
    static void addMissingParents(SecureFileIndex* index, const QString& path);
};

} // namespace Keldra::Core
