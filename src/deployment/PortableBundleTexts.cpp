#include "PortableBundleManager.h"

#include <QStringList>

namespace Keldra::Deployment {

QString PortableBundleManager::windowsLauncherText()
{
    return QStringLiteral("@echo off\r\n"
                          "setlocal\r\n"
                          "cd /d \"%~dp0Keldra\\windows\"\r\n"
                          "start \"Keldra\" \"Keldra.exe\"\r\n");
}

QString PortableBundleManager::linuxLauncherText()
{
    const QStringList lines = {
        QStringLiteral("#!/bin/sh"),
        QStringLiteral("SCRIPT_DIR=\"$(CDPATH= cd -- \"$(dirname -- \"$0\")\" && pwd)\""),
        QStringLiteral("APP_DIR=\"$SCRIPT_DIR/Keldra/linux\""),
        QStringLiteral("APP_BIN=\"$APP_DIR/Keldra\""),
        QString(),
        QStringLiteral("show_error() {"),
        QStringLiteral("    if command -v zenity >/dev/null 2>&1; then"),
        QStringLiteral("        zenity --error --title=\"Keldra\" --text=\"$1\""),
        QStringLiteral("    elif command -v xmessage >/dev/null 2>&1; then"),
        QStringLiteral("        xmessage -center \"Keldra: $1\""),
        QStringLiteral("    else"),
        QStringLiteral("        printf 'Keldra: %s\\n' \"$1\" >&2"),
        QStringLiteral("    fi"),
        QStringLiteral("}"),
        QString(),
        QStringLiteral("if [ ! -f \"$APP_BIN\" ]; then"),
        QStringLiteral("    show_error \"Executavel Linux nao encontrado em: $APP_BIN\""),
        QStringLiteral("    exit 1"),
        QStringLiteral("fi"),
        QString(),
        QStringLiteral("if [ ! -x \"$APP_BIN\" ]; then"),
        QStringLiteral("    chmod +x \"$APP_BIN\" 2>/dev/null || true"),
        QStringLiteral("fi"),
        QString(),
        QStringLiteral("export LD_LIBRARY_PATH=\"$APP_DIR/lib${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}\""),
        QStringLiteral("export QT_PLUGIN_PATH=\"$APP_DIR/plugins${QT_PLUGIN_PATH:+:$QT_PLUGIN_PATH}\""),
        QStringLiteral("cd \"$APP_DIR\" || exit 1"),
        QStringLiteral("\"$APP_BIN\" \"$@\""),
        QStringLiteral("status=$?"),
        QStringLiteral("if [ \"$status\" -ne 0 ]; then"),
        QStringLiteral("    show_error \"Nao foi possivel iniciar o Keldra. Codigo de saida: $status\""),
        QStringLiteral("fi"),
        QStringLiteral("exit \"$status\""),
    };
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

QString PortableBundleManager::readmeText()
{
    const QStringList lines = {
        QStringLiteral("Keldra portable bundle"),
        QString(),
        QStringLiteral("Raiz do pendrive:"),
        QStringLiteral("- keldra.kldr: container criptografado"),
        QStringLiteral("- Keldra-Windows.bat: inicializador Windows"),
        QStringLiteral("- Keldra-Linux.sh: inicializador Linux"),
        QString(),
        QStringLiteral(
            "A pasta Keldra/windows contem o executavel Windows quando um bundle Windows esta disponivel."),
        QStringLiteral(
            "A pasta Keldra/linux contem o executavel Linux e dependencias copiadas deste ambiente."),
        QStringLiteral(
            "Dependencias Qt e bibliotecas runtime sao copiadas durante a preparacao quando disponiveis."),
    };
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

} // namespace Keldra::Deployment
