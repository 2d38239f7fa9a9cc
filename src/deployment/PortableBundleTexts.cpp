#include "deployment/PortableBundleManager.h"

#include "deployment/layout/DriveLayout.h"

#include <QStringList>

namespace Keldra::Deployment {

QString PortableBundleManager::windowsLauncherText()
{
    return QStringLiteral("@echo off\r\n"
                          "setlocal\r\n"
                          "cd /d \"%~dp0%1\\%2\"\r\n"
                          "start \"Keldra\" \"%3\"\r\n")
        .arg(QLatin1String(DriveLayout::BundleFolder), QLatin1String(DriveLayout::WindowsFolder),
             QLatin1String(DriveLayout::WindowsProgram));
}

QString PortableBundleManager::linuxLauncherText()
{
    // The program runs through the bundle's own loader and C library, so it
    // starts whatever C library the host has; only the loader needs an execute
    // bit, and FAT32 sticks give none, so it is copied to the first folder that
    // lets it run and removed afterwards. Only into a private folder made in a
    // folder where no other user may rename what it does not own: elsewhere the
    // copy could be swapped between its check and its start. The "x" after each
    // command substitution keeps the newlines a drive's name may end in.
    const QStringList lines = {
        QStringLiteral("#!/bin/sh"),
        QStringLiteral("SCRIPT_DIR=\"$(dirname -- \"$0\"; printf x)\""),
        QStringLiteral("SCRIPT_DIR=\"$(CDPATH= cd -- \"${SCRIPT_DIR%?x}\" && pwd && printf x)\""),
        QStringLiteral("SCRIPT_DIR=\"${SCRIPT_DIR%?x}\""),
        QStringLiteral("APP_DIR=\"$SCRIPT_DIR/%1\"")
            .arg(DriveLayout::platformFolder(DriveLayout::LinuxFolder)),
        QStringLiteral("APP_BIN=\"$APP_DIR/%1\"").arg(QLatin1String(DriveLayout::LinuxProgram)),
        QStringLiteral("APP_LIB=\"$APP_DIR/lib\""),
        QStringLiteral("LOADER=\"$APP_LIB/ld-linux-x86-64.so.2\""),
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
        QStringLiteral("for file in \"$APP_BIN\" \"$LOADER\"; do"),
        QStringLiteral("    if [ ! -f \"$file\" ]; then"),
        QStringLiteral("        show_error \"Executavel Linux nao encontrado em: $file\""),
        QStringLiteral("        exit 1"),
        QStringLiteral("    fi"),
        QStringLiteral("done"),
        QString(),
        QStringLiteral("RUN_DIR="),
        QStringLiteral("trap 'if [ -n \"$RUN_DIR\" ]; then rm -rf -- \"$RUN_DIR\"; fi' EXIT"),
        QStringLiteral("trap 'exit 129' HUP"),
        QStringLiteral("trap 'exit 130' INT"),
        QStringLiteral("trap 'exit 143' TERM"),
        QStringLiteral("CACHE_DIR=\"${XDG_CACHE_HOME:-${HOME:+$HOME/.cache}}\""),
        QStringLiteral("USER_ID=\"$(id -u)\""),
        QStringLiteral("for base in \"${XDG_RUNTIME_DIR:-}\" \"${TMPDIR:-/tmp}\" \"$CACHE_DIR\"; do"),
        QStringLiteral("    case \"$base\" in /*) ;; *) continue ;; esac"),
        QStringLiteral("    [ \"$base\" != \"$CACHE_DIR\" ] || mkdir -p -- \"$base\" 2>/dev/null"),
        QStringLiteral("    [ -n \"$(find -H \"$base\" -prune \\( -user \"$USER_ID\" -o -user 0 \\) "
                       "\\( ! -perm -0002 -o -perm -1000 \\) -print 2>/dev/null)\" ] || continue"),
        QStringLiteral("    dir=\"$(mktemp -d \"$base/keldra.XXXXXX\" 2>/dev/null)\" || continue"),
        QStringLiteral(
            "    if cp -- \"$LOADER\" \"$dir/Keldra\" 2>/dev/null && chmod 700 \"$dir/Keldra\" &&"),
        QStringLiteral("        \"$dir/Keldra\" --version >/dev/null 2>&1; then"),
        QStringLiteral("        RUN_DIR=\"$dir\""),
        QStringLiteral("        break"),
        QStringLiteral("    fi"),
        QStringLiteral("    rm -rf -- \"$dir\""),
        QStringLiteral("done"),
        QStringLiteral("if [ -z \"$RUN_DIR\" ]; then"),
        QStringLiteral("    show_error \"Nenhuma pasta temporaria permite executar o Keldra.\""),
        QStringLiteral("    exit 1"),
        QStringLiteral("fi"),
        QString(),
        QStringLiteral("if [ -z \"${FONTCONFIG_FILE:-}\" ] && [ ! -f /etc/fonts/fonts.conf ] &&"),
        QStringLiteral("    [ -f \"$APP_DIR/fonts/fonts.conf\" ]; then"),
        QStringLiteral("    export FONTCONFIG_FILE=\"$APP_DIR/fonts/fonts.conf\""),
        QStringLiteral("fi"),
        QStringLiteral("cd \"$SCRIPT_DIR\" || exit 1"),
        QStringLiteral(
            "\"$RUN_DIR/Keldra\" --library-path \"$APP_LIB\" --argv0 \"$APP_BIN\" \"$APP_BIN\" \"$@\""),
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
        QStringLiteral("- %1: inicializador Windows").arg(QLatin1String(DriveLayout::WindowsLauncher)),
        QStringLiteral("- %1: inicializador Linux").arg(QLatin1String(DriveLayout::LinuxLauncher)),
        QString(),
        QStringLiteral("A pasta %1 contem o executavel Windows quando um bundle Windows esta disponivel.")
            .arg(DriveLayout::platformFolder(DriveLayout::WindowsFolder)),
        QStringLiteral("A pasta %1 contem o executavel Linux e dependencias copiadas deste ambiente.")
            .arg(DriveLayout::platformFolder(DriveLayout::LinuxFolder)),
        QStringLiteral(
            "Dependencias Qt e bibliotecas runtime sao copiadas durante a preparacao quando disponiveis."),
        QString(),
        QStringLiteral("Como iniciar no Linux:"),
        QStringLiteral("- Abra um terminal na pasta do pendrive e digite: sh %1")
            .arg(QLatin1String(DriveLayout::LinuxLauncher)),
        QStringLiteral("- Ou, no gerenciador de arquivos, clique com o botao direito em %1 e escolha")
            .arg(QLatin1String(DriveLayout::LinuxLauncher)),
        QStringLiteral("  \"Executar como programa\" quando essa opcao existir."),
        QStringLiteral(
            "O pendrive pode estar em FAT32 e nao precisa de permissao de execucao; nada e instalado"),
        QStringLiteral("no computador."),
    };
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

} // namespace Keldra::Deployment
