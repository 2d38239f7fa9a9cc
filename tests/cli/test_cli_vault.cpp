// keldra-cli as scripts use it: the built program, passwords on standard
// input, exit statuses and output. The container it writes is also read
// back here by hand (header JSON, key unwrap, index, blocks) so the format
// is checked apart from VaultManager.

#include "ForgedIndex.h"
#include "FullIndex.h"
#include "SmallDrive.h"

#include "core/crypto/CryptoManager.h"
#include "core/format/ContainerManager.h"
#include "core/storage/ContainerLock.h"
#include "core/vault/VaultManager.h"

#include "SampleContainers.h"
#include "TestFiles.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#ifdef Q_OS_UNIX
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

using Keldra::Core::CryptoManager;
using Keldra::Core::KeyDerivationParams;
using namespace TestSupport;

namespace {

struct Run
{
    int code = -1;
    QByteArray out;
    QByteArray err;
};

const QByteArray Password = QByteArrayLiteral("senha de teste longa");

// Text the program writes on Windows ends its lines with CR LF. A name never puts a raw CR in
// the output (it is escaped), so nothing is lost.
QByteArray unixLines(QByteArray text)
{
#ifdef Q_OS_WIN
    text.replace("\r\n", "\n");
#endif
    return text;
}

QByteArray sha256Hex(const QByteArray& bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

} // namespace

class CliVaultTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void usageErrors();
    void refusedCreationLeavesFilesAlone();
    void commandsRoundTrip();
    void containerReadableWithoutVaultManager();
    void wrongPasswordAndPasswordChange();
    void verifyReportsDamagedFiles();
    void legacyContainerIsReadable();
    void failuresSayWhy();
    void exportNeverReplacesTheVault();
    void severalPathsAtOnce();
    void fullIndexAndFullDriveSaySo();
    void namesReachTheTerminalEscaped();
    void passwordLeavesTheRestOfTheInputUnread();
    void passwordLinesMayEndInCrLf();
    void twoProgramsNeverLoseAFile();
    void importReadsLikeCopyingATree();

private:
    Run cli(const QStringList& args, const QByteArray& input = QByteArray());
    QString path(const QString& name) const { return m_dir.filePath(name); }

    QTemporaryDir m_dir;
    QString m_program;
    QString m_container;
};

Run CliVaultTest::cli(const QStringList& args, const QByteArray& input)
{
    QProcess process;
    process.setWorkingDirectory(m_dir.path());
    process.start(m_program, args);
    Run run;
    if (!process.waitForStarted(10000))
        return run;
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(300000))
        return run;
    run.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = unixLines(process.readAllStandardOutput());
    run.err = unixLines(process.readAllStandardError());
    return run;
}

void CliVaultTest::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_program = QStringLiteral(KELDRA_BIN_DIR "/keldra-cli" KELDRA_EXE_SUFFIX);
    QVERIFY2(QFileInfo::exists(m_program), qPrintable(m_program));
    m_container = path(QStringLiteral("keldra.kldr"));
    const Run created = cli({QStringLiteral("create"), m_container}, Password + '\n');
    QCOMPARE(created.code, 0);
    QVERIFY(created.err.isEmpty());
    QCOMPARE(QFileInfo(m_container).size(), qint64(8388636));
}

void CliVaultTest::usageErrors()
{
    const Run none = cli({});
    QCOMPARE(none.code, 2);
    QVERIFY(none.err.contains("Uso: keldra-cli"));
    QCOMPARE(cli({QStringLiteral("unknown"), m_container}).code, 2);
    QCOMPARE(cli({QStringLiteral("ls")}).code, 2);
    QCOMPARE(cli({QStringLiteral("import"), m_container, QStringLiteral("only-source")}).code, 2);
    QCOMPARE(cli({QStringLiteral("rm"), m_container}).code, 2);
    QCOMPARE(cli({QStringLiteral("mv"), m_container, QStringLiteral("a")}).code, 2);
    QCOMPARE(cli({QStringLiteral("export"), m_container, QStringLiteral("a")}).code, 2);
    // Nothing was asked for: a usage error never touches the container.
    QCOMPARE(QFileInfo(m_container).size(), qint64(8388636));
}

void CliVaultTest::refusedCreationLeavesFilesAlone()
{
    const QString fresh = path(QStringLiteral("short.kldr"));
    const Run tooShort = cli({QStringLiteral("create"), fresh}, "123456789\n");
    QCOMPARE(tooShort.code, 1);
    QCOMPARE(QString::fromUtf8(tooShort.err).trimmed(),
             QStringLiteral("Use uma senha com pelo menos 10 caracteres para criar o cofre."));
    QVERIFY(!QFileInfo::exists(fresh));
    QCOMPARE(cli({QStringLiteral("create"), fresh}, QByteArray()).code, 1);
    QVERIFY(!QFileInfo::exists(fresh));

    // An existing file is never replaced by a new vault.
    const QByteArray before = readFile(m_container);
    const Run over = cli({QStringLiteral("create"), m_container}, Password + '\n');
    QCOMPARE(over.code, 1);
    QCOMPARE(QString::fromUtf8(over.err).trimmed(),
             QStringLiteral("Já existe um cofre neste arquivo. Escolha outro nome ou apague-o antes pelo "
                            "gerenciador de arquivos."));
    QCOMPARE(readFile(m_container), before);

    const Run missing = cli({QStringLiteral("ls"), path(QStringLiteral("none.kldr"))}, Password + '\n');
    QCOMPARE(missing.code, 1);
    QCOMPARE(missing.err.count('\n'), 1); // one clear message
}

