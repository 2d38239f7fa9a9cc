#pragma once

#include <QByteArray>
#include <QDialog>

#include <functional>

class QLineEdit;

namespace Keldra::UI {

// Asks for the current password and a confirmed new one. Whether the current
// password is right is left to the vault, through the change attempt.
class ChangePasswordDialog : public QDialog
{
    Q_OBJECT

public:
    explicit ChangePasswordDialog(QWidget* parent = nullptr);

    // UTF-8 bytes of the fields, untrimmed.
    QByteArray currentPassword() const;
    QByteArray newPassword() const;

    // Run with (current, new) once the fields pass their checks; true closes
    // the dialog as accepted, false keeps it open (the attempt has said why).
    using ChangeAttempt = std::function<bool(const QByteArray&, const QByteArray&)>;
    void setChangeAttempt(const ChangeAttempt& attempt) { m_attempt = attempt; }

public slots:
    void validateAndAccept();

private:
    QLineEdit* m_currentPasswordEdit = nullptr;
    QLineEdit* m_newPasswordEdit = nullptr;
    QLineEdit* m_confirmPasswordEdit = nullptr;
    ChangeAttempt m_attempt;
};

} // namespace Keldra::UI
