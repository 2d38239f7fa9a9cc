// The vault-path rules that the core, the window and keldra-cli share.
#include "core/vault/VaultPath.h"

#include <QTest>

using Keldra::Core::SecureFileIndex;
using Keldra::Core::VaultDirectoryEntry;
using Keldra::Core::VaultFileEntry;
using Keldra::Core::VaultPath;

class TestVaultPath : public QObject
{
    Q_OBJECT

private slots:
    void vaultPathsAreNormalisedOrRejected_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        QTest::newRow("blanks and doubled slashes") << " /docs//2024/ "
                                                    << "docs/2024";
        QTest::newRow("backslashes") << "docs\\a.txt"
                                     << "docs/a.txt";
        QTest::newRow("dot-dot component") << "docs/../x"
                                           << "";
        QTest::newRow("dot component") << "a/./b"
                                       << "";
        QTest::newRow("blank component") << "docs/ /x"
                                         << "";
        QTest::newRow("blanks only") << "   "
                                     << "";
        QTest::newRow("component blanks trimmed") << "a / b"
                                                  << "a/b";
    }
    void vaultPathsAreNormalisedOrRejected()
    {
        QFETCH(QString, input);
        QFETCH(QString, expected);
        QCOMPARE(VaultPath::normalized(input), expected);
    }

    void pathArithmetic()
    {
        QCOMPARE(VaultPath::parent(QStringLiteral("docs/2024/a.txt")), QStringLiteral("docs/2024"));
        QCOMPARE(VaultPath::parent(QStringLiteral("a.txt")), QString());
        QCOMPARE(VaultPath::parent(QStringLiteral("/a.txt")), QString());
        QCOMPARE(VaultPath::baseName(QStringLiteral("docs/2024/a.txt")), QStringLiteral("a.txt"));
        QCOMPARE(VaultPath::baseName(QStringLiteral("a.txt")), QStringLiteral("a.txt"));
        QCOMPARE(VaultPath::join(QString(), QStringLiteral(" a.txt ")), QStringLiteral("a.txt"));
        QCOMPARE(VaultPath::join(QStringLiteral("docs"), QStringLiteral("a.txt")),
                 QStringLiteral("docs/a.txt"));
        QCOMPARE(VaultPath::join(QStringLiteral("docs"), QStringLiteral("..")), QString());
    }

    void namesAreSingleComponents()
    {
        QVERIFY(!VaultPath::isValidName(QStringLiteral(" .. ")));
        QVERIFY(!VaultPath::isValidName(QStringLiteral(".")));
        QVERIFY(!VaultPath::isValidName(QStringLiteral("a/b")));
        QVERIFY(!VaultPath::isValidName(QStringLiteral("a\\b")));
        QVERIFY(!VaultPath::isValidName(QStringLiteral("   ")));
        QVERIFY(VaultPath::isValidName(QStringLiteral("a.b")));
        QVERIFY(VaultPath::isInside(QStringLiteral("Docs/a.txt"), QStringLiteral("docs")));
        QVERIFY(!VaultPath::isInside(QStringLiteral("docs"), QStringLiteral("docs")));
        QVERIFY(!VaultPath::isInside(QStringLiteral("docs2/a.txt"), QStringLiteral("docs")));
    }

    // Names Windows cannot hold, or opens as a device; the window's name checks use the same rule.
    void newNamesMustSuitEverySystem()
    {
        for (const char* name :
             {"CON",  "con.txt", "Prn",  "aux.tar.gz", "NUL",      "COM1",    "com9.log",
              "LPT1", "lpt5.x",  "a:b",  "a<b",        "a>b",      "a\"b",    "a|b",
              "a?",   "a*",      "end.", "tab\there",  "bell\x07", "del\x7f", "csi\xc2\x9b"}) {
            QVERIFY2(!VaultPath::isValidName(QString::fromUtf8(name)), name);
            QVERIFY2(!VaultPath::isPortable(QStringLiteral("docs/") + QString::fromUtf8(name)), name);
        }
        for (const char* name : {"CONSOLE", "con-notes.txt", "COM0", "COM10", "LPT", ".hidden", "a.b",
                                 "Ação é ótima", "a b", "#1 [draft] (v2)"}) {
            QVERIFY2(VaultPath::isValidName(QString::fromUtf8(name)), name);
            QVERIFY2(VaultPath::isPortable(QStringLiteral("docs/") + QString::fromUtf8(name)), name);
        }
        QVERIFY(!VaultPath::isPortable(QString()));
        QVERIFY(!VaultPath::isPortable(VaultPath::normalized(QStringLiteral("C:\\Windows\\x.txt"))));
        QVERIFY(!VaultPath::isPortable(QStringLiteral("docs./a.txt")));
        // Lookups stay lenient: names made elsewhere are still found.
        QCOMPARE(VaultPath::normalized(QStringLiteral(":res/a.txt")), QStringLiteral(":res/a.txt"));
    }

    void indexLookupsIgnoreLetterCase()
    {
        SecureFileIndex index;
        VaultFileEntry report;
        report.vaultPath = QStringLiteral("Docs/Report.txt");
        QVERIFY(index.addOrReplace(report));
        QVERIFY(index.addDirectory(VaultDirectoryEntry{QStringLiteral("Docs"), {}, {}}));
        QVERIFY(VaultPath::hasFile(index, QStringLiteral("docs/report.TXT")));
        QVERIFY(!VaultPath::hasFile(index, QStringLiteral("docs")));
        QVERIFY(VaultPath::hasFolder(index, QStringLiteral("DOCS")));
        QVERIFY(!VaultPath::hasFolder(index, QStringLiteral("docs/report.txt")));
    }

    void missingParentsAreAddedOnce()
    {
        SecureFileIndex index;
        QVERIFY(index.addDirectory(VaultDirectoryEntry{QStringLiteral("A"), {}, {}}));
        VaultPath::addMissingParents(&index, QStringLiteral("a/b/c/file.txt"));
        QStringList folders;
        for (const VaultDirectoryEntry& folder : index.directories())
            folders << folder.path;
        QCOMPARE(folders, QStringList({"A", "a/b", "a/b/c"}));
        VaultPath::addMissingParents(&index, QStringLiteral("top.txt"));
        QCOMPARE(index.directories().size(), 3);
    }
};

QTEST_MAIN(TestVaultPath)
#include "test_vault_path.moc"