void CliVaultTest::commandsRoundTrip()
{
    const QByteArray small = "conteúdo pequeno\n";
    QByteArray larger(300000, Qt::Uninitialized);
    for (int i = 0; i < larger.size(); ++i)
        larger[i] = static_cast<char>((static_cast<quint32>(i) * 7919u) >> 3);
    QVERIFY(writeFile(path(QStringLiteral("small.txt")), small));
    QVERIFY(writeFile(path(QStringLiteral("larger.bin")), larger));
    const QByteArray pw = Password + '\n';

    QCOMPARE(cli({QStringLiteral("import"), m_container, QStringLiteral("small.txt"),
                  QStringLiteral("Docs/nota.txt")},
                 pw)
                 .code,
             0);
    QCOMPARE(cli({QStringLiteral("import"), m_container, QStringLiteral("larger.bin"),
                  QStringLiteral("dados.bin")},
                 pw)
                 .code,
             0);
    QCOMPARE(cli({QStringLiteral("mkdir"), m_container, QStringLiteral("Arquivo/2024")}, pw).code, 0);
    QCOMPARE(
        cli({QStringLiteral("mv"), m_container, QStringLiteral("dados.bin"), QStringLiteral("Arquivo/2024")},
            pw)
            .code,
        0);
    QCOMPARE(cli({QStringLiteral("rename"), m_container, QStringLiteral("docs/NOTA.txt"),
                  QStringLiteral("Docs/lembrete.txt")},
                 pw)
                 .code,
             0);
    QCOMPARE(
        cli({QStringLiteral("renamedir"), m_container, QStringLiteral("Arquivo"), QStringLiteral("Antigo")},
            pw)
            .code,
        0);
    QCOMPARE(cli({QStringLiteral("mkdir"), m_container, QStringLiteral("Vazia")}, pw).code, 0);
    QCOMPARE(cli({QStringLiteral("rmdir"), m_container, QStringLiteral("Vazia")}, pw).code, 0);

    const Run refusedRmdir = cli({QStringLiteral("rmdir"), m_container, QStringLiteral("Antigo")}, pw);
    QCOMPARE(refusedRmdir.code, 1);
    QCOMPARE(QString::fromUtf8(refusedRmdir.err).trimmed(),
             QStringLiteral("A pasta não está vazia ou não pode ser excluída."));

    const Run listed = cli({QStringLiteral("ls"), m_container}, pw);
    QCOMPARE(listed.code, 0);
    const QByteArray expected = "d Docs\n"
                                "d Antigo\n"
                                "d Antigo/2024\n"
                                "f " +
                                QByteArray::number(small.size()) + ' ' + sha256Hex(small) +
                                " Docs/lembrete.txt\n" + "f " + QByteArray::number(larger.size()) + ' ' +
                                sha256Hex(larger) + " Antigo/2024/dados.bin\n";
    QCOMPARE(listed.out, expected);

    const QString out = path(QStringLiteral("exported.bin"));
    QCOMPARE(
        cli({QStringLiteral("export"), m_container, QStringLiteral("antigo/2024/DADOS.bin"), out}, pw).code,
        0);
    QCOMPARE(readFile(out), larger);
    const Run missing =
        cli({QStringLiteral("export"), m_container, QStringLiteral("nada.txt"), path(QStringLiteral("nada"))},
            pw);
    QCOMPARE(missing.code, 1);
    QVERIFY(!QFileInfo::exists(path(QStringLiteral("nada"))));

    // Delete, compact: the container shrinks and what is left still verifies.
    QCOMPARE(cli({QStringLiteral("rm"), m_container, QStringLiteral("Docs/lembrete.txt")}, pw).code, 0);
    // verify says how much a compaction would give back.
    const Run deadSpace = cli({QStringLiteral("verify"), m_container}, pw);
    QCOMPARE(deadSpace.code, 0);
    QVERIFY2(
        QString::fromUtf8(deadSpace.out).startsWith(QStringLiteral("Espaço recuperável com \"compact\": ")),
        deadSpace.out.constData());
    const qint64 before = QFileInfo(m_container).size();
    QCOMPARE(cli({QStringLiteral("compact"), m_container}, pw).code, 0);
    QCOMPARE(QFileInfo(m_container).size(), before - (small.size() + 16));
    const Run verified = cli({QStringLiteral("verify"), m_container}, pw);
    QCOMPARE(verified.code, 0);
    QCOMPARE(cli({QStringLiteral("ls"), m_container}, pw).out.count("\nf "), 1);
    QCOMPARE(verified.out, QByteArray("Nenhum problema encontrado em 1 arquivo.\n"));
}

