#include "ui/ChangePasswordDialog.h"
#include "ui/HelpDialog.h"
#include "ui/VaultAboutContent.h"
#include "widgets/DialogHooks.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QRegularExpression>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <QTextEdit>
#include <QTimer>

using namespace Keldra::UI;
using namespace Keldra::Widgets;

namespace {

void fill(ChangePasswordDialog& dialog, const QString& current, const QString& replacement,
          const QString& confirmation)
{
    dialog.findChild<QLineEdit*>(QStringLiteral("currentPasswordEdit"))->setText(current);
    dialog.findChild<QLineEdit*>(QStringLiteral("newPasswordEdit"))->setText(replacement);
    dialog.findChild<QLineEdit*>(QStringLiteral("confirmPasswordEdit"))->setText(confirmation);
}

QStringList warnings()
{
    QStringList texts;
    for (const DialogHooks::Record& record : DialogHooks::takeRecords()) {
        if (record.kind == DialogHooks::Kind::Warning) {
            texts << record.text;
            if (record.title != QLatin1String("Alterar senha"))
                texts << QStringLiteral("wrong title: ") + record.title;
        }
    }
    return texts;
}

} // namespace

class TestUiDialogs : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        DialogHooks::setTestMode(true);
        DialogHooks::reset();
    }

    void changePasswordChecksInOrder_data()
    {
        QTest::addColumn<QString>("current");
        QTest::addColumn<QString>("replacement");
        QTest::addColumn<QString>("confirmation");
        QTest::addColumn<QString>("warning"); // empty = accepted
        QTest::newRow("empty current before short new") << ""
                                                        << "short"
                                                        << "short"
                                                        << "Informe a senha atual.";
        QTest::newRow("nine characters") << "old"
                                         << "123456789"
                                         << "123456789"
                                         << "Use uma nova senha com pelo menos 10 caracteres.";
        QTest::newRow("confirmation differs in case") << "old"
                                                      << "Senha-Nova-1"
                                                      << "senha-nova-1"
                                                      << "A confirmação não coincide com a nova senha.";
        QTest::newRow("exactly ten") << "old"
                                     << "0123456789"
                                     << "0123456789"
                                     << "";
        // Characters count here, not bytes: ten letters of two bytes pass, five do not.
        QTest::newRow("ten accented") << "old"
                                      << "ááááááááéé"
                                      << "ááááááááéé"
                                      << "";
        QTest::newRow("five accented") << "old"
                                       << "ááááá"
                                       << "ááááá"
                                       << "Use uma nova senha com pelo menos 10 caracteres.";
        QTest::newRow("blanks are kept") << " old "
                                         << " 0123456789 "
                                         << " 0123456789 "
                                         << "";
    }
    void changePasswordChecksInOrder()
    {
        QFETCH(QString, current);
        QFETCH(QString, replacement);
        QFETCH(QString, confirmation);
        QFETCH(QString, warning);

        ChangePasswordDialog dialog;
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Alterar senha do cofre"));
        fill(dialog, current, replacement, confirmation);
        dialog.validateAndAccept();
        if (warning.isEmpty()) {
            QCOMPARE(dialog.result(), int(QDialog::Accepted));
            QVERIFY(warnings().isEmpty());
            QCOMPARE(dialog.currentPassword(), current.toUtf8());
            QCOMPARE(dialog.newPassword(), replacement.toUtf8());
        } else {
            QCOMPARE(dialog.result(), int(QDialog::Rejected));
            QCOMPARE(warnings(), QStringList{warning});
            // The fields stay as typed.
            QCOMPARE(dialog.findChild<QLineEdit*>(QStringLiteral("newPasswordEdit"))->text(), replacement);
        }
    }

    void passwordFieldsHideWhatIsTyped()
    {
        ChangePasswordDialog dialog;
        const QList<QLineEdit*> fields = dialog.findChildren<QLineEdit*>();
        QCOMPARE(fields.size(), 3);
        for (const QLineEdit* field : fields)
            QCOMPARE(field->echoMode(), QLineEdit::Password);
    }

    void helpShowsTheUserGuideWithItsImages()
    {
        HelpDialog dialog;
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Ajuda do Keldra"));
        QCOMPARE(dialog.size(), QSize(760, 560));
        const QString html = dialog.browser()->toHtml();
        QVERIFY(!html.contains(QStringLiteral("Ajuda indisponível")));
        QVERIFY(dialog.browser()->toPlainText().contains(QStringLiteral("Boas práticas")));
        QVERIFY(dialog.browser()->toPlainText().contains(QStringLiteral("sh Keldra-Linux.sh")));
        // Every picture the guide shows must be in the resources.
        QFile file(QStringLiteral(":/help/pt_BR/index.html"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString source = QString::fromUtf8(file.readAll());
        const QRegularExpression image(QStringLiteral("src=\"qrc(:[^\"]+)\""));
        int images = 0;
        for (auto match = image.globalMatch(source); match.hasNext();) {
            const QString path = match.next().captured(1);
            QVERIFY2(!QImage(path).isNull(), qPrintable(path));
            ++images;
        }
        QVERIFY(images >= 3);
        // No blank band between a picture and its caption: line spacing
        // meant for text must not stretch the picture's line.
        QTextDocument* document = dialog.browser()->document();
        document->setTextWidth(740);
        int pictures = 0;
        for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
            for (auto it = block.begin(); !it.atEnd(); ++it) {
                const QTextImageFormat format = it.fragment().charFormat().toImageFormat();
                if (!format.isValid())
                    continue;
                const QAbstractTextDocumentLayout* layout = document->documentLayout();
                const qreal gap =
                    layout->blockBoundingRect(block.next()).top() - layout->blockBoundingRect(block).bottom();
                QVERIFY2(gap < 24, qPrintable(format.name()));
                ++pictures;
            }
        }
        QCOMPARE(pictures, images);

        // The shortcut table lists the keys of the vault table.
        const QString plain = dialog.browser()->toPlainText();
        for (const char* key : {"F2", "Backspace", "Setas"})
            QVERIFY2(plain.contains(QLatin1String(key)), key);
    }

    void questionsAnswerToTheirMnemonics()
    {
        DialogHooks::setTestMode(false);
        // Presses the keys on the box that opens, then gives up with Escape so
        // that a box which ignores them cannot hang the test.
        const auto answerWith = [](Qt::Key key) {
            QTimer::singleShot(0, [key] {
                QWidget* box = QApplication::activeModalWidget();
                QVERIFY(box);
                QVERIFY(QTest::qWaitForWindowActive(box));
                QTest::keyClick(box, key, Qt::AltModifier);
                // A mnemonic animates the click: the box closes a moment later.
                if (!QTest::qWaitFor([box] { return !box->isVisible(); }, 2000))
                    QTest::keyClick(box, Qt::Key_Escape);
            });
        };
        answerWith(Qt::Key_S);
        QVERIFY(questionYesNo(nullptr, QStringLiteral("Keldra"), QStringLiteral("Sim?")));
        answerWith(Qt::Key_N);
        QVERIFY(!questionYesNo(nullptr, QStringLiteral("Keldra"), QStringLiteral("Não?")));
        answerWith(Qt::Key_C);
        QVERIFY(questionContinueCancel(nullptr, QStringLiteral("Keldra"), QStringLiteral("Continuar?")));
    }

    void iconHasEverySize()
    {
        const QIcon icon(QStringLiteral(":/icons/Keldra.ico"));
        const QList<QSize> sizes = icon.availableSizes();
        for (const QSize& size : {QSize(16, 16), QSize(32, 32), QSize(48, 48)})
            QVERIFY2(sizes.contains(size), qPrintable(QString::number(size.width())));
    }

    // The list names what the running build really uses: no Microsoft runtime on Linux, and
    // the MinGW-w64 runtime the Windows program ships with.
    void aboutSelectsTheFirstComponentAndFollowsTheList()
    {
        AboutDialog dialog(vaultAboutContent());
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Sobre o Keldra"));
        QListWidget* list = dialog.componentList();
        QCOMPARE(list->count(), 5);
        QStringList texts;
        for (int row = 0; row < list->count(); ++row)
            texts << list->item(row)->text();
        QVERIFY(!texts.join(QLatin1Char('|')).contains(QStringLiteral("Visual C++")));
#ifdef Q_OS_WIN
        const QString first = QStringLiteral("Microsoft Windows APIs");
        QCOMPARE(texts.at(3), QStringLiteral("Runtime MinGW-w64 (libstdc++, libgcc, winpthreads)"));
#else
        const QString first = QStringLiteral("Bibliotecas de runtime GNU (glibc, libstdc++)");
        QCOMPARE(texts.at(1), QStringLiteral("Interfaces do Linux"));
        QVERIFY(!texts.join(QLatin1Char('|')).contains(QStringLiteral("Microsoft")));
#endif
        QCOMPARE(list->currentItem()->text(), first);
        QVERIFY(dialog.detailsView()->toPlainText().startsWith(first.section(QLatin1Char(' '), 0, 2)));
        QVERIFY(texts.filter(QStringLiteral("OpenSSL libcrypto - 3.")).size() == 1);
        QVERIFY(texts.filter(QStringLiteral("Qt 6 Core/Widgets - ")).size() == 1);
        // Capital letters sort first: libsodium comes last.
        QVERIFY(list->item(4)->text().startsWith(QStringLiteral("libsodium - ")));

        list->setCurrentRow(4);
        const QString details = dialog.detailsView()->toPlainText();
        QVERIFY(details.contains(QStringLiteral("Argon2id")));
        QVERIFY(details.contains(QStringLiteral("ISC")));
        dialog.updateDetails(QStringLiteral("not a component"));
        QVERIFY(dialog.detailsView()->toPlainText().isEmpty());
    }
};

QTEST_MAIN(TestUiDialogs)
#include "test_ui_dialogs.moc"
