#include "ConfigAbout.h"

#include "KeldraVersion.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSysInfo>
#include <QVBoxLayout>

namespace Keldra::Config {

QString publisherName()
{
    return QStringLiteral("Oficina Keldra");
}

ConfigAboutDialog::ConfigAboutDialog(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Sobre o Keldra - Gerenciador"));
    resize(720, 430);

    auto* layout = new QVBoxLayout(this);
    auto* grid = new QGridLayout;

    auto* header = new QHBoxLayout;
    header->setSpacing(8);
    auto* iconLabel = new QLabel(this);
    iconLabel->setFixedSize(42, 42);
    iconLabel->setAlignment(Qt::AlignCenter);
    iconLabel->setPixmap(QIcon(QStringLiteral(":/icons/Keldra.ico")).pixmap(42, 42));
    auto* titleLabel = new QLabel(QStringLiteral("Keldra - Gerenciador"), this);
    QFont titleFont = font();
    titleFont.setPointSize(titleFont.pointSize() + 12);
    titleFont.setWeight(QFont::DemiBold);
    titleLabel->setFont(titleFont);
    titleLabel->setStyleSheet(QStringLiteral("color: #0B4F8A;"));
    header->addWidget(iconLabel);
    header->addWidget(titleLabel);
    header->addStretch();
    grid->addLayout(header, 0, 0, 1, 2);

    auto* productLabel =
        new QLabel(QStringLiteral("Preparador e atualizador de unidades USB Keldra<br>Versão %1"
                                  "<br><br>Publicado por %2."
                                  "<br>Copyright © 2026 %2. Todos os direitos reservados."
                                  "<br>Suporte e atualizações: " KELDRA_UPDATE_HOST)
                       .arg(QCoreApplication::applicationVersion(), publisherName().toHtmlEscaped()),
                   this);
    productLabel->setTextFormat(Qt::RichText);
    productLabel->setWordWrap(true);
    productLabel->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    grid->addWidget(productLabel, 1, 0);

    auto* environmentLabel =
        new QLabel(QStringLiteral("Ambiente de execução\n%1\nQt %2\n%3")
                       .arg(QSysInfo::prettyProductName(), QString::fromLatin1(qVersion()),
                            QSysInfo::currentCpuArchitecture()),
                   this);
    environmentLabel->setWordWrap(true);
    environmentLabel->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    grid->addWidget(environmentLabel, 1, 1);
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(1, 1);
    layout->addLayout(grid);

    layout->addSpacing(8);
    layout->addWidget(new QLabel(QStringLiteral("Componentes relevantes:"), this));
    auto* components = new QPlainTextEdit(this);
    components->setReadOnly(true);
    components->setMinimumHeight(120);
    components->setPlainText(
        QStringLiteral(
            "Qt Core/Network/Widgets - %1\n"
            "Usado para interface gráfica, acesso HTTP, JSON, hash SHA-256 e operações de arquivo.\n\n"
            "libsodium\n"
            "Usada para conferir a assinatura Ed25519 das atualizações. Licença: ISC.\n\n"
            "libzip\n"
            "Usada para ler e extrair os pacotes de atualização. Licença: BSD de 3 cláusulas.\n\n"
            "Bibliotecas de runtime GNU (glibc, libstdc++)\n"
            "Biblioteca C e runtime do compilador GCC do sistema Linux.\n\n"
            "Interfaces do Linux (/proc, /sys, /dev/disk)\n"
            "Usadas para detecção de unidades removíveis e de seus pontos de montagem.")
            .arg(QString::fromLatin1(qVersion())));
    layout->addWidget(components);

    auto* legal = new QLabel(
        QStringLiteral(
            "Este programa é fornecido \"como está\", sem garantias de qualquer tipo. A preparação "
            "copia arquivos para a unidade USB sem formatá-la; mantenha cópias de segurança dos seus "
            "dados. As marcas citadas pertencem aos seus respectivos titulares."),
        this);
    legal->setWordWrap(true);
    layout->addWidget(legal);

    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(QStringLiteral("Fechar"), QDialogButtonBox::AcceptRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(buttons);
}

} // namespace Keldra::Config