void CliVaultTest::containerReadableWithoutVaultManager()
{
    // Read the container kept by the previous case straight from its bytes.
    const QByteArray bytes = readFile(m_container);
    QVERIFY(bytes.startsWith("KELDRA3"));
    QCOMPARE(bytes.at(27), '\n');
    const qint64 headerLength = bytes.mid(7, 20).toLongLong();
    QVERIFY(headerLength > 0);
    const QJsonObject header =
        QJsonDocument::fromJson(bytes.mid(28, static_cast<int>(headerLength))).object();
    QCOMPARE(header.value(QStringLiteral("magic")).toString(), QStringLiteral("KELDRA"));
    QCOMPARE(header.value(QStringLiteral("formatVersion")).toInt(), 3);
    const QJsonObject crypto = header.value(QStringLiteral("crypto")).toObject();
    const auto bin = [&](const char* key) {
        return QByteArray::fromBase64(crypto.value(QLatin1String(key)).toString().toLatin1());
    };
    QCOMPARE(crypto.value(QStringLiteral("authTag")).toString(), QString());

    CryptoManager cryptoManager;
    KeyDerivationParams params;
    params.algorithm = crypto.value(QStringLiteral("kdf")).toString();
    params.salt = bin("salt");
    params.iterations = crypto.value(QStringLiteral("kdfIterations")).toInt();
    const QByteArray derived = cryptoManager.deriveKey(Password, params);
    const QByteArray cipherName = crypto.value(QStringLiteral("cipher")).toString().toUtf8();
    const QByteArray masterData =
        "KELDRA|master-key|3|" + cipherName + "|Argon2id|0|" + bin("salt") + '|' + bin("nonce");
    const QByteArray master =
        cryptoManager.decrypt(bin("encryptedMasterKey"), derived.left(32), bin("nonce"), masterData);
    QCOMPARE(master.size(), 64);

    const QByteArray indexData = "KELDRA|index|3|" + cipherName + '|' + bin("payloadNonce");
    const QByteArray indexJson = cryptoManager.decrypt(
        QByteArray::fromBase64(header.value(QStringLiteral("encryptedIndex")).toString().toLatin1()),
        master.left(32), bin("payloadNonce"), indexData);
    const QJsonArray files =
        QJsonDocument::fromJson(indexJson).object().value(QStringLiteral("files")).toArray();
    QCOMPARE(files.size(), 1);
    const QJsonObject file = files.first().toObject();
    QCOMPARE(file.value(QStringLiteral("vaultPath")).toString(), QStringLiteral("Antigo/2024/dados.bin"));

    QByteArray plain;
    qint64 offset = 8388636;
    const QJsonArray blocks = file.value(QStringLiteral("blocks")).toArray();
    for (const QJsonValue& value : blocks) {
        const QJsonObject block = value.toObject();
        QCOMPARE(block.value(QStringLiteral("offset")).toInteger(), offset); // packed by compaction
        const qint64 size = block.value(QStringLiteral("encryptedSize")).toInteger();
        plain += cryptoManager.decrypt(
            bytes.mid(static_cast<int>(offset), static_cast<int>(size)), master.left(32),
            QByteArray::fromBase64(block.value(QStringLiteral("nonce")).toString().toLatin1()),
            "KELDRA|file-block|3");
        offset += size;
    }
    QCOMPARE(offset, qint64(bytes.size()));
    QCOMPARE(plain, readFile(path(QStringLiteral("larger.bin"))));
    QCOMPARE(file.value(QStringLiteral("sha256")).toString().toLatin1(), sha256Hex(plain));
}

void CliVaultTest::wrongPasswordAndPasswordChange()
{
    const QString copy = path(QStringLiteral("passwd.kldr"));
    QVERIFY(QFile::copy(m_container, copy));

    const Run wrong = cli({QStringLiteral("ls"), copy}, "senha errada demais\n");
    QCOMPARE(wrong.code, 1);
    QVERIFY(wrong.out.isEmpty());
    QCOMPARE(QString::fromUtf8(wrong.err).trimmed(),
             QStringLiteral(
                 "Não foi possível desbloquear o cofre. Verifique a senha ou se o container foi alterado."));

    const QByteArray before = readFile(copy);
    const Run shortNew = cli({QStringLiteral("passwd"), copy}, Password + "\ncurta\n");
    QCOMPARE(shortNew.code, 1);
    QCOMPARE(QString::fromUtf8(shortNew.err).trimmed(),
             QStringLiteral("Use uma nova senha com pelo menos 10 caracteres."));
    // A change counts characters: five two-byte letters are too short.
    QCOMPARE(cli({QStringLiteral("passwd"), copy}, Password + "\nááááá\n").code, 1);
    QCOMPARE(readFile(copy), before);

    const QByteArray newPassword = "çãé nova senha";
    QCOMPARE(cli({QStringLiteral("passwd"), copy}, Password + '\n' + newPassword + '\n').code, 0);
    QCOMPARE(readFile(copy).mid(8388636), before.mid(8388636));
    QCOMPARE(cli({QStringLiteral("ls"), copy}, Password + '\n').code, 1);
    const Run listed = cli({QStringLiteral("ls"), copy}, newPassword + '\n');
    QCOMPARE(listed.code, 0);
    QVERIFY(listed.out.contains(" Antigo/2024/dados.bin\n"));
}

void CliVaultTest::verifyReportsDamagedFiles()
{
    const QString copy = path(QStringLiteral("damaged.kldr"));
    QVERIFY(QFile::copy(m_container, copy));
    QFile file(copy);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.seek(8388636 + 100));
    char byte = 0;
    QCOMPARE(file.read(&byte, 1), qint64(1));
    byte = static_cast<char>(byte ^ 0x01);
    QVERIFY(file.seek(8388636 + 100));
    QCOMPARE(file.write(&byte, 1), qint64(1));
    file.close();

    const Run verified = cli({QStringLiteral("verify"), copy}, Password + '\n');
    QCOMPARE(verified.code, 1);
    QCOMPARE(verified.out, QByteArray("Antigo/2024/dados.bin\n"));
    QCOMPARE(verified.err.count('\n'), 1);
}

