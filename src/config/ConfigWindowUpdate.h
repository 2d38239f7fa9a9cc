#pragma once

#include <QUrl>

namespace Keldra::Config {

// The manifest address that "Verificar atualizações" consults; tests point it at a
// server of their own.
QUrl updateManifestUrl();
void setUpdateManifestUrl(const QUrl& url);

} // namespace Keldra::Config
