#pragma once

// A small tmpfs mounted for one test, so a drive really fills up or turns
// read-only. Needs root; mounted() says whether it worked.

#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace TestSupport {

class SmallDrive
{
public:
    explicit SmallDrive(const QString& size)
    {
#ifdef Q_OS_LINUX
        if (::geteuid() == 0 && m_dir.isValid())
            m_mounted = run({"mount", "-t", "tmpfs", "-o", "size=" + size, "tmpfs", m_dir.path()});
#else
        Q_UNUSED(size);
#endif
    }
    ~SmallDrive()
    {
        if (m_mounted) {
            (void)run({"mount", "-o", "remount,rw", m_dir.path()});
            (void)run({"umount", m_dir.path()});
        }
    }
    SmallDrive(const SmallDrive&) = delete;
    SmallDrive& operator=(const SmallDrive&) = delete;

    bool mounted() const
    {
        return m_mounted;
    }
    // For the skip message when mounted() is false.
    static const char* whyNotMounted()
    {
#ifdef Q_OS_LINUX
        return ::geteuid() == 0 ? "tmpfs cannot be mounted here" : "needs root to mount a tmpfs";
#else
        return "needs a tmpfs mounted by root, which only Linux offers";
#endif
    }
    QString path() const
    {
        return m_dir.path();
    }
    QString container() const
    {
        return m_dir.filePath("keldra.kldr");
    }
    bool remount(const char* mode) const
    {
        return run({"mount", "-o", QStringLiteral("remount,") + mode, m_dir.path()});
    }
    // Fills what is left of the drive with one file.
    bool fill(const QString& name = QStringLiteral("filler")) const
    {
        QFile filler(m_dir.filePath(name));
        if (!filler.open(QIODevice::WriteOnly))
            return false;
        const QByteArray chunk(4096, 'f');
        while (filler.write(chunk) == chunk.size() && filler.flush()) {
        }
        return true;
    }

private:
    static bool run(const QStringList& args)
    {
        QProcess p;
        p.start(args.first(), args.mid(1));
        return p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    }

    QTemporaryDir m_dir;
    bool m_mounted = false;
};

} // namespace TestSupport
