#include "UpdateManifest.h"

#include "HttpGet.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QRegularExpression>
#include <QUrl>

#include <cmath>
#include <limits>

namespace Keldra::Deployment {

namespace {

void setError(QString* error, const QString& message)
{
    if (error)
        *error = message;
}

// JSON numbers are doubles; anything beyond the qint64 range would be undefined to
// convert, so it becomes the largest size (which no download can match).
qint64 sizeFromJson(const QJsonValue& value)
{
    const double size = value.toDouble(-1);
    if (!std::isfinite(size))
        return -1;
    if (size >= 9223372036854775807.0)
        return std::numeric_limits<qint64>::max();
    if (size <= -9223372036854775807.0)
        return -1;
    return static_cast<qint64>(size);
}

} // namespace

bool isUpdateVersion(const QString& version)
{
    static const QRegularExpression pattern(
        QRegularExpression::anchoredPattern(QStringLiteral("[0-9]{1,9}(\\.[0-9]{1,9}){2,3}")));
    return pattern.match(version).hasMatch();
}

bool parseUpdateManifest(const QByteArray& body, UpdateManifest* manifest, QString* error)
{
    QByteArray json = body;
    if (json.startsWith("\xEF\xBB\xBF"))
        json.remove(0, 3);

    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        setError(error, parseError.errorString());
        return false;
    }
    // A valid document that is not an object (an array, say) cannot be ours; the
    // parser has no error text for it, so it gets the not-ours reason.
    const QJsonObject object = document.object();
    if (!document.isObject() || object.value(QStringLiteral("schemaVersion")).toInt() != 1 ||
        object.value(QStringLiteral("app")).toString() != QStringLiteral("Keldra")) {
        setError(error, QStringLiteral("Manifesto não pertence ao Keldra ou usa schema não suportado."));
        return false;
    }

    UpdateManifest result;
    result.version = object.value(QStringLiteral("version")).toString().trimmed();
    result.packageUrl = object.value(QStringLiteral("packageUrl")).toString().trimmed();
    result.sha256 = object.value(QStringLiteral("sha256")).toString().trimmed().toLower();
    if (result.version.isEmpty() || result.packageUrl.isEmpty() || result.sha256.isEmpty()) {
        setError(error, QStringLiteral("Manifesto sem version, packageUrl ou sha256."));
        return false;
    }
    // Never echoed: the text may be anything up to the manifest's size limit.
    if (!isUpdateVersion(result.version)) {
        setError(error, QStringLiteral("Manifesto com versão inválida."));
        return false;
    }
    if (!isAllowedUpdateUrl(QUrl(result.packageUrl, QUrl::StrictMode))) {
        setError(error, QStringLiteral("Manifesto com endereço de pacote não permitido (somente https)."));
        return false;
    }
    result.size = sizeFromJson(object.value(QStringLiteral("size")));
    result.releaseNotes = object.value(QStringLiteral("releaseNotes")).toString();
    result.signature = QByteArray::fromBase64(object.value(QStringLiteral("signature")).toString().toLatin1(),
                                              QByteArray::AbortOnBase64DecodingErrors);
    if (manifest)
        *manifest = result;
    return true;
}

} // namespace Keldra::Deployment
