#include "platform/PlatformDeviceManager.h"
#include "platform/linux/LinuxDeviceManager.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

using Keldra::Platform::UsbDevice;
using Keldra::Platform::Linux::LinuxDeviceManager;
using Keldra::Platform::Linux::LinuxSystemView;
using Keldra::Platform::Linux::MountedVolume;

namespace {

// A fake machine: sysfs, /dev, mount directories and mountinfo below a temporary root,
// with class entries as relative symbolic links into /sys/devices like the kernel makes them.
class FakeSystem
{
public:
    FakeSystem() { QVERIFY(m_dir.isValid()); }

    QString root() const { return m_dir.path(); }
    QString path(const QString& absolute) const { return root() + absolute; }

    void writeFile(const QString& absolute, const QByteArray& content)
    {
        QDir().mkpath(QFileInfo(path(absolute)).path());
        QFile file(path(absolute));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }

    void symlink(const QString& target, const QString& absoluteLink)
    {
        QDir().mkpath(QFileInfo(path(absoluteLink)).path());
        QCOMPARE(::symlink(QFile::encodeName(target).constData(),
                           QFile::encodeName(path(absoluteLink)).constData()),
                 0);
    }

    void mkdir(const QString& absolute) { QVERIFY(QDir().mkpath(path(absolute))); }

    // One disk below `hostPath` (the SCSI device directory, or the NVMe controller) with its partitions.
    void addDisk(const QString& hostPath, const QString& name, const QStringList& partitions, bool removable,
                 const QByteArray& scsiType = "0", const QString& blockDir = QStringLiteral("/block"),
                 const QByteArray& size = "30031872")
    {
        const QString disk = hostPath + blockDir + QLatin1Char('/') + name;
        mkdir(disk);
        writeFile(disk + QStringLiteral("/removable"), removable ? "1\n" : "0\n");
        writeFile(disk + QStringLiteral("/size"), size + '\n');
        writeFile(hostPath + QStringLiteral("/type"), scsiType + '\n');
        symlink(blockDir.isEmpty() ? QStringLiteral("..") : QStringLiteral("../.."),
                disk + QStringLiteral("/device"));
        mkdir(disk + QStringLiteral("/queue"));
        symlink(QStringLiteral("../..") + disk.mid(4), QStringLiteral("/sys/class/block/") + name);
        writeFile(QStringLiteral("/dev/") + name, QByteArray());
        for (const QString& partition : partitions) {
            const QString dir = disk + QLatin1Char('/') + partition;
            mkdir(dir);
            writeFile(dir + QStringLiteral("/partition"), "1\n");
            writeFile(dir + QStringLiteral("/size"), "2048\n");
            symlink(QStringLiteral("../..") + dir.mid(4), QStringLiteral("/sys/class/block/") + partition);
            writeFile(QStringLiteral("/dev/") + partition, QByteArray());
        }
    }

    void addUsbDisk(const QString& name, const QStringList& partitions, bool removable = true,
                    const QByteArray& scsiType = "0", const QByteArray& size = "30031872")
    {
        const int port = ++m_usbPorts;
        addDisk(QStringLiteral(
                    "/sys/devices/pci0000:00/0000:00:14.0/usb2/2-%1/2-%1:1.0/host%1/target%1:0:0/%1:0:0:0")
                    .arg(port),
                name, partitions, removable, scsiType, QStringLiteral("/block"), size);
    }

    void addSataDisk(const QString& name, const QStringList& partitions, bool removable)
    {
        addDisk(QStringLiteral("/sys/devices/pci0000:00/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0"), name,
                partitions, removable);
    }

    // NVMe namespaces sit below the controller, with no "block" directory in the path.
    void addNvmeDisk(const QString& name, const QStringList& partitions)
    {
        addDisk(QStringLiteral("/sys/devices/pci0000:00/0000:00:1d.0/0000:3d:00.0/nvme/nvme0"), name,
                partitions, false, "0", QString());
    }

    void addLabel(const QString& label, const QString& deviceName)
    {
        symlink(QStringLiteral("../../") + deviceName, QStringLiteral("/dev/disk/by-label/") + label);
    }

    void setMountInfo(const QStringList& lines)
    {
        writeFile(QStringLiteral("/proc/self/mountinfo"), lines.join(QLatin1Char('\n')).toUtf8() + '\n');
    }

