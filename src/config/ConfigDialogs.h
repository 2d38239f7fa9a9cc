#pragma once

#include <QList>
#include <QMessageBox>
#include <QString>

class QWidget;

namespace Keldra::Config {

// A message box or question the tool showed (or would have shown).
struct ShownDialog
{
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QString title;
    QString text;
};

// Lets tests answer the tool's dialogs in advance. While scripted, message
// boxes are only recorded and askYesNo returns the queued answers in order
// ("Não" once the queue is empty); nothing modal opens.
class DialogHooks
{
public:
    static void setScripted(bool scripted);
    static bool isScripted();
    static void queueAnswer(bool yes);
    static QList<ShownDialog> takeShownDialogs();

    static void record(QMessageBox::Icon icon, const QString& title, const QString& text);
    static bool nextAnswer();
};

// Modal question with "Sim" and "Não"; "Não" is the default and closing the box counts as "Não".
bool askYesNo(QWidget* parent, const QString& title, const QString& text);

// Message boxes with an OK button.
void showInformation(QWidget* parent, const QString& title, const QString& text);
void showWarning(QWidget* parent, const QString& title, const QString& text);

} // namespace Keldra::Config