void CliVaultTest::legacyContainerIsReadable()
{
    // A header of an older writer: PBKDF2 instead of Argon2id.
    CryptoManager crypto;
    const QByteArray salt = crypto.generateSalt(16);
    const QByteArray nonce = crypto.generateNonce(24);
    const QByteArray payloadNonce = crypto.generateNonce(24);
    const QByteArray master = crypto.generateSalt(64);
    const int iterations = 3000;
    KeyDerivationParams params;
    params.algorithm = QStringLiteral("PBKDF2");
    params.salt = salt;
    params.iterations = iterations;
    const QByteArray derived = crypto.deriveKey(Password, params);
    const QByteArray wrapped =
        crypto.encrypt(master, derived.left(32), nonce,
                       "KELDRA|master-key|3|XChaCha20-Poly1305|PBKDF2|3000|" + salt + '|' + nonce);
    const QByteArray content = "arquivo antigo";
    const QByteArray blockNonce = crypto.generateNonce(24);
    const QByteArray block = crypto.encrypt(content, master.left(32), blockNonce, "KELDRA|file-block|3");
    const QByteArray indexJson =
        QByteArrayLiteral("{\"directories\":[],\"files\":[{\"blocks\":[{\"encryptedSize\":") +
        QByteArray::number(block.size()) + ",\"nonce\":\"" + blockNonce.toBase64() +
        "\",\"offset\":8388636,\"plainSize\":" + QByteArray::number(content.size()) +
        "}],\"id\":\"4b8e2d9c-0a6f-4c39-9d0e-3c1f5a7b2e11\","
        "\"lastModifiedUtc\":\"2020-01-02T03:04:05.006Z\",\"sha256\":\"" +
        sha256Hex(content) + "\",\"sizeBytes\":" + QByteArray::number(content.size()) +
        ",\"vaultPath\":\"velho.txt\"}],\"formatVersion\":1}";
    const QByteArray encryptedIndex = crypto.encrypt(indexJson, master.left(32), payloadNonce,
                                                     "KELDRA|index|3|XChaCha20-Poly1305|" + payloadNonce);
    QJsonObject cryptoObject{{QStringLiteral("kdf"), QStringLiteral("PBKDF2")},
                             {QStringLiteral("cipher"), QStringLiteral("XChaCha20-Poly1305")},
                             {QStringLiteral("kdfIterations"), iterations},
                             {QStringLiteral("salt"), QString::fromLatin1(salt.toBase64())},
                             {QStringLiteral("nonce"), QString::fromLatin1(nonce.toBase64())},
                             {QStringLiteral("payloadNonce"), QString::fromLatin1(payloadNonce.toBase64())},
                             {QStringLiteral("authTag"), QString()},
                             {QStringLiteral("encryptedMasterKey"), QString::fromLatin1(wrapped.toBase64())}};
    const QByteArray header = QJsonDocument(QJsonObject{{QStringLiteral("magic"), QStringLiteral("KELDRA")},
                                                        {QStringLiteral("formatVersion"), 3},
                                                        {QStringLiteral("crypto"), cryptoObject},
                                                        {QStringLiteral("encryptedIndex"),
                                                         QString::fromLatin1(encryptedIndex.toBase64())}})
                                  .toJson(QJsonDocument::Compact);
    const QByteArray container = rawContainer(header) + block;
    const QString legacy = path(QStringLiteral("legacy.kldr"));
    QVERIFY(writeFile(legacy, container));

    const Run listed = cli({QStringLiteral("ls"), legacy}, Password + '\n');
    QCOMPARE(listed.code, 0);
    QCOMPARE(listed.out,
             "f " + QByteArray::number(content.size()) + ' ' + sha256Hex(content) + " velho.txt\n");
    QCOMPARE(cli({QStringLiteral("verify"), legacy}, Password + '\n').code, 0);
    const QString out = path(QStringLiteral("velho.txt"));
    QCOMPARE(cli({QStringLiteral("export"), legacy, QStringLiteral("velho.txt"), out}, Password + '\n').code,
             0);
    QCOMPARE(readFile(out), content);
}