    static QString mountLine(int id, const QString& escapedMountPoint, const QString& source,
                             const QString& fsType)
    {
        return QStringLiteral("%1 29 8:17 / %2 rw,nosuid,nodev,relatime shared:%1 - %3 %4 rw,uid=1000")
            .arg(id)
            .arg(escapedMountPoint, fsType, source);
    }

    LinuxSystemView view() const
    {
        LinuxSystemView view;
        view.systemRoot = root();
        view.mountedVolumes = [volumes = volumes] { return volumes; };
        view.volumeAt = [storages = storages](const QString& p) { return storages.value(p); };
        view.environmentVariable = [environment = environment](const char* name) {
            return environment.value(QByteArray(name));
        };
        return view;
    }

    QList<UsbDevice> detect() const { return LinuxDeviceManager(view()).detectUsbDevices(); }

    QList<MountedVolume> volumes;
    QHash<QString, MountedVolume> storages;
    QHash<QByteArray, QByteArray> environment{{"USER", "alice"}, {"LOGNAME", "alice"}};

private:
    QTemporaryDir m_dir;
    int m_usbPorts = 0;
};

MountedVolume volume(const QByteArray& device, const QString& rootPath, const QByteArray& fsType = "vfat",
                     const QString& label = QString())
{
    MountedVolume v;
    v.device = device;
    v.rootPath = rootPath;
    v.fileSystemType = fsType;
    v.displayName = label;
    v.name = label;
    v.valid = true;
    v.ready = true;
    return v;
}

QStringList ids(const QList<UsbDevice>& devices)
{
    QStringList result;
    for (const UsbDevice& device : devices)
        result.append(device.id);
    return result;
}

} // namespace

class TestLinuxDeviceManager : public QObject
{
    Q_OBJECT

private slots:
    void usbStickWithMountedPartitionIsListedOnce_data();
    void usbStickWithMountedPartitionIsListedOnce();
    void mountInfoEscapesAndBrokenLines();
    void bindMountIsListedTwiceByMountedVolumes();
    void unmountedDevicesFromSysfs();
    void labelledPartitionMountDirectory_data();
    void labelledPartitionMountDirectory();
    void emptyCardReaderSlotIsNotListed();
    void opticalAndInternalDisksAreNeverListed();
    void resultKeepsPassOrder();
    void unreadableMountInfoLimitsToMountedVolumes();
    void realSystemListsNothingWithoutUsbStorage();
};

// Whether the stick is reported by QStorageInfo or only by mountinfo, it appears once:
// the disk is hidden by its partition and the partition is not repeated from sysfs.
void TestLinuxDeviceManager::usbStickWithMountedPartitionIsListedOnce_data()
{
    QTest::addColumn<bool>("reportedByQt");
    QTest::newRow("mounted volumes") << true;
    QTest::newRow("mountinfo only") << false;
}

void TestLinuxDeviceManager::usbStickWithMountedPartitionIsListedOnce()
{
    QFETCH(bool, reportedByQt);
    FakeSystem fake;
    fake.addUsbDisk(QStringLiteral("sdb"), {QStringLiteral("sdb1")});
    fake.addLabel(QStringLiteral("PENDRIVE"), QStringLiteral("sdb1"));
    const QString mountPoint = QStringLiteral("/media/alice/PENDRIVE");
    fake.mkdir(mountPoint);
    fake.setMountInfo(
        {FakeSystem::mountLine(40, mountPoint, QStringLiteral("/dev/sdb1"), QStringLiteral("vfat"))});
    if (reportedByQt)
        fake.volumes = {volume("/dev/sdb1", mountPoint, "vfat", QStringLiteral("PENDRIVE"))};
    else
        fake.storages.insert(mountPoint,
                             volume("/dev/sdb1", mountPoint, "msdos", QStringLiteral("PENDRIVE")));

    const QList<UsbDevice> devices = fake.detect();
    QCOMPARE(devices.size(), 1);
    const UsbDevice& stick = devices.first();
    QCOMPARE(stick.id, QStringLiteral("/dev/sdb1:/media/alice/PENDRIVE"));
    QCOMPARE(stick.devicePath, QStringLiteral("/dev/sdb1"));
    QCOMPARE(stick.rootPath, mountPoint);
    QCOMPARE(stick.displayName, QStringLiteral("PENDRIVE"));
    QCOMPARE(stick.fileSystemType, QStringLiteral("vfat")); // mountinfo's type wins over the storage's
    QVERIFY(stick.removable);                               // the flag lives on the disk, not the partition
    QVERIFY(stick.mounted);
}

