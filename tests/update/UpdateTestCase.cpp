#include "UpdateTestCase.h"

#include "UpdateFixtures.h"

#include <QDir>
#include <QTest>

using namespace UpdateFixtures;

void UpdateTestCase::setUpStage()
{
    m_work = std::make_unique<QTemporaryDir>();
    QVERIFY(m_work->isValid());
    m_server = std::make_unique<LoopbackHttpServer>();
    QVERIFY(m_server->start());
    m_root = QDir(m_work->path()).filePath(QStringLiteral("drive"));
    prepareDrive(m_root, QStringLiteral("1.0.0"));
    m_package = buildPackage(m_work->path(), QStringLiteral("1.2.0"));
    QVERIFY(!m_package.isEmpty());
}

void UpdateTestCase::publishUpdate()
{
    const QString packagePath = QStringLiteral("/pkg.zip");
    m_server->serve(kManifestPath,
                    toJson(manifest(QStringLiteral("1.2.0"), m_server->baseUrl() + packagePath, m_package)));
    m_server->serve(packagePath, m_package);
}

QString UpdateTestCase::manifestUrl() const
{
    return m_server->baseUrl() + kManifestPath;
}
