#pragma once

#include <QFileDialog>
#include <QLineEdit>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

class QDialog;
class QWidget;

namespace Keldra::Widgets {

// Every modal prompt of both programs goes through here. In normal
// runs these are the plain Qt dialogs. In test mode nothing is shown: each
// prompt takes the next answer queued for its kind (an unanswered prompt is
// cancelled) and every prompt is recorded, so window commands run end to end
// without a person.
class DialogHooks
{
public:
    enum class Kind {
        Information,
        Warning,
        Question,
        Text,
        OpenFile,
        OpenFiles,
        SaveFile,
        Dialog,
        Directory
    };

    struct Record
    {
        Kind kind;
        QString title;
        QString text;                    // message text, input label or proposed file name
        const QWidget* parent = nullptr; // the window the prompt is centred on
        QString filter;                  // a file dialog's file types
        QString initialText;             // what a text prompt opens with
        bool acceptByDefault = false;    // a question whose accepting button is the default
    };

    // --- test side -------------------------------------------------------
    static void setTestMode(bool enabled);
    static bool testMode();
    // Drops queued answers and recorded prompts.
    static void reset();
    static void queueQuestionAnswer(bool accept);
    static void queueText(const QString& text); // confirmed input
    static void queueTextCancel();
    static void queueFileName(const QString& path); // empty = cancelled; also answers getExistingDirectory
    static void queueFileNames(const QStringList& paths);
    // The handler gets the dialog instead of exec() and returns its result.
    static void queueDialogHandler(const std::function<int(QDialog&)>& handler);
    static QList<Record> records();
    static QList<Record> takeRecords();

    // --- window side -----------------------------------------------------
    static void information(QWidget* parent, const QString& title, const QString& text);
    static void warning(QWidget* parent, const QString& title, const QString& text);
    // Question box with two buttons; the negative one is the default unless
    // acceptByDefault. True only when the accepting button was chosen.
    static bool question(QWidget* parent, const QString& title, const QString& text,
                         const QString& acceptText, const QString& rejectText, bool acceptByDefault = false);
    static QString getText(QWidget* parent, const QString& title, const QString& label,
                           QLineEdit::EchoMode echo, const QString& initialText, bool* ok);
    static QString getOpenFileName(QWidget* parent, const QString& caption, const QString& directory,
                                   const QString& filter);
    static QStringList getOpenFileNames(QWidget* parent, const QString& caption, const QString& directory,
                                        const QString& filter);
    static QString getSaveFileName(QWidget* parent, const QString& caption, const QString& proposed,
                                   const QString& filter, QFileDialog::Options options = {});
    static int exec(QDialog& dialog);
    // A folder chooser; the record's text is the folder it opens in.
    static QString getExistingDirectory(QWidget* parent, const QString& caption, const QString& directory);
};

// "Sim"/"Não" question, "Não" by default unless yesByDefault; Alt+S and Alt+N answer it.
bool questionYesNo(QWidget* parent, const QString& title, const QString& text, bool yesByDefault = false);
// "Continuar"/"Cancelar" question, "Cancelar" by default; Alt+C and Alt+N answer it.
bool questionContinueCancel(QWidget* parent, const QString& title, const QString& text);

} // namespace Keldra::Widgets
