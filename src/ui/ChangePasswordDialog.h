#pragma once

#include <QByteArray>
#include <QDialog>

class QLineEdit;

namespace Keldra::UI {

// Asks for the current password and a confirmed new one. Whether the current
// password is right is left to the vault.
class ChangePasswordDialog : public QDialog
{
    Q_OBJECT

public:
    explicit ChangePasswordDialog(QWidget* parent = nullptr);

    // UTF-8 bytes of the fields, untrimmed.
    QByteArray currentPassword() const;
    QByteArray newPassword() const;

public slots:
    void validateAndAccept();

private:
    QLineEdit* m_currentPasswordEdit = nullptr;
    QLineEdit* m_newPasswordEdit = nullptr;
    QLineEdit* m_confirmPasswordEdit = nullptr;
};

} // namespace Keldra::UI
