#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

namespace Keldra::Cli {

// Exit statuses of keldra-cli.
enum ExitCode { ExitDone = 0, ExitFailed = 1, ExitUsage = 2 };

bool stdinIsTerminal();
bool stderrIsTerminal();

// One message line on standard error; returns ExitFailed for convenience.
int fail(const QString& message);
void printError(const QString& message);
void printOut(const QString& line);
// A name as it may reach a terminal or a script: control characters (a line
// feed that would forge a line of output, escape sequences) as \xHH, and the
// backslash doubled so that the form stays unambiguous.
QString shown(const QString& text);

// Reads passwords: from a terminal with a prompt and no echo, otherwise one
// line of standard input per password (without its line end, LF or CR LF).
class PasswordReader
{
public:
    PasswordReader();
    ~PasswordReader();
    PasswordReader(const PasswordReader&) = delete;
    PasswordReader& operator=(const PasswordReader&) = delete;

    bool interactive() const { return m_interactive; }
    // Empty on end of input or an empty line.
    QByteArray read(const QString& prompt);

private:
    bool m_interactive;
};

// Progress on standard error, only when it is a terminal; keeps to one line.
class ProgressPrinter
{
public:
    explicit ProgressPrinter(const QString& label);
    ~ProgressPrinter();
    void update(qint64 done, qint64 total, const QString& text);
    std::function<void(qint64, qint64, const QString&)> callback();

private:
    QString m_label;
    bool m_enabled;
    bool m_printed = false;
    int m_lastPercent = -1;
    QString m_lastText;
};

} // namespace Keldra::Cli
