#include "cli/CliConsole.h"

#include <QFile>

#include <cerrno>
#include <cstdio>

#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>
#else
#include <termios.h>
#include <unistd.h>
#endif

namespace Keldra::Cli {

namespace {

void writeStderr(const QByteArray& bytes)
{
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stderr);
    std::fflush(stderr);
}

// One byte of standard input straight from the system: no buffer of Qt or
// of the C library ever holds what follows the password, nor the password
// after it was read. False at the end of input or on an error.
bool readByte(char* c)
{
    for (;;) {
#ifdef Q_OS_WIN
        const int got = _read(_fileno(stdin), c, 1);
#else
        const ssize_t got = ::read(STDIN_FILENO, c, 1);
#endif
        if (got == 1)
            return true;
        if (got < 0 && errno == EINTR)
            continue;
        return false;
    }
}

QByteArray readLineFromStdin(bool* endOfInput)
{
    // Room for any password up front: growing would leave copies behind.
    QByteArray line;
    line.reserve(4096);
    char c = 0;
    while (readByte(&c)) {
        if (c == '\n')
            return line;
        line.append(c);
    }
    if (endOfInput)
        *endOfInput = line.isEmpty();
    return line;
}

// Terminal echo off while a password is typed; restored on scope exit.
class EchoOff
{
public:
    EchoOff()
    {
#ifdef Q_OS_WIN
        m_handle = GetStdHandle(STD_INPUT_HANDLE);
        m_active = GetConsoleMode(m_handle, &m_mode) &&
                   SetConsoleMode(m_handle, m_mode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
#else
        if (tcgetattr(STDIN_FILENO, &m_saved) == 0) {
            termios quiet = m_saved;
            quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
            m_active = tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) == 0;
        }
#endif
    }
    ~EchoOff()
    {
        if (!m_active)
            return;
#ifdef Q_OS_WIN
        SetConsoleMode(m_handle, m_mode);
#else
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &m_saved);
#endif
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;

private:
    bool m_active = false;
#ifdef Q_OS_WIN
    HANDLE m_handle = nullptr;
    DWORD m_mode = 0;
#else
    termios m_saved{};
#endif
};

} // namespace

bool stdinIsTerminal()
{
#ifdef Q_OS_WIN
    return _isatty(_fileno(stdin)) != 0;
#else
    return isatty(STDIN_FILENO) != 0;
#endif
}

bool stderrIsTerminal()
{
#ifdef Q_OS_WIN
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(STDERR_FILENO) != 0;
#endif
}

void printError(const QString& message)
{
    writeStderr(message.toUtf8() + '\n');
}

int fail(const QString& message)
{
    printError(message);
    return ExitFailed;
}

QString shown(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const ushort code = c.unicode();
        if (c == QLatin1Char('\\'))
            out += QStringLiteral("\\\\");
        else if (code < 0x20 || (code >= 0x7f && code <= 0x9f))
            out += QStringLiteral("\\x%1").arg(code, 2, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out;
}

void printOut(const QString& line)
{
    const QByteArray bytes = line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
}

PasswordReader::PasswordReader() : m_interactive(stdinIsTerminal()) {}

PasswordReader::~PasswordReader() = default;

QByteArray PasswordReader::read(const QString& prompt)
{
    QByteArray password;
    if (m_interactive) {
        writeStderr(prompt.toUtf8());
        {
            const EchoOff quiet;
            password = readLineFromStdin(nullptr);
        }
        writeStderr(QByteArrayLiteral("\n"));
    } else {
        password = readLineFromStdin(nullptr);
    }
    // A line ended by CR LF (a console, a file written on Windows) holds the
    // same password as one typed in the window.
    if (password.endsWith('\r'))
        password.chop(1);
    return password;
}

ProgressPrinter::ProgressPrinter(const QString& label) : m_label(label), m_enabled(stderrIsTerminal()) {}

ProgressPrinter::~ProgressPrinter()
{
    if (m_printed)
        writeStderr(QByteArrayLiteral("\n"));
}

void ProgressPrinter::update(qint64 done, qint64 total, const QString& text)
{
    if (!m_enabled)
        return;
    const int percent =
        total > 0 ? static_cast<int>(qBound(qint64(0), done * 100 / total, qint64(100))) : 100;
    if (percent == m_lastPercent && text == m_lastText)
        return;
    m_lastPercent = percent;
    m_lastText = text;
    m_printed = true;
    // "\r" and the erase sequence keep the report on one line.
    writeStderr(QStringLiteral("\r\x1b[2K%1 %2%  %3").arg(m_label).arg(percent).arg(shown(text)).toUtf8());
}

std::function<void(qint64, qint64, const QString&)> ProgressPrinter::callback()
{
    if (!m_enabled)
        return {};
    return [this](qint64 done, qint64 total, const QString& text) { update(done, total, text); };
}

} // namespace Keldra::Cli
