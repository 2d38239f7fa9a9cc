#pragma once

#include "deployment/DeploymentError.h"

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
    QByteArray signature; // raw Ed25519 signature; empty when the manifest has none
};

// N.N.N or N.N.N.N, each part at most nine digits: what the question may show and
// the state file may record.
bool isUpdateVersion(const QString& version);

// Reads a manifest body (a leading UTF-8 byte-order mark is tolerated) and refuses
// malformed versions and package addresses other than https. The signature is only
// decoded here; verifyUpdateSignature checks it. manifest is set only on success.
[[nodiscard]] Error parseUpdateManifest(const QByteArray& body, UpdateManifest* manifest);

} // namespace Keldra::Deployment
