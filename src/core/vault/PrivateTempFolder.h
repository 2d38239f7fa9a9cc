#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace Keldra::Core {

// The folder on the local disk where this user's editing copies, their
// records and the compaction's copy live. The system's temporary folder is
// shared with every other user, who may have planted links at any name we
// could pick there; so nothing is written there directly, only inside a
// folder that is ours alone: $XDG_RUNTIME_DIR/keldra when that is set and
// private, else "<temp>/keldra-<uid>", else a fresh "<temp>/keldra-<uid>-XXXXXX".
// On Windows the temporary folder belongs to the user already: "<temp>/Keldra".
namespace PrivateTempFolder {

// Creates the folder when needed and checks it; empty when none can be made.
[[nodiscard]] QString base(const QString& tempRoot);
// The folders of this user that earlier sessions may have used, existing and checked.
[[nodiscard]] QStringList bases(const QString& tempRoot);
// A real folder (not a link) owned by this user that nobody else can enter or write.
[[nodiscard]] bool isPrivate(const QString& path);
// Reads at most `maxBytes` of a regular file of this user without following
// a link nor waiting on a pipe; false for anything else.
[[nodiscard]] bool readOwnFile(const QString& path, qint64 maxBytes, QByteArray* out);
// Replaces `path` in one step by a new file holding `bytes`, readable by the
// owner only. A link at `path` is replaced, never written through.
[[nodiscard]] bool replaceFile(const QString& path, const QByteArray& bytes);

} // namespace PrivateTempFolder

} // namespace Keldra::Core
