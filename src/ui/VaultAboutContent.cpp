#include "ui/VaultAboutContent.h"

#include "KeldraVersion.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QMap>

#include <openssl/crypto.h>
#include <sodium.h>

namespace Keldra::UI {

namespace {

const QString kMakerUrl = QStringLiteral(KELDRA_WEB_SITE);

QString qtDetails()
{
    const QString licensing = QStringLiteral(
        "O Qt é oferecido pela The Qt Company sob licenças comerciais e sob a GNU LGPL versão 3 "
        "(alguns módulos também sob a GNU GPL). Quando distribuído sob a LGPL, as bibliotecas Qt "
        "devem permanecer substituíveis pelo usuário e os avisos de copyright e de licença do Qt "
        "devem ser preservados junto com a aplicação.");
    return QStringLiteral("Qt Framework\nMódulos usados pelo Keldra: Qt Core e Qt Widgets.\n%1\n"
                          "Prefixo de instalação do Qt detectado em tempo de execução:\n%2")
        .arg(licensing, QLibraryInfo::path(QLibraryInfo::PrefixPath));
}

QString sodiumDetails()
{
    return QStringLiteral(
        "libsodium\n"
        "Biblioteca de criptografia usada pelo Keldra para a derivação de chaves com Argon2id e "
        "para a cifragem autenticada com XChaCha20-Poly1305.\n"
        "Licença: ISC.\n"
        "Copyright (c) 2013-2019 Frank Denis <j at pureftpd dot org>\n"
        "Permission to use, copy, modify, and/or distribute this software for any purpose with or "
        "without fee is hereby granted, provided that the above copyright notice and this "
        "permission notice appear in all copies.\n"
        "THE SOFTWARE IS PROVIDED \"AS IS\" AND THE AUTHOR DISCLAIMS ALL WARRANTIES WITH REGARD TO "
        "THIS SOFTWARE INCLUDING ALL IMPLIED WARRANTIES OF MERCHANTABILITY AND FITNESS. IN NO EVENT "
        "SHALL THE AUTHOR BE LIABLE FOR ANY SPECIAL, DIRECT, INDIRECT, OR CONSEQUENTIAL DAMAGES OR "
        "ANY DAMAGES WHATSOEVER RESULTING FROM LOSS OF USE, DATA OR PROFITS, WHETHER IN AN ACTION "
        "OF CONTRACT, NEGLIGENCE OR OTHER TORTIOUS ACTION, ARISING OUT OF OR IN CONNECTION WITH "
        "THE USE OR PERFORMANCE OF THIS SOFTWARE.\n"
        "Este aviso ISC deve acompanhar a biblioteca sempre que ela for distribuída com a "
        "aplicação.");
}

QString opensslDetails()
{
    return QStringLiteral(
        "OpenSSL (libcrypto)\n"
        "Usada pelo Keldra para o SHA-256 e para cifrar os blocos dos arquivos com ChaCha20-Poly1305.\n"
        "Licença: Apache License 2.0. Copyright (c) 1998-2025 The OpenSSL Project Authors. "
        "Copyright (c) 1995-1998 Eric A. Young, Tim J. Hudson.\n"
        "Este aviso e uma cópia da licença devem acompanhar a biblioteca sempre que ela for "
        "distribuída com a aplicação.");
}

// The runtime and system interfaces of the build that is running: the Windows program is
// built with MinGW-w64 and ships its runtime DLLs; the Linux one uses the system's libraries.
void insertPlatformComponents(QMap<QString, QString>* components)
{
#ifdef Q_OS_WIN
    components->insert(
        QStringLiteral("Runtime MinGW-w64 (libstdc++, libgcc, winpthreads)"),
        QStringLiteral("Runtime MinGW-w64\nBibliotecas de runtime do compilador GCC para Windows, "
                       "enviadas junto com o Keldra.exe: libstdc++-6.dll, libgcc_s_seh-1.dll e "
                       "libwinpthread-1.dll.\nlibstdc++ e libgcc: GNU GPL versão 3 com a GCC Runtime "
                       "Library Exception. winpthreads: licença MIT. Os avisos de licença devem "
                       "acompanhar as bibliotecas quando distribuídas com a aplicação."));
    components->insert(
        QStringLiteral("Microsoft Windows APIs"),
        QStringLiteral("Microsoft Windows APIs\nO Keldra usa APIs do Windows para detecção de "
                       "unidades removíveis e integração nativa com a área de trabalho no Windows. "
                       "Essas APIs fazem parte da plataforma do sistema operacional."));
#else
    components->insert(
        QStringLiteral("Bibliotecas de runtime GNU (glibc, libstdc++)"),
        QStringLiteral("Bibliotecas de runtime GNU\nA biblioteca C do GNU (glibc) e as bibliotecas de "
                       "runtime do compilador GCC (libstdc++, libgcc), do sistema Linux ou copiadas "
                       "para a pasta lib da unidade USB pelo KeldraConfig.\nglibc: GNU LGPL "
                       "versão 2.1 ou posterior. libstdc++ e libgcc: GNU GPL versão 3 com a GCC "
                       "Runtime Library Exception."));
    components->insert(
        QStringLiteral("Interfaces do Linux"),
        QStringLiteral("Interfaces do Linux\nO Keldra lê /proc/self/mountinfo, /sys/class/block e "
                       "/dev/disk/by-label para detectar unidades USB e usa o lançador de aplicativos "
                       "padrão da área de trabalho. Essas interfaces fazem parte do sistema "
                       "operacional."));
#endif
}

} // namespace

Widgets::AboutContent vaultAboutContent()
{
    QString version = QCoreApplication::applicationVersion();
    if (version.isEmpty())
        version = QStringLiteral(KELDRA_VERSION);

    // Listed by name, capital letters first.
    QMap<QString, QString> components;
    insertPlatformComponents(&components);
    components.insert(QStringLiteral("Qt 6 Core/Widgets - %1").arg(QString::fromLatin1(qVersion())),
                      qtDetails());
    components.insert(QStringLiteral("libsodium - %1").arg(QString::fromLatin1(sodium_version_string())),
                      sodiumDetails());
    components.insert(QStringLiteral("OpenSSL libcrypto - %1")
                          .arg(QString::fromLatin1(OpenSSL_version(OPENSSL_VERSION_STRING))),
                      opensslDetails());

    Widgets::AboutContent content;
    content.windowTitle = QStringLiteral("Sobre o Keldra");
    content.heading = QStringLiteral("Keldra");
    content.productText =
        QStringLiteral("<b>Keldra</b><br>Versão %1<br><br>Keldra é um produto da Keldra Tecnologia. "
                       "Todos os direitos reservados.<br><a href=\"%2\">%2</a>")
            .arg(version.toHtmlEscaped(), kMakerUrl);
    content.componentsCaption = QStringLiteral("Componentes e bibliotecas relevantes:");
    content.detailsCaption = QStringLiteral("Detalhes do componente:");
    for (auto it = components.cbegin(); it != components.cend(); ++it)
        content.components.append({it.key(), it.value()});
    content.legalText =
        QStringLiteral("Aviso legal: este programa é protegido pelas leis de direitos autorais e por "
                       "tratados internacionais. A reprodução ou distribuição não autorizada deste "
                       "programa, ou de qualquer parte dele, pode resultar em sanções civis e "
                       "criminais.");
    content.size = QSize(760, 520);
    return content;
}

} // namespace Keldra::UI
