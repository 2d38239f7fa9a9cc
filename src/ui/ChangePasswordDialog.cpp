#include "ui/ChangePasswordDialog.h"

#include "widgets/DialogHooks.h"

#include "core/crypto/SecureMemory.h"
#include "core/vault/PasswordRules.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace Keldra::UI {

using Widgets::DialogHooks;

namespace {

QLineEdit* passwordField(QWidget* parent, const QString& objectName)
{
    auto* field = new QLineEdit(parent);
    field->setObjectName(objectName);
    field->setEchoMode(QLineEdit::Password);
    return field;
}

} // namespace

ChangePasswordDialog::ChangePasswordDialog(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Alterar senha do cofre"));
    setModal(true);

    m_currentPasswordEdit = passwordField(this, QStringLiteral("currentPasswordEdit"));
    m_newPasswordEdit = passwordField(this, QStringLiteral("newPasswordEdit"));
    m_confirmPasswordEdit = passwordField(this, QStringLiteral("confirmPasswordEdit"));

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Senha atual:"), m_currentPasswordEdit);
    form->addRow(QStringLiteral("Nova senha:"), m_newPasswordEdit);
    form->addRow(QStringLiteral("Confirmar nova senha:"), m_confirmPasswordEdit);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("Alterar"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Cancelar"));
    connect(buttons, &QDialogButtonBox::accepted, this, &ChangePasswordDialog::validateAndAccept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
}

QByteArray ChangePasswordDialog::currentPassword() const
{
    return m_currentPasswordEdit->text().toUtf8();
}

QByteArray ChangePasswordDialog::newPassword() const
{
    return m_newPasswordEdit->text().toUtf8();
}

void ChangePasswordDialog::validateAndAccept()
{
    const QString title = QStringLiteral("Alterar senha");
    if (m_currentPasswordEdit->text().isEmpty()) {
        DialogHooks::warning(this, title, QStringLiteral("Informe a senha atual."));
        return;
    }
    if (!Core::PasswordRules::longEnoughForChange(m_newPasswordEdit->text())) {
        DialogHooks::warning(this, title, QStringLiteral("Use uma nova senha com pelo menos 10 caracteres."));
        return;
    }
    if (m_confirmPasswordEdit->text() != m_newPasswordEdit->text()) {
        DialogHooks::warning(this, title, QStringLiteral("A confirmação não coincide com a nova senha."));
        return;
    }
    if (m_attempt) {
        QByteArray current = currentPassword();
        QByteArray replacement = newPassword();
        const bool done = m_attempt(current, replacement);
        Core::wipe(current);
        Core::wipe(replacement);
        if (!done) {
            m_currentPasswordEdit->selectAll();
            m_currentPasswordEdit->setFocus();
            return;
        }
    }
    accept();
}

} // namespace Keldra::UI
