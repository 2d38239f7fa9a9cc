#pragma once

#include <QUrl>

#include <functional>

namespace Keldra::Config {

// The manifest address that "Verificar atualizações" consults; tests point it at a
// server of their own.
QUrl updateManifestUrl();
void setUpdateManifestUrl(const QUrl& url);
// Replaces its "may the application be running?" check; empty restores the real one.
void setUpdateRunningProbe(std::function<bool()> probe);

} // namespace Keldra::Config
