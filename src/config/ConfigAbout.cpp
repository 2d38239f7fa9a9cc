#include "config/ConfigAbout.h"

#include "KeldraVersion.h"

#include <QCoreApplication>

namespace Keldra::Config {

QString publisherName()
{
    return QStringLiteral("Keldra Tecnologia");
}

Widgets::AboutContent configAboutContent()
{
    Widgets::AboutContent content;
    content.windowTitle = QStringLiteral("Sobre o Keldra");
    content.heading = QStringLiteral("KeldraConfig");
    content.productText = QStringLiteral("Preparador e atualizador de unidades USB Keldra<br>Versão %1"
                                         "<br><br>Publicado por %2."
                                         "<br>Copyright © 2026 %2. Todos os direitos reservados."
                                         "<br>Suporte e atualizações: " KELDRA_UPDATE_HOST)
                              .arg(QCoreApplication::applicationVersion(), publisherName().toHtmlEscaped());
    content.componentsCaption = QStringLiteral("Componentes relevantes:");
    const QString qt = QStringLiteral("Qt Core/Network/Widgets - %1").arg(QString::fromLatin1(qVersion()));
    const QString gnu = QStringLiteral("Bibliotecas de runtime GNU (glibc, libstdc++)");
    const QString linuxApis = QStringLiteral("Interfaces do Linux (/proc, /sys, /dev/disk)");
    content.components = {
        {qt,
         qt + QStringLiteral("\nUsado para interface gráfica, acesso HTTP, JSON, hash SHA-256 e operações "
                             "de arquivo.")},
        {QStringLiteral("libsodium"),
         QStringLiteral(
             "libsodium\nUsada para conferir a assinatura Ed25519 das atualizações. Licença: ISC.")},
        {QStringLiteral("libzip"),
         QStringLiteral("libzip\nUsada para ler e extrair os pacotes de atualização. "
                        "Licença: BSD de 3 cláusulas.")},
        {gnu, gnu + QStringLiteral("\nBiblioteca C e runtime do compilador GCC do sistema Linux.")},
        {linuxApis,
         linuxApis + QStringLiteral("\nUsadas para detecção de unidades removíveis e de seus pontos de "
                                    "montagem.")},
    };
    content.legalText = QStringLiteral(
        "Este programa é fornecido \"como está\", sem garantias de qualquer tipo. A preparação "
        "copia arquivos para a unidade USB sem formatá-la; mantenha cópias de segurança dos seus "
        "dados. As marcas citadas pertencem aos seus respectivos titulares.");
    content.size = QSize(720, 430);
    return content;
}

} // namespace Keldra::Config