void CliVaultTest::failuresSayWhy()
{
    const QByteArray pw = Password + '\n';
    const auto message = [](const Run& run) { return QString::fromUtf8(run.err).trimmed(); };

    // Missing files and folders and clashes are the vault's answers, told apart.
    const Run missing = cli({QStringLiteral("rm"), m_container, QStringLiteral("nada.txt")}, pw);
    QCOMPARE(missing.code, 1);
    QCOMPARE(message(missing), QStringLiteral("Arquivo não encontrado no cofre: nada.txt"));
    const Run nowhere = cli({QStringLiteral("mv"), m_container, QStringLiteral("Antigo/2024/dados.bin"),
                             QStringLiteral("Nenhuma")},
                            pw);
    QCOMPARE(nowhere.code, 1);
    QCOMPARE(message(nowhere), QStringLiteral("Pasta não encontrada no cofre: Nenhuma"));
    const Run clash = cli({QStringLiteral("mkdir"), m_container, QStringLiteral("antigo")}, pw);
    QCOMPARE(clash.code, 1);
    QCOMPARE(message(clash), QStringLiteral("Já existe um item com esse nome no cofre: antigo"));

    // The right password on a container whose index was altered.
    const QString damaged = path(QStringLiteral("index-alterado.kldr"));
    QVERIFY(QFile::copy(m_container, damaged));
    Keldra::Core::ContainerManager containers;
    Keldra::Core::ContainerDocument document;
    QVERIFY(containers.readDocument(damaged, &document).ok());
    document.encryptedIndex[0] = char(document.encryptedIndex.at(0) ^ 1);
    QVERIFY(containers.updateDocumentHeader(damaged, document).ok());
    const Run opened = cli({QStringLiteral("ls"), damaged}, pw);
    QCOMPARE(opened.code, 1);
    QCOMPARE(message(opened), QStringLiteral("O container está danificado ou não é um cofre do Keldra."));
}

void CliVaultTest::exportNeverReplacesTheVault()
{
    const QString container = path(QStringLiteral("exportar.kldr"));
    {
        Keldra::Core::VaultManager vault;
        QVERIFY(vault.createVault(container, Password));
        QVERIFY(vault.unlockVault(container, Password));
        QVERIFY(writeFile(path(QStringLiteral("claro.txt")), "texto claro"));
        QVERIFY(vault.importFile(path(QStringLiteral("claro.txt")), QStringLiteral("claro.txt")));
        QVERIFY(vault.lockVault());
    }
    const QByteArray before = readFile(container);
    const auto exportTo = [&](const QString& destination) {
        return cli({QStringLiteral("export"), container, QStringLiteral("claro.txt"), destination},
                   Password + '\n');
    };

    // The container by its name, through a symbolic link, through a hard link,
    // and the name of its journal.
    QStringList refused = {container, container + QStringLiteral("-journal")};
#ifdef Q_OS_UNIX
    const QString link = path(QStringLiteral("atalho.kldr"));
    const QString hardLink = path(QStringLiteral("outro-nome.kldr"));
    QVERIFY(QFile::link(container, link));
    QCOMPARE(::link(QFile::encodeName(container).constData(), QFile::encodeName(hardLink).constData()), 0);
    refused << link << hardLink;
#endif
    for (const QString& destination : refused) {
        const Run run = exportTo(destination);
        QCOMPARE(run.code, 1);
        QVERIFY2(run.err.contains("próprio cofre"), run.err.constData()); // not the generic failure
        QCOMPARE(readFile(container), before);
    }
    QVERIFY(!QFileInfo::exists(container + QStringLiteral("-journal")));

#ifdef Q_OS_UNIX
    // A pipe stays a pipe (a device such as /dev/null likewise).
    const QString fifo = path(QStringLiteral("fila"));
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const Run piped = exportTo(fifo);
    QCOMPARE(piped.code, 1);
    QCOMPARE(QString::fromUtf8(piped.err).trimmed(), QStringLiteral("Não foi possível exportar o arquivo."));
    struct stat status;
    QCOMPARE(::lstat(QFile::encodeName(fifo).constData(), &status), 0);
    QVERIFY(S_ISFIFO(status.st_mode));
#endif
    const Run listed = cli({QStringLiteral("ls"), container}, Password + '\n');
    QCOMPARE(listed.code, 0);
    QVERIFY(listed.out.endsWith(" claro.txt\n"));
}

