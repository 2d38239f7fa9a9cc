#include "widgets/DialogHooks.h"

#include <QDialog>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QQueue>

#include <optional>

namespace Keldra::Widgets {

namespace {

struct HookState
{
    bool testMode = false;
    QQueue<bool> questionAnswers;
    QQueue<std::optional<QString>> texts;
    QQueue<QString> fileNames;
    QQueue<QStringList> fileNameLists;
    QQueue<std::function<int(QDialog&)>> dialogHandlers;
    QList<DialogHooks::Record> records;
};

HookState& state()
{
    static HookState hooks;
    return hooks;
}

void record(DialogHooks::Kind kind, const QString& title, const QString& text, const QWidget* parent,
            const QString& filter = QString(), const QString& initialText = QString())
{
    if (state().testMode)
        state().records.append({kind, title, text, parent, filter, initialText});
}

} // namespace

void DialogHooks::setTestMode(bool enabled)
{
    state().testMode = enabled;
}
bool DialogHooks::testMode()
{
    return state().testMode;
}

void DialogHooks::reset()
{
    const bool testMode = state().testMode;
    state() = HookState();
    state().testMode = testMode;
}

void DialogHooks::queueQuestionAnswer(bool accept)
{
    state().questionAnswers.enqueue(accept);
}
void DialogHooks::queueText(const QString& text)
{
    state().texts.enqueue(text);
}
void DialogHooks::queueTextCancel()
{
    state().texts.enqueue(std::nullopt);
}
void DialogHooks::queueFileName(const QString& path)
{
    state().fileNames.enqueue(path);
}
void DialogHooks::queueFileNames(const QStringList& paths)
{
    state().fileNameLists.enqueue(paths);
}

void DialogHooks::queueDialogHandler(const std::function<int(QDialog&)>& handler)
{
    state().dialogHandlers.enqueue(handler);
}

QList<DialogHooks::Record> DialogHooks::records()
{
    return state().records;
}

QList<DialogHooks::Record> DialogHooks::takeRecords()
{
    QList<Record> taken;
    taken.swap(state().records);
    return taken;
}

void DialogHooks::information(QWidget* parent, const QString& title, const QString& text)
{
    record(Kind::Information, title, text, parent);
    if (!state().testMode)
        QMessageBox::information(parent, title, text);
}

void DialogHooks::warning(QWidget* parent, const QString& title, const QString& text)
{
    record(Kind::Warning, title, text, parent);
    if (!state().testMode)
        QMessageBox::warning(parent, title, text);
}

bool DialogHooks::question(QWidget* parent, const QString& title, const QString& text,
                           const QString& acceptText, const QString& rejectText, bool acceptByDefault)
{
    record(Kind::Question, title, text, parent);
    if (state().testMode)
        state().records.last().acceptByDefault = acceptByDefault;
    if (state().testMode)
        return !state().questionAnswers.isEmpty() && state().questionAnswers.dequeue();

    QMessageBox box(QMessageBox::Question, title, text, QMessageBox::NoButton, parent,
                    Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);
    QPushButton* accept = box.addButton(acceptText, QMessageBox::AcceptRole);
    QPushButton* reject = box.addButton(rejectText, QMessageBox::RejectRole);
    box.setDefaultButton(acceptByDefault ? accept : reject);
    box.setEscapeButton(reject);
    box.exec();
    return box.clickedButton() == accept;
}

QString DialogHooks::getText(QWidget* parent, const QString& title, const QString& label,
                             QLineEdit::EchoMode echo, const QString& initialText, bool* ok)
{
    // A password field never opens filled, so nothing secret is kept here.
    record(Kind::Text, title, label, parent, QString(), echo == QLineEdit::Normal ? initialText : QString());
    if (!state().testMode) {
        // Like QInputDialog::getText, but wide enough that the title is not
        // elided in the title bar.
        QInputDialog dialog(parent);
        dialog.setWindowTitle(title);
        dialog.setLabelText(label);
        dialog.setTextEchoMode(echo);
        dialog.setTextValue(initialText);
        // The dialog sizes itself to its layout, so the field sets the width:
        // room for the title and its title-bar buttons, within reason.
        // Typing replaces the proposed text (a name asked again after a refusal).
        if (auto* field = dialog.findChild<QLineEdit*>()) {
            field->setMinimumWidth(qBound(320, dialog.fontMetrics().horizontalAdvance(title) + 160, 720));
            field->selectAll();
        }
        const bool accepted = dialog.exec() == QDialog::Accepted;
        if (ok)
            *ok = accepted;
        return accepted ? dialog.textValue() : QString();
    }

    std::optional<QString> answer;
    if (!state().texts.isEmpty())
        answer = state().texts.dequeue();
    if (ok)
        *ok = answer.has_value();
    return answer.value_or(QString());
}

QString DialogHooks::getOpenFileName(QWidget* parent, const QString& caption, const QString& directory,
                                     const QString& filter)
{
    record(Kind::OpenFile, caption, directory, parent, filter);
    if (!state().testMode)
        return QFileDialog::getOpenFileName(parent, caption, directory, filter);
    return state().fileNames.isEmpty() ? QString() : state().fileNames.dequeue();
}

QStringList DialogHooks::getOpenFileNames(QWidget* parent, const QString& caption, const QString& directory,
                                          const QString& filter)
{
    record(Kind::OpenFiles, caption, directory, parent, filter);
    if (!state().testMode)
        return QFileDialog::getOpenFileNames(parent, caption, directory, filter);
    return state().fileNameLists.isEmpty() ? QStringList() : state().fileNameLists.dequeue();
}

QString DialogHooks::getSaveFileName(QWidget* parent, const QString& caption, const QString& proposed,
                                     const QString& filter, QFileDialog::Options options)
{
    record(Kind::SaveFile, caption, proposed, parent, filter);
    if (!state().testMode)
        return QFileDialog::getSaveFileName(parent, caption, proposed, filter, nullptr, options);
    return state().fileNames.isEmpty() ? QString() : state().fileNames.dequeue();
}

int DialogHooks::exec(QDialog& dialog)
{
    // A message box built by the caller (three answers) is recorded with its text.
    const auto* box = qobject_cast<const QMessageBox*>(&dialog);
    record(Kind::Dialog, dialog.windowTitle(), box ? box->text() : QString(), dialog.parentWidget());
    if (!state().testMode)
        return dialog.exec();
    if (state().dialogHandlers.isEmpty())
        return QDialog::Rejected;
    return state().dialogHandlers.dequeue()(dialog);
}

QString DialogHooks::getExistingDirectory(QWidget* parent, const QString& caption, const QString& directory)
{
    record(Kind::Directory, caption, directory, parent);
    if (!state().testMode)
        return QFileDialog::getExistingDirectory(parent, caption, directory);
    return state().fileNames.isEmpty() ? QString() : state().fileNames.dequeue();
}

bool questionYesNo(QWidget* parent, const QString& title, const QString& text, bool yesByDefault)
{
    return DialogHooks::question(parent, title, text, QStringLiteral("&Sim"), QStringLiteral("&Não"),
                                 yesByDefault);
}

bool questionContinueCancel(QWidget* parent, const QString& title, const QString& text)
{
    return DialogHooks::question(parent, title, text, QStringLiteral("&Continuar"),
                                 QStringLiteral("Ca&ncelar"));
}

} // namespace Keldra::Widgets
