#pragma once

#include <QMetaType>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

namespace Keldra::Deployment {

// Why preparing or updating a drive failed: a reason KeldraConfig and keldra-cli
// turn into their Portuguese message (DeploymentErrorText), the values that
// message names (a path, a size, an address), and a short detail in English for
// logs and test output. A step that fails because an inner one did keeps that
// one as its cause, so the message can say both. A default Error means "no
// failure"; there is deliberately no conversion to bool.
class Error
{
    Q_GADGET

public:
    enum class Reason {
        None,

        // The update manifest (parseUpdateManifest)
        ManifestMalformed,     // not JSON; argument: the parser's own text
        ManifestNotKeldra,     // another app's manifest, or an unknown schema
        ManifestIncomplete,    // no version, packageUrl or sha256
        ManifestBadVersion,    // a version that is not N.N.N
        ManifestBadPackageUrl, // a package address other than https

        // The drive's update records; argument: the file
        JournalNotWritable,    // the record of an update in progress
        StateFolderNotCreated, // no argument
        StateFileNotOpened,
        StateFileNotSaved,

        // Downloads (httpGet, httpDownload); the address is the last argument
        AddressNotAllowed,  // not https (plain http only on loopback)
        ResponseTooLarge,   // arguments: the limit in bytes, the address
        RedirectNotAllowed, // argument: where the redirect pointed
        TimedOut,
        HttpStatus,   // arguments: the status (400 or above), the address
        NetworkError, // argument: Qt's own text
        EmptyResponse,
        PackageNotStored, // the local copy of the package; argument: the file

        // The update package (inspectZip, extractZip, validateExtractedPackage)
        PackageDamaged,          // libzip refused it; argument: libzip's own text
        PackageUnsafePath,       // argument: the entry's name, as shown
        PackageHasLink,          // argument: the entry's name
        PackageSpecialEntry,     // neither file nor folder; argument: the entry's name
        PackageTooManyEntries,   // arguments: the count, the limit
        PackageTooLarge,         // argument: the limit in bytes
        PackageEntrySizeWrong,   // inflates beyond or short of its size; argument: the entry's name
        ExtractFolderNotCreated, // argument: the folder
        ExtractParentNotCreated, // argument: the file whose folder it is
        ExtractFileNotCreated,   // argument: the file
        ExtractFileNotWritten,   // argument: the file
        StagingNotCreated,       // argument: the folder
        PackageMissingFile,      // argument: the missing path
        PackageMissingFolder,    // argument: the missing path

        // The bundle swap and its recovery; argument: the folder
        BackupNotCreated,
        BundleNotReplaced,
        NotRemoved,
        BackupNotRestored,

        // Preparing a drive (PortableBundleManager, removeBundleLinks)
        DriveInvalid,              // the drive's root is no folder
        PreparationRecoveryFailed, // cause: why an interrupted update could not be completed or undone
        LinkNotRemoved,            // argument: the link
        FreeSpaceUnknown,          // the volume does not say how much room it has
        NoBundleSource,            // nothing to copy: no bundle was found
        NotEnoughRoom,             // arguments: bytes needed, bytes usable
        DriveTooSmall,             // the bundle would take over a quarter; arguments: capacity, bundle
        FolderNotCreated,          // argument: the folder
        FileNotCopied,             // the source cannot be opened; argument: its name
        FileNotRead,               // the source stopped short; argument: its name
        FileNotCreated,            // argument: the file on the drive
        FileNotWritten,            // argument: the file on the drive
        FileNotFinished,           // the copy could not be committed; argument: the file
        FileNotSaved,              // a text file could not be committed; argument: the file
        ExecutableNotFound,        // argument: the program given
        ExecutableNotCopied,       // argument: the destination; cause: the copy's failure
        SourceFolderNotFound,      // argument: the folder
        LibraryNotCopied,          // argument: the library's name; cause: the copy's failure
        DependenciesUnknown,       // ldd listed nothing; argument: the program
        TlsLibrariesNotListed,     // ldconfig -p failed
        TlsLibraryMissing,         // no libssl.so in the loader cache
        PreparationCancelled,      // stopped on request; the drive holds what it held before
        PreparationNotUndone,      // stopped on request, but a change stayed; argument: its path

        // Updating a drive (BundleUpdater::updateDrive)
        DriveNotPrepared,      // no Keldra folder to update
        KeldraRunning,         // the application may hold the bundles open
        UpdateRecoveryFailed,  // cause: why an interrupted update could not be completed or undone
        ManifestUnreachable,   // cause: the download's failure
        ManifestInvalid,       // cause: what parseUpdateManifest refused
        ManifestUnsigned,      // not signed by the trusted key
        DownloadFailed,        // the package's download; cause: its failure
        PackageSizeDiffers,    // arguments: the size announced, the bytes received
        PackageHashDiffers,    // the SHA-256 is not the manifest's
        PackageNotPrepared,    // cause: why the package cannot be unpacked onto the drive
        UpdateNoRoom,          // arguments: bytes the package unpacks to, bytes free
        StagingAreaNotCreated, // the folder on the drive the package is unpacked into
        UpdateNotApplied,      // cause: why the swap failed (it was undone)
        UpdateInterrupted,     // stopped mid-swap; the next run completes or undoes it
    };
    Q_ENUM(Reason)

    Error() = default;
    explicit Error(Reason reason, const QStringList& arguments = {}, const QString& detail = QString())
        : m_reason(reason), m_arguments(arguments), m_detail(detail)
    {
    }
    // reason failed because of cause (which must be a failure).
    Error(Reason reason, const Error& cause, const QStringList& arguments = {});

    Reason reason() const { return m_reason; }
    // The values the message names, in its order; an empty string past the end.
    const QStringList& arguments() const { return m_arguments; }
    QString argument(int index) const { return m_arguments.value(index); }
    const QString& detail() const { return m_detail; }
    // The inner failure this one wraps, or null.
    const Error* cause() const { return m_cause.get(); }
    bool ok() const { return m_reason == Reason::None; }
    bool is(Reason reason) const { return m_reason == reason; }

    // The same failure with a more specific detail in front ("journal: ...").
    Error within(const QString& context) const;
    // "BundleSwapFailed [/media/x/Keldra/linux] <- RemoveFailed [...] (detail)", for logs and tests.
    QString toString() const;
    static QString reasonName(Reason reason);

private:
    Reason m_reason = Reason::None;
    QStringList m_arguments;
    QString m_detail;
    std::shared_ptr<const Error> m_cause;
};

} // namespace Keldra::Deployment