void TestLinuxDeviceManager::mountInfoEscapesAndBrokenLines()
{
    FakeSystem fake;
    fake.addUsbDisk(QStringLiteral("sdb"), {QStringLiteral("sdb1")});
    fake.addUsbDisk(QStringLiteral("sdc"), {QStringLiteral("sdc1")}, false);
    fake.setMountInfo({
        QStringLiteral("garbage without separator"),
        QStringLiteral("41 29 8:17 / - vfat /dev/sdb1 rw"), // too few mount fields
        QStringLiteral("42 29 8:17 / /x rw - vfat"),        // too few source fields
        FakeSystem::mountLine(43, QStringLiteral("/media/alice/MY\\040DISK"), QStringLiteral("/dev/sdb1"),
                              QStringLiteral("exfat")),
        FakeSystem::mountLine(44, QStringLiteral("/mnt/back\\134040slash\\011tab"),
                              QStringLiteral("/dev/sdc1"), QString()),
    });
    // Nothing known about the first mount point; the second is found with a reported type.
    fake.storages.insert(QStringLiteral("/mnt/back\\040slash\ttab"),
                         volume("/dev/sdc1", QStringLiteral("/mnt/back\\040slash\ttab"), "ntfs3"));

    const QList<UsbDevice> devices = fake.detect();
    QCOMPARE(devices.size(), 2);
    QCOMPARE(devices[0].rootPath, QStringLiteral("/media/alice/MY DISK"));
    QCOMPARE(devices[0].id, QStringLiteral("/dev/sdb1:/media/alice/MY DISK"));
    QCOMPARE(devices[0].displayName, QStringLiteral("MY DISK"));
    QCOMPARE(devices[0].fileSystemType, QStringLiteral("exfat"));
    // An escaped backslash followed by digits stays a backslash and the digits.
    QCOMPARE(devices[1].rootPath, QStringLiteral("/mnt/back\\040slash\ttab"));
    QCOMPARE(devices[1].fileSystemType, QStringLiteral("ntfs3")); // empty type in mountinfo
    QVERIFY(!devices[1].removable);
}

void TestLinuxDeviceManager::bindMountIsListedTwiceByMountedVolumes()
{
    FakeSystem fake;
    fake.addUsbDisk(QStringLiteral("sdb"), {QStringLiteral("sdb1")});
    fake.addUsbDisk(QStringLiteral("sdc"), {QStringLiteral("sdc1")});
    fake.volumes = {
        volume("/dev/sdb1", QStringLiteral("/media/alice/DADOS"), "vfat", QStringLiteral("DADOS")),
        volume("/dev/sdb1", QStringLiteral("/srv/dados")),
        volume("/dev/sdb1", QStringLiteral("/srv/dados"))}; // the same root only once
    fake.setMountInfo({FakeSystem::mountLine(40, QStringLiteral("/media/alice/DADOS"),
                                             QStringLiteral("/dev/sdb1"), QStringLiteral("vfat")),
                       FakeSystem::mountLine(41, QStringLiteral("/srv/other"), QStringLiteral("/dev/sdb1"),
                                             QStringLiteral("vfat")),
                       // Another stick mounted over a directory already listed: that root is taken.
                       FakeSystem::mountLine(42, QStringLiteral("/srv/dados"), QStringLiteral("/dev/sdc1"),
                                             QStringLiteral("vfat"))});

    const QList<UsbDevice> devices = fake.detect();
    QCOMPARE(ids(devices),
             QStringList({QStringLiteral("/dev/sdb1:/media/alice/DADOS"),
                          QStringLiteral("/dev/sdb1:/srv/dados"), QStringLiteral("/dev/sdc1")}));
    QCOMPARE(devices[1].displayName, QStringLiteral("dados"));
}

