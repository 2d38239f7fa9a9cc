#include "platform/linux/LinuxDeviceManager.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QStringList>
#include <QTextStream>

#include <algorithm>
#include <functional>
#include <utility>

namespace Keldra::Platform::Linux {

namespace {

// Maps the absolute paths the kernel and the desktop use onto the tree actually read
// (the system root), and canonical paths found there back to their system form.
class SystemPaths
{
public:
    explicit SystemPaths(const QString& systemRoot)
    {
        const QString root = QDir::cleanPath(systemRoot.isEmpty() ? QStringLiteral("/") : systemRoot);
        if (root != QLatin1String("/")) {
            m_root = root;
            m_canonicalRoot = QFileInfo(root).canonicalFilePath();
            m_prefixed = true;
        }
    }

    QString host(const QString& absolutePath) const { return m_root + absolutePath; }

    // Empty when the canonical path lies outside the root: such a target does not exist
    // for the system being inspected.
    QString system(const QString& canonicalPath) const
    {
        if (!m_prefixed || canonicalPath.isEmpty())
            return canonicalPath;
        if (m_canonicalRoot.isEmpty())
            return QString();
        if (canonicalPath == m_canonicalRoot)
            return QStringLiteral("/");
        if (canonicalPath.startsWith(m_canonicalRoot + QLatin1Char('/')))
            return canonicalPath.mid(m_canonicalRoot.size());
        return QString();
    }

private:
    QString m_root;
    QString m_canonicalRoot;
    bool m_prefixed = false;
};

// The backslash escape goes last so that an escaped backslash followed by digits stays literal.
QString decodeMountInfoToken(QString token)
{
    token.replace(QStringLiteral("\\040"), QStringLiteral(" "));
    token.replace(QStringLiteral("\\011"), QStringLiteral("\t"));
    token.replace(QStringLiteral("\\012"), QStringLiteral("\n"));
    token.replace(QStringLiteral("\\134"), QStringLiteral("\\"));
    return token;
}

QString readFirstLine(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    QTextStream stream(&file);
    return stream.readLine().trimmed();
}

QString lastPathComponent(const QString& path)
{
    return QFileInfo(path).fileName();
}

// A kernel name never contains "/"; "." and ".." would walk out of /sys/class/block.
bool isPlausibleBlockName(const QString& name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
           !name.contains(QLatin1Char('/'));
}

QString sysfsBlockEntry(const SystemPaths& paths, const QString& name)
{
    return paths.host(QStringLiteral("/sys/class/block/%1").arg(name));
}

// Resolves the class symlink to the device's real place under /sys/devices.
QString blockDeviceSysfsPath(const SystemPaths& paths, const QString& name)
{
    if (!isPlausibleBlockName(name))
        return QString();
    return paths.system(QFileInfo(sysfsBlockEntry(paths, name)).canonicalFilePath());
}

QString parentDiskName(const SystemPaths& paths, const QString& name)
{
    const QString path = blockDeviceSysfsPath(paths, name);
    const QString marker = QStringLiteral("/block/");
    const qsizetype at = path.indexOf(marker);
    if (at < 0)
        return QString();
    const qsizetype start = at + marker.size();
    const qsizetype end = path.indexOf(QLatin1Char('/'), start);
    return end < 0 ? path.mid(start) : path.mid(start, end - start);
}

bool isUsbBlockDevice(const SystemPaths& paths, const QString& name)
{
    const QString usb = QStringLiteral("/usb");
    if (blockDeviceSysfsPath(paths, name).contains(usb))
        return true;
    const QString parent = parentDiskName(paths, name);
    if (parent.isEmpty())
        return false;
    return blockDeviceSysfsPath(paths, parent).contains(usb);
}

bool isRemovableBlockDevice(const SystemPaths& paths, const QString& name)
{
    const auto removableFlag = [&paths](const QString& device) {
        return readFirstLine(sysfsBlockEntry(paths, device) + QStringLiteral("/removable")) ==
               QLatin1String("1");
    };
    if (isPlausibleBlockName(name) && removableFlag(name))
        return true;
    const QString parent = parentDiskName(paths, name);
    return !parent.isEmpty() && removableFlag(parent);
}

// SCSI peripheral type 5 is a CD/DVD drive.
bool isOpticalBlockDevice(const SystemPaths& paths, const QString& name)
{
    QString disk = parentDiskName(paths, name);
    if (disk.isEmpty())
        disk = name;
    if (!isPlausibleBlockName(disk))
        return false;
    return readFirstLine(sysfsBlockEntry(paths, disk) + QStringLiteral("/device/type")) == QLatin1String("5");
}

// A reader slot without a card reports size 0; it holds no volume to list.
bool hasNoMedium(const SystemPaths& paths, const QString& name)
{
    return readFirstLine(sysfsBlockEntry(paths, name) + QStringLiteral("/size")) == QLatin1String("0");
}

QString fallbackDisplayName(const QString& devicePath, const QString& rootPath)
{
    const QString rootName = lastPathComponent(rootPath);
    if (!rootName.isEmpty() && rootName != QLatin1String("/"))
        return rootName;
    return lastPathComponent(devicePath);
}

// Link names are used as the labels exactly as the device manager wrote them.
QHash<QString, QString> blockLabelMap(const SystemPaths& paths)
{
    QHash<QString, QString> labels;
    const QDir dir(paths.host(QStringLiteral("/dev/disk/by-label")));
    const QFileInfoList entries =
        dir.entryInfoList(QDir::Files | QDir::System | QDir::NoDotAndDotDot, QDir::Unsorted);
    for (const QFileInfo& entry : entries) {
        const QString target = paths.system(entry.canonicalFilePath());
        if (target.startsWith(QLatin1String("/dev/")))
            labels.insert(lastPathComponent(target), entry.fileName());
    }
    return labels;
}

// One line of mountinfo: which device is mounted at a directory.
struct MountSource
{
    QString majorMinor; // "8:17"
    QString source;     // "/dev/sdb1", or a link to it
};

// Whether the kernel lists `systemPath` as a mount point of the block device `name`.
bool isMountOf(const SystemPaths& paths, const QHash<QString, MountSource>& mounts, const QString& systemPath,
               const QString& name)
{
    const auto found = mounts.constFind(systemPath);
    if (found == mounts.cend())
        return false;
    const QString number = readFirstLine(sysfsBlockEntry(paths, name) + QStringLiteral("/dev"));
    if (!number.isEmpty() && number == found->majorMinor)
        return true;
    const QString device = paths.system(QFileInfo(paths.host(found->source)).canonicalFilePath());
    return device == QStringLiteral("/dev/%1").arg(name);
}

// The directory a desktop would mount the label at, accepted only when the
// device is really mounted there: a folder left behind by an earlier mount
// is a folder of the local disk.
QString mountedRootForLabel(const SystemPaths& paths, const LinuxSystemView& system, const QString& label,
                            const std::function<bool(const QString&)>& mountedAt)
{
    if (label.isEmpty())
        return QString();

    QStringList users;
    if (system.environmentVariable) {
        const QString user = QString::fromLocal8Bit(system.environmentVariable("USER"));
        if (!user.isEmpty())
            users.append(user);
        const QString logName = QString::fromLocal8Bit(system.environmentVariable("LOGNAME"));
        if (!logName.isEmpty() && !users.contains(logName))
            users.append(logName);
    }

    const QString patterns[] = {QStringLiteral("/media/%1/%2"), QStringLiteral("/run/media/%1/%2")};
    const auto accepted = [&](const QString& systemPath) {
        return QFileInfo(paths.host(systemPath)).isDir() && mountedAt(systemPath);
    };
    for (const QString& pattern : patterns) {
        for (const QString& user : std::as_const(users)) {
            const QString candidate = pattern.arg(user, label);
            if (accepted(candidate))
                return paths.host(candidate);
        }
    }
    const QString candidate = QStringLiteral("/mnt/%1").arg(label);
    return accepted(candidate) ? paths.host(candidate) : QString();
}

QString mountedId(const QString& devicePath, const QString& rootPath)
{
    return QStringLiteral("%1:%2").arg(devicePath, rootPath);
}

} // namespace

LinuxDeviceManager::LinuxDeviceManager() : m_system(LinuxSystemView::real()) {}

LinuxDeviceManager::LinuxDeviceManager(LinuxSystemView system) : m_system(std::move(system)) {}

LinuxDeviceManager::~LinuxDeviceManager() = default;

QList<UsbDevice> LinuxDeviceManager::detectUsbDevices() const
{
    const SystemPaths paths(m_system.systemRoot);
    QList<UsbDevice> devices;
    QSet<QString> seenNames;
    QSet<QString> seenRoots;

    // Pass 1: volumes Qt reports as mounted. One device mounted at two places gives two entries.
    const QList<MountedVolume> volumes =
        m_system.mountedVolumes ? m_system.mountedVolumes() : QList<MountedVolume>();
    for (const MountedVolume& volume : volumes) {
        const QString devicePath = QString::fromLocal8Bit(volume.device);
        if (!devicePath.startsWith(QLatin1String("/dev/")) || !volume.valid || !volume.ready)
            continue;
        const QString name = lastPathComponent(devicePath);
        const bool usb = isUsbBlockDevice(paths, name);
        const bool removable = isRemovableBlockDevice(paths, name);
        if (!usb || isOpticalBlockDevice(paths, name))
            continue;
        const QString root = volume.rootPath;
        if (root.isEmpty() || seenRoots.contains(root))
            continue;

        UsbDevice device;
        device.devicePath = devicePath;
        device.rootPath = root;
        device.fileSystemType = QString::fromLocal8Bit(volume.fileSystemType);
        device.displayName = volume.displayName;
        if (device.displayName.isEmpty())
            device.displayName = volume.name;
        if (device.displayName.isEmpty())
            device.displayName = fallbackDisplayName(devicePath, root);
        device.id = mountedId(devicePath, root);
        device.removable = removable;
        device.mounted = true;
        devices.append(device);
        seenNames.insert(name);
        seenRoots.insert(root);
    }

    // Pass 2: mounts the kernel lists that pass 1 did not report.
    QFile mountInfo(paths.host(QStringLiteral("/proc/self/mountinfo")));
    if (!mountInfo.open(QIODevice::ReadOnly | QIODevice::Text))
        return devices;
    QTextStream stream(&mountInfo);
    const QString separator = QStringLiteral(" - ");
    QHash<QString, MountSource> mounts;
    QString line;
    while (stream.readLineInto(&line)) {
        const qsizetype at = line.indexOf(separator);
        if (at < 0)
            continue;
        const QStringList mountFields = line.left(at).split(QLatin1Char(' '), Qt::KeepEmptyParts);
        const QStringList sourceFields =
            line.mid(at + separator.size()).split(QLatin1Char(' '), Qt::KeepEmptyParts);
        if (mountFields.size() < 5 || sourceFields.size() < 3)
            continue;
        const QString mountPoint = decodeMountInfoToken(mountFields.at(4));
        const QString fsType = decodeMountInfoToken(sourceFields.at(0));
        const QString source = decodeMountInfoToken(sourceFields.at(1));
        mounts.insert(mountPoint, MountSource{mountFields.at(2), source});
        if (!source.startsWith(QLatin1String("/dev/")) || seenRoots.contains(mountPoint))
            continue;
        const QString name = lastPathComponent(source);
        if (seenNames.contains(name))
            continue;
        const bool usb = isUsbBlockDevice(paths, name);
        const bool removable = isRemovableBlockDevice(paths, name);
        if (!usb || isOpticalBlockDevice(paths, name))
            continue;

        const MountedVolume storage = m_system.volumeAt ? m_system.volumeAt(mountPoint) : MountedVolume();
        UsbDevice device;
        device.devicePath = source;
        device.rootPath = storage.valid && !storage.rootPath.isEmpty() ? storage.rootPath : mountPoint;
        device.fileSystemType = !fsType.isEmpty() ? fsType : QString::fromUtf8(storage.fileSystemType);
        device.displayName = storage.displayName;
        if (device.displayName.isEmpty())
            device.displayName = storage.name;
        if (device.displayName.isEmpty())
            device.displayName = fallbackDisplayName(source, device.rootPath);
        device.id = mountedId(device.devicePath, device.rootPath);
        device.removable = removable;
        device.mounted = true;
        devices.append(device);
        seenNames.insert(name);
        seenRoots.insert(device.rootPath);
    }

    // Pass 3: USB block devices that are not mounted; whole disks only when they have no partitions.
    const QHash<QString, QString> labels = blockLabelMap(paths);
    const QDir::Filters dirFilter = QDir::Dirs | QDir::NoDotAndDotDot;
    const QStringList names =
        QDir(paths.host(QStringLiteral("/sys/class/block"))).entryList(dirFilter, QDir::Unsorted);
    for (const QString& name : names) {
        if (seenNames.contains(name))
            continue;
        const QString devicePath = QStringLiteral("/dev/%1").arg(name);
        if (!isUsbBlockDevice(paths, name) || isOpticalBlockDevice(paths, name))
            continue;
        if (parentDiskName(paths, name) == name) {
            const QStringList children =
                QDir(sysfsBlockEntry(paths, name)).entryList(dirFilter, QDir::Unsorted);
            const bool hasPartition =
                std::any_of(children.cbegin(), children.cend(), [&name](const QString& child) {
                    return child.startsWith(name) && child != name;
                });
            if (hasPartition)
                continue;
        }
        if (hasNoMedium(paths, name))
            continue;

        UsbDevice device;
        device.id = devicePath;
        device.devicePath = devicePath;
        device.displayName = labels.value(name);
        if (device.displayName.isEmpty())
            device.displayName = name;
        device.rootPath = mountedRootForLabel(paths, m_system, device.displayName, [&](const QString& at) {
            return isMountOf(paths, mounts, at, name);
        });
        device.removable = isRemovableBlockDevice(paths, name);
        device.mounted = !device.rootPath.isEmpty();
        devices.append(device);
    }
    return devices;
}

} // namespace Keldra::Platform::Linux
