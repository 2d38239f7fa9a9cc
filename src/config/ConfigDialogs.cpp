#include "ConfigDialogs.h"

#include <QPushButton>

#include <utility>

namespace Keldra::Config {

namespace {

struct HookState
{
    bool scripted = false;
    QList<bool> answers;
    QList<ShownDialog> shown;
};

HookState& hooks()
{
    static HookState state;
    return state;
}

void showMessage(QWidget* parent, QMessageBox::Icon icon, const QString& title, const QString& text)
{
    if (DialogHooks::isScripted()) {
        DialogHooks::record(icon, title, text);
        return;
    }
    QMessageBox box(icon, title, text, QMessageBox::Ok, parent);
    box.exec();
}

} // namespace

void DialogHooks::setScripted(bool scripted)
{
    hooks().scripted = scripted;
    hooks().answers.clear();
    hooks().shown.clear();
}

bool DialogHooks::isScripted()
{
    return hooks().scripted;
}

void DialogHooks::queueAnswer(bool yes)
{
    hooks().answers.append(yes);
}

QList<ShownDialog> DialogHooks::takeShownDialogs()
{
    return std::exchange(hooks().shown, {});
}

void DialogHooks::record(QMessageBox::Icon icon, const QString& title, const QString& text)
{
    hooks().shown.append(ShownDialog{icon, title, text});
}

bool DialogHooks::nextAnswer()
{
    return hooks().answers.isEmpty() ? false : hooks().answers.takeFirst();
}

bool askYesNo(QWidget* parent, const QString& title, const QString& text)
{
    if (DialogHooks::isScripted()) {
        DialogHooks::record(QMessageBox::Question, title, text);
        return DialogHooks::nextAnswer();
    }
    QMessageBox box(QMessageBox::Question, title, text, QMessageBox::NoButton, parent);
    QPushButton* yes = box.addButton(QStringLiteral("Sim"), QMessageBox::AcceptRole);
    QPushButton* no = box.addButton(QStringLiteral("Não"), QMessageBox::RejectRole);
    box.setDefaultButton(no);
    box.setEscapeButton(no);
    box.exec();
    return box.clickedButton() == yes;
}

void showInformation(QWidget* parent, const QString& title, const QString& text)
{
    showMessage(parent, QMessageBox::Information, title, text);
}

void showWarning(QWidget* parent, const QString& title, const QString& text)
{
    showMessage(parent, QMessageBox::Warning, title, text);
}

} // namespace Keldra::Config
