#include "cli/ReleaseCommands.h"

#include "cli/CliConsole.h"
#include "core/crypto/SecureMemory.h"
#include "deployment/BundleUpdater.h"
#include "deployment/HttpGet.h"
#include "deployment/UpdatePackage.h"
#include "deployment/UpdateSignature.h"
#include "texts/DeploymentErrorText.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

#include <cstdio>

using namespace Keldra::Deployment;

namespace {

const QByteArray kSecretKeyHeader = QByteArrayLiteral("keldra-update-secret-key");
constexpr qint64 kKeyFileByteLimit = 4096;
constexpr qint64 kHashChunkBytes = 1024 * 1024;

// Created owner-only before a byte of the secret is in it.
bool writeSecretKeyFile(const QString& path, const QByteArray& secretKey)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly) ||
        !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        return false;
    QByteArray text = kSecretKeyHeader + '\n' + secretKey.toHex() + '\n';
    const bool written = file.write(text) == text.size() && file.flush();
    Keldra::Core::wipe(text);
    return written;
}

bool writePublicKeyFile(const QString& path, const QByteArray& publicKey)
{
    QFile file(path);
    const QByteArray text = publicKey.toHex() + '\n';
    return file.open(QIODevice::WriteOnly | QIODevice::NewOnly) && file.write(text) == text.size() &&
           file.flush();
}

// Empty unless the file is a secret key written by keygen.
QByteArray readSecretKeyFile(const QString& path)
{
    QFile file(path);
    if (file.size() > kKeyFileByteLimit || !file.open(QIODevice::ReadOnly))
        return {};
    QByteArray text = file.read(kKeyFileByteLimit);
    QList<QByteArray> lines = text.split('\n');
    QByteArray secretKey;
    if (lines.size() >= 2 && lines.at(0).trimmed() == kSecretKeyHeader)
        secretKey = QByteArray::fromHex(lines.at(1).trimmed());
    Keldra::Core::wipe(text);
    for (QByteArray& line : lines)
        Keldra::Core::wipe(line);
    if (secretKey.size() != kUpdateSecretKeyBytes)
        Keldra::Core::wipe(secretKey);
    return secretKey;
}

bool hashFile(const QString& path, qint64* size, QString* sha256)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QCryptographicHash hash(QCryptographicHash::Sha256);
    *size = 0;
    while (!file.atEnd()) {
        const QByteArray chunk = file.read(kHashChunkBytes);
        if (chunk.isEmpty())
            return false;
        hash.addData(chunk);
        *size += chunk.size();
    }
    *sha256 = QString::fromLatin1(hash.result().toHex());
    return true;
}

// Beside the manifest on the update server, under the package's own file name.
QUrl defaultPackageUrl(const QString& packagePath)
{
    QUrl name;
    name.setPath(QFileInfo(packagePath).fileName());
    return QUrl(kUpdateManifestUrl).resolved(name);
}

} // namespace

int runKeygenCommand(const QStringList& args)
{
    if (args.size() != 1 || args.first().startsWith(QLatin1String("--")))
        return Keldra::Cli::ExitUsage;
    const QString secretPath = args.first();
    const QString publicPath = secretPath + QStringLiteral(".pub");
    for (const QString& path : {secretPath, publicPath}) {
        if (QFileInfo::exists(path) || QFileInfo(path).isSymLink())
            return Keldra::Cli::fail(QStringLiteral("O arquivo já existe: %1").arg(path));
    }
    QByteArray publicKey;
    QByteArray secretKey;
    const Keldra::Core::KeyWiper wiper(secretKey);
    if (!generateUpdateKeyPair(&publicKey, &secretKey))
        return Keldra::Cli::fail(QStringLiteral("Não foi possível gerar o par de chaves."));
    if (!writeSecretKeyFile(secretPath, secretKey)) {
        QFile::remove(secretPath);
        return Keldra::Cli::fail(
            QStringLiteral("Não foi possível gravar a chave secreta: %1").arg(secretPath));
    }
    if (!writePublicKeyFile(publicPath, publicKey))
        return Keldra::Cli::fail(
            QStringLiteral("Não foi possível gravar a chave pública: %1").arg(publicPath));
    Keldra::Cli::printOut(
        QStringLiteral("Chave secreta gravada em: %1 (guarde-a fora do repositório)").arg(secretPath));
    Keldra::Cli::printOut(QStringLiteral("Chave pública: %1").arg(QString::fromLatin1(publicKey.toHex())));
    return Keldra::Cli::ExitDone;
}

int runSignUpdateCommand(const QStringList& args)
{
    QStringList positional;
    QString urlArgument;
    for (int i = 0; i < args.size(); ++i) {
        if (args.at(i) == QLatin1String("--url")) {
            if (i + 1 >= args.size() || !urlArgument.isEmpty())
                return Keldra::Cli::ExitUsage;
            urlArgument = args.at(++i);
        } else if (args.at(i).startsWith(QLatin1String("--"))) {
            return Keldra::Cli::ExitUsage;
        } else {
            positional.append(args.at(i));
        }
    }
    if (positional.size() != 3)
        return Keldra::Cli::ExitUsage;
    const QString packagePath = positional.at(0);
    const QString version = positional.at(1);
    const QString keyPath = positional.at(2);

    if (!isUpdateVersion(version))
        return Keldra::Cli::fail(
            QStringLiteral("Versão inválida: use N.N.N (até quatro partes numéricas de até 9 dígitos)."));
    const QUrl packageUrl =
        urlArgument.isEmpty() ? defaultPackageUrl(packagePath) : QUrl(urlArgument, QUrl::StrictMode);
    if (!isAllowedUpdateUrl(packageUrl))
        return Keldra::Cli::fail(
            QStringLiteral("Endereço de pacote não permitido (somente https): %1").arg(urlArgument));

    qint64 size = 0;
    QString sha256;
    if (!hashFile(packagePath, &size, &sha256))
        return Keldra::Cli::fail(QStringLiteral("Não foi possível ler o pacote: %1").arg(packagePath));
    // What the drives would refuse is not worth signing.
    if (const Error refused = inspectZip(packagePath, nullptr); !refused.ok())
        return Keldra::Cli::fail(
            QStringLiteral("Pacote recusado: %1").arg(Keldra::Texts::DeploymentErrorText::message(refused)));

    QByteArray secretKey = readSecretKeyFile(keyPath);
    const Keldra::Core::KeyWiper wiper(secretKey);
    if (secretKey.isEmpty())
        return Keldra::Cli::fail(QStringLiteral("Chave secreta inválida: %1").arg(keyPath));
    const QByteArray signature = signUpdate(version, size, sha256, secretKey);
    if (signature.isEmpty())
        return Keldra::Cli::fail(QStringLiteral("Não foi possível assinar o pacote."));

    const QJsonObject manifest{
        {QStringLiteral("schemaVersion"), 1},
        {QStringLiteral("app"), QStringLiteral("Keldra")},
        {QStringLiteral("version"), version},
        {QStringLiteral("packageUrl"), packageUrl.toString()},
        {QStringLiteral("sha256"), sha256},
        {QStringLiteral("size"), static_cast<double>(size)},
        {QStringLiteral("publishedAt"), QDateTime::currentDateTimeUtc().toString(Qt::ISODate)},
        {QStringLiteral("releaseNotes"), QString()},
        {QStringLiteral("signature"), QString::fromLatin1(signature.toBase64())},
    };
    const QByteArray json = QJsonDocument(manifest).toJson(QJsonDocument::Indented);
    std::fwrite(json.constData(), 1, static_cast<size_t>(json.size()), stdout);
    return Keldra::Cli::ExitDone;
}
