#pragma once

#include <QByteArray>
#include <QString>

namespace Keldra::Deployment {

// What the update server announces: the newest package and how to check it.
struct UpdateManifest
{
    QString version;
    QString packageUrl;
    QString sha256;   // lower-case hexadecimal
    qint64 size = -1; // -1: the server gave no size, so only the hash is compared
    QString releaseNotes;
};

// Reads a manifest body (a leading UTF-8 byte-order mark is tolerated). On refusal
// error receives the reason shown after "Manifesto invalido: ".
[[nodiscard]] bool parseUpdateManifest(const QByteArray& body, UpdateManifest* manifest, QString* error);

} // namespace Keldra::Deployment