void TestLinuxDeviceManager::unmountedDevicesFromSysfs()
{
    FakeSystem fake;
    fake.addUsbDisk(QStringLiteral("sdc"), {}, false); // partitionless
    fake.addUsbDisk(QStringLiteral("sdd"),
                    {QStringLiteral("sdd1"), QStringLiteral("sdd2")}); // two partitions
    fake.addLabel(QStringLiteral("BACKUP"), QStringLiteral("sdd2"));
    fake.mkdir(QStringLiteral("/media/alice/sdd1")); // the kernel name stands in for a missing label
    fake.setMountInfo({});

    QList<UsbDevice> devices = fake.detect();
    std::sort(devices.begin(), devices.end(),
              [](const UsbDevice& a, const UsbDevice& b) { return a.id < b.id; });
    QCOMPARE(ids(devices), QStringList({QStringLiteral("/dev/sdc"), QStringLiteral("/dev/sdd1"),
                                        QStringLiteral("/dev/sdd2")}));

    const UsbDevice& disk = devices[0];
    QCOMPARE(disk.devicePath, QStringLiteral("/dev/sdc"));
    QCOMPARE(disk.displayName, QStringLiteral("sdc"));
    QVERIFY(disk.rootPath.isEmpty());
    QVERIFY(disk.fileSystemType.isEmpty());
    QVERIFY(!disk.removable);
    QVERIFY(!disk.mounted);

    // A folder left behind by an earlier mount is a folder of the local disk, not the stick.
    QCOMPARE(devices[1].displayName, QStringLiteral("sdd1"));
    QVERIFY(devices[1].rootPath.isEmpty());
    QVERIFY(!devices[1].mounted);
    QVERIFY(devices[1].removable);

    QCOMPARE(devices[2].displayName, QStringLiteral("BACKUP"));
    QVERIFY(devices[2].rootPath.isEmpty());
    QVERIFY(!devices[2].mounted);
}

// Media directories are tried pattern by pattern, each for USER then LOGNAME, then /mnt; a
// directory counts only where the kernel has the device mounted (from a link such as
// /dev/disk/by-label/..., which the mountinfo pass does not take, or found by device number).
// "mounted:" mounts the partition there, "numbered:" mounts it under a name found only by its
// number, "other:" mounts another device there, "file:" makes a file; a bare path is a folder.
void TestLinuxDeviceManager::labelledPartitionMountDirectory_data()
{
    QTest::addColumn<QByteArray>("user");
    QTest::addColumn<QByteArray>("logName");
    QTest::addColumn<QStringList>("directories");
    QTest::addColumn<QString>("expectedRoot");

    const QString media = QStringLiteral("/media/alice/DADOS");
    const QString runMedia = QStringLiteral("/run/media/alice/DADOS");
    QTest::newRow("no directory") << QByteArray("alice") << QByteArray("alice") << QStringList() << QString();
    QTest::newRow("media of user") << QByteArray("alice") << QByteArray("alice")
                                   << QStringList{"mounted:" + media} << media;
    QTest::newRow("run media") << QByteArray("alice") << QByteArray() << QStringList{"mounted:" + runMedia}
                               << runMedia;
    QTest::newRow("media of logname before run media of user")
        << QByteArray("alice") << QByteArray("bob")
        << QStringList{"mounted:" + runMedia, QStringLiteral("mounted:/media/bob/DADOS")}
        << QStringLiteral("/media/bob/DADOS");
    QTest::newRow("only logname set")
        << QByteArray() << QByteArray("bob") << QStringList{QStringLiteral("mounted:/media/bob/DADOS")}
        << QStringLiteral("/media/bob/DADOS");
    QTest::newRow("mnt after media") << QByteArray("alice") << QByteArray("alice")
                                     << QStringList{QStringLiteral("mounted:/mnt/DADOS"),
                                                    "mounted:" + runMedia}
                                     << runMedia;
    QTest::newRow("no user: only mnt")
        << QByteArray() << QByteArray()
        << QStringList{"mounted:" + media, QStringLiteral("mounted:/mnt/DADOS")}
        << QStringLiteral("/mnt/DADOS");
    QTest::newRow("no user and no mnt")
        << QByteArray() << QByteArray() << QStringList{"mounted:" + media} << QString();
    QTest::newRow("a file is not a directory")
        << QByteArray("alice") << QByteArray("alice") << QStringList{"file:" + media} << QString();
    QTest::newRow("leftover folder") << QByteArray("alice") << QByteArray("alice") << QStringList{media}
                                     << QString();
    QTest::newRow("leftover folder before the real mount")
        << QByteArray("alice") << QByteArray("alice") << QStringList{media, "mounted:" + runMedia}
        << runMedia;
    QTest::newRow("another device mounted there")
        << QByteArray("alice") << QByteArray("alice") << QStringList{"other:" + media} << QString();
    QTest::newRow("found by device number")
        << QByteArray("alice") << QByteArray("alice") << QStringList{"numbered:" + media} << media;
}

