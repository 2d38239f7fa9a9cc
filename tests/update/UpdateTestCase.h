#pragma once

#include "LoopbackHttpServer.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTemporaryDir>

#include <memory>

// Where every update test function starts: a fresh work folder holding a
// drive prepared at 1.0.0, a 1.2.0 package built beside it, and a loopback
// server of its own.
class UpdateTestCase : public QObject
{
protected:
    // Called from init(); fails the test function on a broken stage.
    void setUpStage();
    // Serves the 1.2.0 manifest at kManifestPath, naming the package at /pkg.zip.
    void publishUpdate();
    QString manifestUrl() const;

    std::unique_ptr<QTemporaryDir> m_work;
    std::unique_ptr<LoopbackHttpServer> m_server;
    QString m_root;
    QByteArray m_package;
};
