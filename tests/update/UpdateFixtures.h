#pragma once

#include "TestFiles.h"

#include <QByteArray>
#include <QJsonObject>
#include <QMap>
#include <QString>
#include <QStringList>

namespace UpdateFixtures {

// Where the tests' servers publish the manifest, as the real update service does.
inline const QString kManifestPath = QStringLiteral("/000Updates/keldra/manifest.json");

// A prepared drive under root: launchers, a container, both bundles at version 1.0.0
// and, unless installedVersion is empty, a state file recording installedVersion.
void prepareDrive(const QString& root, const QString& installedVersion);

// An update package as the server publishes it, built with zip in workDir. Each file
// holds "<path> <version>" so the tests can tell old from new; omitted paths (relative
// to the package root) are left out.
QByteArray buildPackage(const QString& workDir, const QString& version, const QStringList& omitted = {});

// Every file (path -> content) and directory (path/ -> empty) below root.
QMap<QString, QByteArray> snapshot(const QString& root);

QString sha256Hex(const QByteArray& data);

// ZIP archive of everything below folder (paths relative to it), links kept as links.
QByteArray zipFolder(const QString& folder, const QString& zipPath);

// A complete manifest for package, served at packageUrl and signed with the test key.
QJsonObject manifest(const QString& version, const QString& packageUrl, const QByteArray& package);
QByteArray toJson(const QJsonObject& object);

using TestSupport::readFile;
using TestSupport::writeFile;

} // namespace UpdateFixtures
