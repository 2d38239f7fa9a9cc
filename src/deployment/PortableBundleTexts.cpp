#include "deployment/PortableBundleManager.h"

#include "deployment/layout/DriveLayout.h"

#include <QStringList>

namespace Keldra::Deployment {

QString PortableBundleManager::windowsLauncherText()
{
    // cmd reads a batch file line by line in the console's code page, so the
    // lines up to "chcp 65001" are plain ASCII and the rest, saved as UTF-8
    // without a byte-order mark, is read as UTF-8 after it. The console's own
    // code page comes back before the script ends (the last word of chcp's
    // answer, whatever its language, with a trailing full stop dropped).
    // Wine's chcp fails, which made the launcher report a failure after starting Keldra.
    const QString program =
        QStringLiteral("%1\\%2\\%3")
            .arg(QLatin1String(DriveLayout::BundleFolder), QLatin1String(DriveLayout::WindowsFolder),
                 QLatin1String(DriveLayout::WindowsProgram));
    const QStringList lines = {
        QStringLiteral("@echo off"),
        QStringLiteral("setlocal"),
        QStringLiteral("set \"KELDRA_CP=\""),
        QStringLiteral("for /f \"tokens=*\" %%a in ('chcp') do for %%b in (%%a) do set \"KELDRA_CP=%%~nb\""),
        QStringLiteral("chcp 65001 >nul"),
        QStringLiteral("if exist \"%~dp0%1\" goto start").arg(program),
        QStringLiteral("echo Executável do Keldra não encontrado: \"%~dp0%1\"").arg(program),
        QStringLiteral("if defined KELDRA_CP chcp %KELDRA_CP% >nul"),
        QStringLiteral("pause"),
        QStringLiteral("exit /b 1"),
        QStringLiteral(":start"),
        QStringLiteral("cd /d \"%~dp0%1\\%2\"")
            .arg(QLatin1String(DriveLayout::BundleFolder), QLatin1String(DriveLayout::WindowsFolder)),
        QStringLiteral("start \"Keldra\" \"%1\"").arg(QLatin1String(DriveLayout::WindowsProgram)),
        QStringLiteral("if defined KELDRA_CP chcp %KELDRA_CP% >nul"),
        // Keldra has started: a code page that could not be put back is no failure.
        QStringLiteral("exit /b 0"),
    };
    return lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n");
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
        // xmessage draws with Latin-1 fonts; the messages are UTF-8.
        QStringLiteral(
            "        text=\"$(printf 'Keldra: %s' \"$1\" | iconv -f UTF-8 -t ISO-8859-1 2>/dev/null)\" ||"),
        QStringLiteral("            text=\"Keldra: $1\""),
        QStringLiteral("        xmessage -center \"$text\""),
        QStringLiteral("    else"),
        QStringLiteral("        printf 'Keldra: %s\\n' \"$1\" >&2"),
        QStringLiteral("    fi"),
        QStringLiteral("}"),
        QString(),
        QStringLiteral("for file in \"$APP_BIN\" \"$LOADER\"; do"),
        QStringLiteral("    if [ ! -f \"$file\" ]; then"),
        QStringLiteral("        show_error \"Executável Linux não encontrado em: $file\""),
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
        QStringLiteral("    show_error \"Nenhuma pasta temporária permite executar o Keldra.\""),
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
        QStringLiteral("    show_error \"Não foi possível iniciar o Keldra. Código de saída: $status\""),
        QStringLiteral("fi"),
        QStringLiteral("exit \"$status\""),
    };
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

QString PortableBundleManager::readmeText(bool windows, bool linux)
{
    QStringList lines = {
        QStringLiteral("Keldra portátil"),
        QString(),
        QStringLiteral("Na raiz do pendrive:"),
        QStringLiteral("- keldra.kldr: contêiner criptografado"),
    };
    if (windows)
        lines.append(
            QStringLiteral("- %1: inicializador Windows").arg(QLatin1String(DriveLayout::WindowsLauncher)));
    if (linux)
        lines.append(
            QStringLiteral("- %1: inicializador Linux").arg(QLatin1String(DriveLayout::LinuxLauncher)));
    lines.append(QString());
    if (windows)
        lines.append(
            QStringLiteral("A pasta %1 contém o executável Windows e as bibliotecas de que ele precisa.")
                .arg(DriveLayout::platformFolder(DriveLayout::WindowsFolder)));
    if (linux)
        lines.append(
            QStringLiteral("A pasta %1 contém o executável Linux e as dependências copiadas deste ambiente.")
                .arg(DriveLayout::platformFolder(DriveLayout::LinuxFolder)));
    lines.append(QStringLiteral(
        "As dependências do Qt e as bibliotecas de execução são copiadas durante a preparação, quando "
        "disponíveis."));
    if (windows) {
        lines.append(QString());
        lines.append(QStringLiteral("Como iniciar no Windows:"));
        lines.append(
            QStringLiteral("- Dê um clique duplo em %1.").arg(QLatin1String(DriveLayout::WindowsLauncher)));
    }
    if (linux) {
        lines.append(QString());
        lines.append(QStringLiteral("Como iniciar no Linux:"));
        lines.append(QStringLiteral("- Abra um terminal na pasta do pendrive e digite: sh %1")
                         .arg(QLatin1String(DriveLayout::LinuxLauncher)));
        lines.append(
            QStringLiteral("- Ou, no gerenciador de arquivos, clique com o botão direito em %1 e escolha")
                .arg(QLatin1String(DriveLayout::LinuxLauncher)));
        lines.append(QStringLiteral("  \"Executar como programa\", quando essa opção existir."));
        lines.append(QStringLiteral(
            "O pendrive pode estar em FAT32 e não precisa de permissão de execução; nada é instalado"));
        lines.append(QStringLiteral("no computador."));
    }
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

QString PortableBundleManager::preparedForText(bool windows, bool linux)
{
    if (windows && linux)
        return QStringLiteral("Preparado para: Linux e Windows");
    if (linux)
        return QStringLiteral("Preparado para: Linux");
    if (windows)
        return QStringLiteral("Preparado para: Windows");
    return QString();
}

} // namespace Keldra::Deployment
