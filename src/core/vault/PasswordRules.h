#pragma once

#include <QByteArray>
#include <QString>

// The length rules for vault passwords, shared by the window and keldra-cli.
// A new vault's password counts in the UTF-8 bytes that are stored and
// derived from (five two-byte letters pass); a changed password counts in
// characters as typed (UTF-16 code units). Both counts stay as they always
// were, so no password people already chose is refused.
namespace Keldra::Core::PasswordRules {

inline constexpr int MinimumLength = 10;

inline bool longEnoughForNewVault(const QByteArray& utf8Password)
{
    return utf8Password.size() >= MinimumLength;
}

inline bool longEnoughForChange(const QString& password)
{
    return password.size() >= MinimumLength;
}

} // namespace Keldra::Core::PasswordRules
