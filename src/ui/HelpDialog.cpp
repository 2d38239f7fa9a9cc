#include "ui/HelpDialog.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QPushButton>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace Keldra::UI {

HelpDialog::HelpDialog(QWidget* parent) : QDialog(parent)
{
    buildUi();
    loadHelpContent();
}

void HelpDialog::buildUi()
{
    setWindowTitle(QStringLiteral("Ajuda do Keldra"));
    setModal(true);
    resize(760, 560);

    m_textBrowser = new QTextBrowser(this);
    m_textBrowser->setOpenExternalLinks(true);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->button(QDialogButtonBox::Close)->setText(QStringLiteral("Fechar"));
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_textBrowser);
    layout->addWidget(buttons);
}

void HelpDialog::loadHelpContent()
{
    QFile file(QStringLiteral(":/help/pt_BR/index.html"));
    if (file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        m_textBrowser->setHtml(QString::fromUtf8(file.readAll()));
        return;
    }
    m_textBrowser->setHtml(QStringLiteral(
        "<h1>Ajuda indisponível</h1><p>Não foi possível carregar o arquivo de ajuda do Keldra.</p>"));
}

} // namespace Keldra::UI