void TestLinuxDeviceManager::labelledPartitionMountDirectory()
{
    QFETCH(QByteArray, user);
    QFETCH(QByteArray, logName);
    QFETCH(QStringList, directories);
    QFETCH(QString, expectedRoot);

    FakeSystem fake;
    fake.addUsbDisk(QStringLiteral("sdb"), {QStringLiteral("sdb1")});
    fake.addLabel(QStringLiteral("DADOS"), QStringLiteral("sdb1"));
    fake.writeFile(QStringLiteral("/sys/class/block/sdb1/dev"), "8:17\n");
    fake.environment.clear();
    if (!user.isEmpty())
        fake.environment.insert("USER", user);
    if (!logName.isEmpty())
        fake.environment.insert("LOGNAME", logName);
    QStringList mounts;
    const auto mountLine = [&](const QString& at, const QString& numbers, const QString& source) {
        mounts << QStringLiteral("%1 29 %2 / %3 rw - vfat %4 rw")
                      .arg(40 + mounts.size())
                      .arg(numbers, at, source);
    };
    for (const QString& directory : directories) {
        const QString at = directory.section(QLatin1Char(':'), -1);
        if (directory.startsWith(QLatin1String("file:"))) {
            fake.writeFile(at, "x");
            continue;
        }
        fake.mkdir(at);
        if (directory.startsWith(QLatin1String("mounted:")))
            mountLine(at, QStringLiteral("0:99"), QStringLiteral("/dev/disk/by-label/DADOS"));
        else if (directory.startsWith(QLatin1String("numbered:")))
            mountLine(at, QStringLiteral("8:17"), QStringLiteral("/dev/root"));
        else if (directory.startsWith(QLatin1String("other:")))
            mountLine(at, QStringLiteral("8:1"), QStringLiteral("/dev/sda1"));
    }
    fake.setMountInfo(mounts);

    const QList<UsbDevice> devices = fake.detect();
    QCOMPARE(devices.size(), 1);
    QCOMPARE(devices[0].id, QStringLiteral("/dev/sdb1"));
    QCOMPARE(devices[0].displayName, QStringLiteral("DADOS"));
    QCOMPARE(devices[0].rootPath, expectedRoot.isEmpty() ? QString() : fake.path(expectedRoot));
    QCOMPARE(devices[0].mounted, !expectedRoot.isEmpty());
}

void TestLinuxDeviceManager::emptyCardReaderSlotIsNotListed()
{
    FakeSystem fake;
    fake.addUsbDisk(QStringLiteral("sdb"), {}, true, "0", "0");
    fake.addUsbDisk(QStringLiteral("sdc"), {}, true, "0", "62333952");
    fake.setMountInfo({});
    QCOMPARE(ids(fake.detect()), QStringList{QStringLiteral("/dev/sdc")});
}

