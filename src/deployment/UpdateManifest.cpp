#include "deployment/UpdateManifest.h"

#include "deployment/HttpGet.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QRegularExpression>
#include <QUrl>

#include <cmath>
#include <limits>

namespace Keldra::Deployment {

namespace {

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

Error parseUpdateManifest(const QByteArray& body, UpdateManifest* manifest)
{
    QByteArray json = body;
    if (json.startsWith("\xEF\xBB\xBF"))
        json.remove(0, 3);

    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        return Error(Error::Reason::ManifestMalformed, {parseError.errorString()},
                     QStringLiteral("JSON error at offset %1").arg(parseError.offset));
    }
    // A valid document that is not an object (an array, say) cannot be ours; the
    // parser has no error text for it, so it gets the not-ours reason.
    const QJsonObject object = document.object();
    if (!document.isObject() || object.value(QStringLiteral("schemaVersion")).toInt() != 1 ||
        object.value(QStringLiteral("app")).toString() != QStringLiteral("Keldra")) {
        return Error(Error::Reason::ManifestNotKeldra);
    }

    UpdateManifest result;
    result.version = object.value(QStringLiteral("version")).toString().trimmed();
    result.packageUrl = object.value(QStringLiteral("packageUrl")).toString().trimmed();
    result.sha256 = object.value(QStringLiteral("sha256")).toString().trimmed().toLower();
    if (result.version.isEmpty() || result.packageUrl.isEmpty() || result.sha256.isEmpty()) {
        return Error(Error::Reason::ManifestIncomplete);
    }
    // Never echoed: the text may be anything up to the manifest's size limit.
    if (!isUpdateVersion(result.version)) {
        return Error(Error::Reason::ManifestBadVersion);
    }
    if (!isAllowedUpdateUrl(QUrl(result.packageUrl, QUrl::StrictMode))) {
        return Error(Error::Reason::ManifestBadPackageUrl);
    }
    result.size = sizeFromJson(object.value(QStringLiteral("size")));
    result.releaseNotes = object.value(QStringLiteral("releaseNotes")).toString();
    result.signature = QByteArray::fromBase64(object.value(QStringLiteral("signature")).toString().toLatin1(),
                                              QByteArray::AbortOnBase64DecodingErrors);
    if (manifest)
        *manifest = result;
    return Error();
}

} // namespace Keldra::Deployment
