#include "ui/MenuAccelerators.h"

#include <QAction>
#include <QCoreApplication>
#include <QKeySequence>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QSet>
#include <QShortcut>
#include <QTranslator>

namespace Keldra::UI {

namespace {

bool isAsciiLetter(QChar c)
{
    return (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
           (c >= QLatin1Char('A') && c <= QLatin1Char('Z'));
}

// The letter after a single '&', lower case; null when the text has none.
QChar markedLetter(const QString& text)
{
    for (qsizetype i = 0; i + 1 < text.size(); ++i) {
        if (text.at(i) != QLatin1Char('&'))
            continue;
        if (text.at(i + 1) != QLatin1Char('&'))
            return text.at(i + 1).toLower();
        ++i; // "&&" is a literal ampersand
    }
    return QChar();
}

// Position of the letter to mark: a word's first letter if one is free,
// else any free letter; -1 when every letter of the text is taken.
qsizetype freeLetter(const QString& text, const QSet<QChar>& used)
{
    for (int pass = 0; pass < 2; ++pass) {
        for (qsizetype i = 0; i < text.size(); ++i) {
            const bool wordStart = i == 0 || text.at(i - 1).isSpace();
            if ((pass == 0 && !wordStart) || !isAsciiLetter(text.at(i)) ||
                used.contains(text.at(i).toLower()))
                continue;
            return i;
        }
    }
    return -1;
}

void assignActions(const QList<QAction*>& actions)
{
    QSet<QChar> used;
    for (const QAction* action : actions) {
        const QChar letter = markedLetter(action->text());
        if (!letter.isNull())
            used.insert(letter);
    }
    for (QAction* action : actions) {
        if (action->isSeparator() || action->text().isEmpty() || !markedLetter(action->text()).isNull())
            continue;
        QString text = action->text();
        const qsizetype at = freeLetter(text, used);
        if (at < 0)
            continue;
        used.insert(text.at(at).toLower());
        text.insert(at, QLatin1Char('&'));
        action->setText(text);
    }
    for (const QAction* action : actions) {
        if (QMenu* submenu = action->menu())
            MenuAccelerators::assign(submenu);
    }
}

class KeyNames : public QTranslator
{
public:
    using QTranslator::QTranslator;
    bool isEmpty() const override { return false; }
    QString translate(const char* context, const char* sourceText, const char*, int) const override
    {
        if (qstrcmp(context, "QShortcut") != 0)
            return QString();
        if (qstrcmp(sourceText, "Return") == 0)
            return QStringLiteral("Enter");
        if (qstrcmp(sourceText, "Del") == 0)
            return QStringLiteral("Delete");
        return QString();
    }
};

} // namespace

void MenuAccelerators::assign(QMenuBar* bar)
{
    assignActions(bar->actions());
}

void MenuAccelerators::assign(QMenu* menu)
{
    assignActions(menu->actions());
}

void MenuAccelerators::addMenuKey(QMainWindow* window)
{
    auto* key = new QShortcut(QKeySequence(Qt::Key_F10), window);
    key->setObjectName(QStringLiteral("menuKey"));
    QObject::connect(key, &QShortcut::activated, window, [window] {
        QMenuBar* bar = window->menuBar();
        if (!bar->actions().isEmpty())
            bar->setActiveAction(bar->actions().constFirst());
    });
}

void MenuAccelerators::installKeyNames()
{
    static bool installed = false;
    if (installed || !QCoreApplication::instance())
        return;
    installed = true;
    // Searched before Qt's own translation, which is installed earlier.
    QCoreApplication::installTranslator(new KeyNames(QCoreApplication::instance()));
}

} // namespace Keldra::UI