void CliVaultTest::severalPathsAtOnce()
{
    const QString container = path(QStringLiteral("varios.kldr"));
    {
        Keldra::Core::VaultManager vault;
        QVERIFY(vault.createVault(container, Password));
        QVERIFY(vault.unlockVault(container, Password));
        const QList<QPair<QString, QByteArray>> files = {{QStringLiteral("Fotos/praia.jpg"), "praia"},
                                                         {QStringLiteral("Fotos/Sub/b.txt"), "b"},
                                                         {QStringLiteral("nota.txt"), "nota"},
                                                         {QStringLiteral("c.txt"), "c"}};
        for (const auto& file : files) {
            QVERIFY(writeFile(path(QStringLiteral("fonte")), file.second));
            QVERIFY(vault.importFile(path(QStringLiteral("fonte")), file.first));
        }
        QVERIFY(vault.createDirectory(QStringLiteral("Fotos/Vazia")));
        QVERIFY(vault.lockVault());
    }
    const QByteArray pw = Password + '\n';
    const auto lines = [](const QByteArray& text) { return text.trimmed().split('\n'); };

    // A folder and a file into a folder that is made; one summary line.
    const QString tree = path(QStringLiteral("arvore"));
    const Run exported = cli(
        {QStringLiteral("export"), container, QStringLiteral("Fotos"), QStringLiteral("nota.txt"), tree}, pw);
    QCOMPARE(exported.code, 0);
    QCOMPARE(lines(exported.out).size(), 1);
    QVERIFY2(exported.out.startsWith("Exportado(s): 3 arquivo(s)"), exported.out.constData());
    QCOMPARE(readFile(tree + QStringLiteral("/Fotos/praia.jpg")), QByteArray("praia"));
    QCOMPARE(readFile(tree + QStringLiteral("/Fotos/Sub/b.txt")), QByteArray("b"));
    QCOMPARE(readFile(tree + QStringLiteral("/nota.txt")), QByteArray("nota"));
    QVERIFY(QFileInfo(tree + QStringLiteral("/Fotos/Vazia")).isDir());
    // One file: to a new name, or into an existing folder.
    QCOMPARE(
        cli({QStringLiteral("export"), container, QStringLiteral("c.txt"), path(QStringLiteral("novo.txt"))},
            pw)
            .code,
        0);
    QCOMPARE(readFile(path(QStringLiteral("novo.txt"))), QByteArray("c"));
    QCOMPARE(cli({QStringLiteral("export"), container, QStringLiteral("c.txt"), tree}, pw).code, 0);
    QCOMPARE(readFile(tree + QStringLiteral("/c.txt")), QByteArray("c"));
    // A missing path refuses the whole export before anything is made.
    const Run missing = cli({QStringLiteral("export"), container, QStringLiteral("Fotos"),
                             QStringLiteral("nada"), path(QStringLiteral("nenhum"))},
                            pw);
    QCOMPARE(missing.code, 1);
    QVERIFY2(missing.err.contains("nada"), missing.err.constData());
    QVERIFY(!QFileInfo::exists(path(QStringLiteral("nenhum"))));

    // mv and rm: all or nothing, one summary line each.
    const QByteArray before = readFile(container);
    const Run refused =
        cli({QStringLiteral("rm"), container, QStringLiteral("c.txt"), QStringLiteral("nada")}, pw);
    QCOMPARE(refused.code, 1);
    QVERIFY2(refused.err.contains("nada"), refused.err.constData());
    // b.txt could go to the root; nota.txt is there already.
    const Run clash = cli({QStringLiteral("mv"), container, QStringLiteral("Fotos/Sub/b.txt"),
                           QStringLiteral("nota.txt"), QStringLiteral("")},
                          pw);
    QCOMPARE(clash.code, 1);
    QVERIFY2(clash.err.contains("nota.txt"), clash.err.constData());
    QCOMPARE(readFile(container), before);
    const Run moved = cli({QStringLiteral("mv"), container, QStringLiteral("nota.txt"),
                           QStringLiteral("c.txt"), QStringLiteral("Fotos/Sub")},
                          pw);
    QCOMPARE(moved.code, 0);
    QCOMPARE(lines(moved.out).size(), 1);
    const Run removed = cli(
        {QStringLiteral("rm"), container, QStringLiteral("Fotos/Sub"), QStringLiteral("Fotos/Vazia")}, pw);
    QCOMPARE(removed.code, 0);
    QCOMPARE(lines(removed.out).size(), 1);
    const Run listed = cli({QStringLiteral("ls"), container}, pw);
    QCOMPARE(listed.code, 0);
    QVERIFY2(listed.out.startsWith("d Fotos\nf 5 "), listed.out.constData());
    QCOMPARE(lines(listed.out).size(), 2);
}

void CliVaultTest::fullIndexAndFullDriveSaySo()
{
    using Keldra::Core::VaultManager;
    const QByteArray pw = Password + '\n';
    const auto message = [](const Run& run) { return QString::fromUtf8(run.err).trimmed(); };
    QVERIFY(writeFile(path(QStringLiteral("pequeno.txt")), "p"));

    const QString full = path(QStringLiteral("indice-cheio.kldr"));
    {
        VaultManager vault;
        QVERIFY(vault.createVault(full, Password));
        QVERIFY(vault.unlockVault(full, Password));
        QVERIFY(VaultTest::fillIndex(vault));
        QVERIFY(vault.lockVault());
    }
    const QByteArray before = readFile(full);
    const QString fullText =
        QStringLiteral("O índice do cofre está cheio: exclua arquivos ou use outro cofre.");
    const Run folder = cli({QStringLiteral("mkdir"), full, QStringLiteral("Nova")}, pw);
    QCOMPARE(folder.code, 1);
    QCOMPARE(message(folder), fullText);
    const Run imported = cli(
        {QStringLiteral("import"), full, QStringLiteral("pequeno.txt"), QStringLiteral("pequeno.txt")}, pw);
    QCOMPARE(imported.code, 1);
    QCOMPARE(message(imported), fullText);
    const Run renamed =
        cli({QStringLiteral("renamedir"), full, QStringLiteral("Full"), QString(200, 'F')}, pw);
    QCOMPARE(renamed.code, 1);
    QCOMPARE(message(renamed), fullText);
    QCOMPARE(readFile(full), before);

    TestSupport::SmallDrive drive(QStringLiteral("10m"));
    if (!drive.mounted())
        QSKIP(TestSupport::SmallDrive::whyNotMounted());
    {
        VaultManager vault;
        QVERIFY(vault.createVault(drive.container(), Password));
    }
    QVERIFY(drive.fill());
    const QByteArray empty = readFile(drive.container());
    const Run import = cli({QStringLiteral("import"), drive.container(), QStringLiteral("pequeno.txt"),
                            QStringLiteral("pequeno.txt")},
                           pw);
    QCOMPARE(import.code, 1);
    QCOMPARE(message(import), QStringLiteral("Não há espaço livre suficiente na unidade do cofre."));
    QCOMPARE(readFile(drive.container()), empty);
}