void TestLinuxDeviceManager::opticalAndInternalDisksAreNeverListed()
{
    FakeSystem fake;
    fake.addUsbDisk(QStringLiteral("sr0"), {}, true, "5"); // USB DVD drive
    fake.addUsbDisk(QStringLiteral("sr1"), {}, true, "5"); // another, unmounted
    fake.addSataDisk(QStringLiteral("sda"), {QStringLiteral("sda1"), QStringLiteral("sda2")}, true);
    fake.addSataDisk(QStringLiteral("sde"), {}, true);
    fake.addNvmeDisk(QStringLiteral("nvme0n1"), {QStringLiteral("nvme0n1p1"), QStringLiteral("nvme0n1p2")});
    fake.mkdir(QStringLiteral("/sys/devices/virtual/block/loop0"));
    fake.symlink(QStringLiteral("../../devices/virtual/block/loop0"),
                 QStringLiteral("/sys/class/block/loop0"));
    fake.addLabel(QStringLiteral("WINDOWS"), QStringLiteral("sda2"));
    fake.mkdir(QStringLiteral("/media/alice/WINDOWS"));
    fake.volumes = {volume("/dev/sr0", QStringLiteral("/media/alice/CDROM"), "iso9660"),
                    volume("/dev/sda1", QStringLiteral("/"), "ext4"),
                    volume("/dev/nvme0n1p2", QStringLiteral("/home"), "ext4"),
                    volume("/dev/loop0", QStringLiteral("/snap/core/1"), "squashfs"),
                    volume("/dev/../sys", QStringLiteral("/weird"), "x"),
                    volume("tmpfs", QStringLiteral("/tmp"), "tmpfs")};
    fake.setMountInfo(
        {FakeSystem::mountLine(40, QStringLiteral("/media/alice/CDROM"), QStringLiteral("/dev/sr0"),
                               QStringLiteral("iso9660")),
         FakeSystem::mountLine(41, QStringLiteral("/boot"), QStringLiteral("/dev/nvme0n1p1"),
                               QStringLiteral("vfat")),
         FakeSystem::mountLine(42, QStringLiteral("/data"), QStringLiteral("/dev/sde"),
                               QStringLiteral("ext4")),
         FakeSystem::mountLine(43, QStringLiteral("/x"), QStringLiteral("/dev/.."), QStringLiteral("ext4"))});

    QCOMPARE(fake.detect(), QList<UsbDevice>());
}

void TestLinuxDeviceManager::resultKeepsPassOrder()
{
    FakeSystem fake;
    // Created so that sysfs would list the unmounted devices before the mounted ones.
    fake.addUsbDisk(QStringLiteral("sda"), {});
    fake.addUsbDisk(QStringLiteral("sdz"), {QStringLiteral("sdz1")});
    fake.addUsbDisk(QStringLiteral("sdy"), {QStringLiteral("sdy1")});
    fake.addUsbDisk(QStringLiteral("sdx"), {QStringLiteral("sdx1")});
    fake.addUsbDisk(QStringLiteral("sdb"), {});
    fake.volumes = {volume("/dev/sdz1", QStringLiteral("/media/alice/Z")),
                    volume("/dev/sdy1", QStringLiteral("/media/alice/Y"))};
    fake.setMountInfo({FakeSystem::mountLine(40, QStringLiteral("/media/alice/Y"),
                                             QStringLiteral("/dev/sdy1"), QStringLiteral("vfat")),
                       FakeSystem::mountLine(41, QStringLiteral("/media/alice/X"),
                                             QStringLiteral("/dev/sdx1"), QStringLiteral("vfat"))});

    const QStringList found = ids(fake.detect());
    QCOMPARE(found.size(), 5);
    QCOMPARE(found.mid(0, 3), QStringList({QStringLiteral("/dev/sdz1:/media/alice/Z"),
                                           QStringLiteral("/dev/sdy1:/media/alice/Y"),
                                           QStringLiteral("/dev/sdx1:/media/alice/X")}));
    QCOMPARE(QSet<QString>(found.cbegin() + 3, found.cend()),
             QSet<QString>({QStringLiteral("/dev/sda"), QStringLiteral("/dev/sdb")}));
}

void TestLinuxDeviceManager::unreadableMountInfoLimitsToMountedVolumes()
{
    FakeSystem fake;
    fake.addUsbDisk(QStringLiteral("sdb"), {QStringLiteral("sdb1")});
    fake.addUsbDisk(QStringLiteral("sdc"), {});
    fake.volumes = {volume("/dev/sdb1", QStringLiteral("/media/alice/B"))};
    QCOMPARE(ids(fake.detect()), QStringList{QStringLiteral("/dev/sdb1:/media/alice/B")});
}

void TestLinuxDeviceManager::realSystemListsNothingWithoutUsbStorage()
{
    const QFileInfoList entries =
        QDir(QStringLiteral("/sys/class/block")).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QFileInfo& entry : entries) {
        if (entry.canonicalFilePath().contains(QLatin1String("/usb")))
            QSKIP("this machine has USB storage attached");
    }
    QCOMPARE(LinuxDeviceManager().detectUsbDevices(), QList<UsbDevice>());
    const auto manager = Keldra::Platform::createPlatformDeviceManager();
    QVERIFY(manager);
    QCOMPARE(manager->detectUsbDevices(), QList<UsbDevice>());
}

QTEST_GUILESS_MAIN(TestLinuxDeviceManager)
#include "test_linux_device_manager.moc"
