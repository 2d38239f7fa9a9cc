#include "ui/PreferencesDialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace Keldra::UI {

PreferencesDialog::PreferencesDialog(int inactivityMinutes, QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Preferências"));
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    m_minutes = new QSpinBox(this);
    m_minutes->setObjectName(QStringLiteral("inactivityMinutes"));
    m_minutes->setRange(0, 24 * 60);
    // 0 reads as the word: the vault is then never locked for inactivity.
    m_minutes->setSpecialValueText(QStringLiteral("nunca"));
    m_minutes->setSuffix(QStringLiteral(" min"));
    m_minutes->setValue(inactivityMinutes);
    auto* label = new QLabel(QStringLiteral("&Bloquear o cofre após inatividade de:"), this);
    label->setBuddy(m_minutes);
    form->addRow(label, m_minutes);
    layout->addLayout(form);
    auto* note = new QLabel(QStringLiteral("O cofre também é bloqueado quando a sessão é bloqueada ou o "
                                           "computador entra em suspensão. Com arquivos abertos para "
                                           "edição ele não é bloqueado: a barra de status avisa."),
                            this);
    note->setWordWrap(true);
    layout->addWidget(note);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("OK"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Cancelar"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    setMinimumWidth(420);
}

int PreferencesDialog::inactivityMinutes() const
{
    return m_minutes->value();
}

} // namespace Keldra::UI