void CliVaultTest::namesReachTheTerminalEscaped()
{
    // Names written by another program: a line feed that would forge a whole
    // line of output, and a terminal escape sequence.
    const QString forged = path(QStringLiteral("nomes.kldr"));
    {
        Keldra::Core::VaultManager vault;
        QVERIFY(vault.createVault(forged, Password));
    }
    QVERIFY(VaultTest::resealIndex(forged, Password, [](Keldra::Core::SecureFileIndex* index) {
        Keldra::Core::VaultFileEntry entry;
        entry.id = QStringLiteral("0f8fad5b-d9cb-469f-a165-70867728950e");
        entry.vaultPath = QStringLiteral("a\nf 1 00 forjado");
        index->addOrReplace(entry);
        entry.vaultPath = QStringLiteral("\x1b]0;titulo\x07\x1b[31mvermelho\\");
        index->addOrReplace(entry);
        index->addDirectory({QStringLiteral("pasta\r"), QDateTime(), QDateTime()});
    }));
    const Run listed = cli({QStringLiteral("ls"), forged}, Password + '\n');
    QCOMPARE(listed.code, 0);
    QCOMPARE(listed.out, QByteArray("d pasta\\x0d\n"
                                    "f 0  a\\x0af 1 00 forjado\n"
                                    "f 0  \\x1b]0;titulo\\x07\\x1b[31mvermelho\\\\\n"));
    // Without a digest neither verifies: both are reported, one line each.
    const Run verified = cli({QStringLiteral("verify"), forged}, Password + '\n');
    QCOMPARE(verified.code, 1);
    QCOMPARE(verified.out.count('\n'), 2);
    QVERIFY(!verified.out.contains('\x1b'));
    const Run missing = cli({QStringLiteral("rm"), forged, QStringLiteral("x\x1b[2J")}, Password + '\n');
    QCOMPARE(missing.code, 1);
    QVERIFY(!missing.err.contains('\x1b'));
}

void CliVaultTest::passwordLeavesTheRestOfTheInputUnread()
{
    // What follows the password on standard input stays there for whoever reads next. Through a
    // pipe: the C library gives back what it buffered from a seekable file when the program ends.
#ifdef Q_OS_WIN
    QSKIP("two programs sharing one input pipe need a POSIX shell");
#endif
    const QString input = path(QStringLiteral("entrada.txt"));
    QVERIFY(writeFile(input, Password + "\nresto da entrada\n"));
    QProcess shell;
    shell.setWorkingDirectory(m_dir.path());
    shell.start(QStringLiteral("/bin/sh"),
                {QStringLiteral("-c"), QStringLiteral("cat \"$2\" | (\"$0\" ls \"$1\" >/dev/null; cat)"),
                 m_program, m_container, input});
    QVERIFY(shell.waitForFinished(120000));
    QCOMPARE(shell.exitCode(), 0);
    QCOMPARE(shell.readAllStandardOutput(), QByteArray("resto da entrada\n"));
}

void CliVaultTest::passwordLinesMayEndInCrLf()
{
    // A password piped with CR LF is the one typed on a terminal or in the
    // window: create, unlock and both lines of a change.
    const QString container = path(QStringLiteral("crlf.kldr"));
    QCOMPARE(cli({QStringLiteral("create"), container}, Password + "\r\n").code, 0);
    QCOMPARE(cli({QStringLiteral("ls"), container}, Password + '\n').code, 0);
    const QByteArray newPassword = "outra senha longa";
    QCOMPARE(cli({QStringLiteral("passwd"), container}, Password + "\r\n" + newPassword + "\r\n").code, 0);
    QCOMPARE(cli({QStringLiteral("ls"), container}, newPassword + '\n').code, 0);
    QCOMPARE(cli({QStringLiteral("ls"), container}, newPassword + "\r\n").code, 0);
}

void CliVaultTest::twoProgramsNeverLoseAFile()
{
    const QString shared = path(QStringLiteral("compartilhado.kldr"));
    {
        Keldra::Core::VaultManager vault;
        QVERIFY(vault.createVault(shared, Password));
    }
    const QByteArray inUse = "O cofre está em uso por outro programa. Tente novamente.\n";

    // While another program holds the container, a change is refused and says so.
    {
#ifdef Q_OS_UNIX
        QFile other(shared);
        QVERIFY(other.open(QIODevice::ReadOnly));
        QCOMPARE(::flock(other.handle(), LOCK_EX | LOCK_NB), 0);
#else
        // Windows has no flock: the lock keldra-cli itself takes, held by this process.
        const Keldra::Core::ContainerLock other(shared);
        QVERIFY(other.error().ok());
#endif
        const QByteArray before = readFile(shared);
        const Run refused = cli({QStringLiteral("mkdir"), shared, QStringLiteral("Nova")}, Password + '\n');
        QCOMPARE(refused.code, 1);
        QCOMPARE(refused.err, inUse);
        QCOMPARE(readFile(shared), before);
    }

    // Two imports at once: each either lands or is refused, and no landed file is lost.
    QList<QProcess*> imports;
    for (int i = 0; i < 2; ++i) {
        const QString name = QStringLiteral("grande%1.bin").arg(i);
        QVERIFY(writeFile(path(name), QByteArray(24 * 1024 * 1024 + i, char('a' + i))));
        auto* process = new QProcess(this);
        process->setWorkingDirectory(m_dir.path());
        process->start(m_program, {QStringLiteral("import"), shared, name, name});
        process->write(Password + '\n');
        process->closeWriteChannel();
        imports.append(process);
    }
    QStringList landed;
    for (int i = 0; i < imports.size(); ++i) {
        QVERIFY(imports[i]->waitForFinished(300000));
        if (imports[i]->exitCode() == 0)
            landed << QStringLiteral("grande%1.bin").arg(i);
        else
            QCOMPARE(unixLines(imports[i]->readAllStandardError()), inUse);
        delete imports[i];
    }
    QVERIFY(!landed.isEmpty());
    const Run listed = cli({QStringLiteral("ls"), shared}, Password + '\n');
    for (const QString& name : std::as_const(landed))
        QVERIFY2(listed.out.contains(name.toUtf8()), qPrintable(name));
    QCOMPARE(cli({QStringLiteral("verify"), shared}, Password + '\n').code, 0);
}

