// Where the program takes its Qt plug-ins from when it runs from a drive.
#include "TestFiles.h"
#include "ui/BundleLocation.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

using Keldra::UI::BundleLocation;

class BundleLocationTest : public QObject
{
    Q_OBJECT

private slots:
    void pluginsAndTranslationsComeFromTheBundleOnlyWhenItHasItsLoader()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QDir bundle(dir.filePath(QStringLiteral("MEU PENDRIVE/Keldra/linux")));
        QVERIFY(TestSupport::writeFile(bundle.filePath(QStringLiteral("Keldra")), "program"));
        QVERIFY(bundle.mkpath(QStringLiteral("plugins/platforms")));
        QVERIFY(bundle.mkpath(QStringLiteral("translations")));
        const QString program = bundle.filePath(QStringLiteral("Keldra"));

        // A build tree or an installed copy keeps Qt's own search.
        QVERIFY(BundleLocation::pluginDirectory(program).isEmpty());
        QVERIFY(BundleLocation::pluginDirectory(QString()).isEmpty());
        QVERIFY(BundleLocation::translationDirectory(program).isEmpty());

        QVERIFY(
            TestSupport::writeFile(bundle.filePath(QStringLiteral("lib/ld-linux-x86-64.so.2")), "loader"));
        QCOMPARE(BundleLocation::pluginDirectory(program), bundle.filePath(QStringLiteral("plugins")));
        QCOMPARE(BundleLocation::translationDirectory(program),
                 bundle.filePath(QStringLiteral("translations")));

        // argv[0] as typed in a terminal on the drive.
        const QString saved = QDir::currentPath();
        QVERIFY(QDir::setCurrent(dir.filePath(QStringLiteral("MEU PENDRIVE"))));
        const QString relative = BundleLocation::pluginDirectory(QStringLiteral("Keldra/linux/Keldra"));
        QVERIFY(QDir::setCurrent(saved));
        QCOMPARE(relative, bundle.filePath(QStringLiteral("plugins")));
    }
};

QTEST_GUILESS_MAIN(BundleLocationTest)
#include "test_bundle_location.moc"