void CliVaultTest::importReadsLikeCopyingATree()
{
    const QString container = path(QStringLiteral("arvore.kldr"));
    const QByteArray pw = Password + '\n';
    QCOMPARE(cli({QStringLiteral("create"), container}, pw).code, 0);
    QVERIFY(writeFile(path(QStringLiteral("solo.txt")), "sozinho"));
    QVERIFY(QDir().mkpath(path(QStringLiteral("fotos/Férias 2024"))));
    QVERIFY(writeFile(path(QStringLiteral("fotos/Férias 2024/praia.jpg")), "praia"));
    QVERIFY(writeFile(path(QStringLiteral("fotos/lista.txt")), "lista"));
    QVERIFY(QDir().mkpath(path(QStringLiteral("fotos/vazia"))));
#ifdef Q_OS_LINUX
    QVERIFY(QFile::link(path(QStringLiteral("fotos/lista.txt")), path(QStringLiteral("fotos/atalho"))));
#endif
    const auto import = [&](const QStringList& words) {
        return cli(QStringList{QStringLiteral("import"), container} + words, pw);
    };

    // One file and a new name: the file is stored under that name, as before.
    Run run = import({QStringLiteral("solo.txt"), QStringLiteral("Notas/renomeado.txt")});
    QCOMPARE(run.code, 0);
    // Into a folder that exists, or one named with a final "/": under its own name.
    QCOMPARE(import({QStringLiteral("solo.txt"), QStringLiteral("Notas")}).code, 0);
    QCOMPARE(import({QStringLiteral("solo.txt"), QStringLiteral("Novas/")}).code, 0);
    // A folder lands inside DEST with its whole tree.
    run = import({QStringLiteral("fotos"), QStringLiteral("Docs/")});
    QCOMPARE(run.code, 0);
#ifdef Q_OS_LINUX
    QCOMPARE(run.out, QByteArray("2 importado(s), 0 substituído(s), 1 ignorado(s)\n"));
    QCOMPARE(run.err, QStringLiteral("Ignorado (é um link, que não é seguido): fotos/atalho\n").toUtf8());
#else
    QCOMPARE(run.out, QByteArray("2 importado(s), 0 substituído(s), 0 ignorado(s)\n"));
#endif
    // Several sources: each inside DEST; files already there are replaced.
    QVERIFY(writeFile(path(QStringLiteral("fotos/lista.txt")), "lista nova"));
    run = import({QStringLiteral("solo.txt"), QStringLiteral("fotos"), QStringLiteral("Docs")});
    QCOMPARE(run.code, 0);
    QVERIFY2(run.out.startsWith("1 importado(s), 2 substituído(s), "), run.out.constData());

    const Run listed = cli({QStringLiteral("ls"), container}, pw);
    QCOMPARE(listed.code, 0);
    QStringList lines = QString::fromUtf8(listed.out).split('\n', Qt::SkipEmptyParts);
    for (QString& line : lines) {
        if (line.startsWith(QLatin1String("f ")))
            line = QStringLiteral("f ") + line.section(QLatin1Char(' '), 3);
    }
    lines.sort();
    QStringList expected{"d Docs",
                         "d Docs/fotos",
                         "d Docs/fotos/Férias 2024",
                         "d Docs/fotos/vazia",
                         "d Notas",
                         "d Novas",
                         "f Docs/fotos/Férias 2024/praia.jpg",
                         "f Docs/fotos/lista.txt",
                         "f Docs/solo.txt",
                         "f Notas/renomeado.txt",
                         "f Notas/solo.txt",
                         "f Novas/solo.txt"};
    expected.sort();
    QCOMPARE(lines, expected);
    const QString exported = path(QStringLiteral("lista-exportada.txt"));
    QCOMPARE(
        cli({QStringLiteral("export"), container, QStringLiteral("Docs/fotos/lista.txt"), exported}, pw).code,
        0);
    QCOMPARE(readFile(exported), QByteArray("lista nova"));

    // A source that is not there is refused before the password is asked for.
    run = cli({QStringLiteral("import"), container, QStringLiteral("solo.txt"), QStringLiteral("nada"),
               QStringLiteral("Docs")});
    QCOMPARE(run.code, 1);
    QCOMPARE(QString::fromUtf8(run.err).trimmed(),
             QStringLiteral("O arquivo nada não está disponível para importação."));
}

QTEST_GUILESS_MAIN(CliVaultTest)
#include "test_cli_vault.moc"
