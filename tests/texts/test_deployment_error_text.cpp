#include "texts/DeploymentErrorText.h"

#include <QMetaEnum>
#include <QRegularExpression>
#include <QtTest>

using Keldra::Deployment::Error;
using Keldra::Texts::DeploymentErrorText;
using Reason = Error::Reason;

class DeploymentErrorTextTest : public QObject
{
    Q_OBJECT

private slots:
    void everyReasonHasItsOwnText()
    {
        QVERIFY(DeploymentErrorText::message(Error()).isEmpty());
        const QMetaEnum reasons = QMetaEnum::fromType<Reason>();
        QSet<QString> texts;
        for (int i = 0; i < reasons.keyCount(); ++i) {
            const auto reason = static_cast<Reason>(reasons.value(i));
            if (reason == Reason::None)
                continue;
            const QString text = DeploymentErrorText::message(Error(reason, {QStringLiteral("ARG")}));
            QVERIFY2(!text.isEmpty(), reasons.key(i));
            QVERIFY2(!text.contains(QRegularExpression(QStringLiteral("%[1-9]"))), reasons.key(i));
            // Users must tell the reasons apart; a few pass a library's own text through.
            QVERIFY2(text == QLatin1String("ARG") || !texts.contains(text), reasons.key(i));
            texts.insert(text);
        }
    }

    void argumentsAreFilledInOnce()
    {
        // A path holding a placeholder of its own stays as it is.
        const QString path = QStringLiteral("/media/usb/%2 %1/Keldra/update-state.json");
        QCOMPARE(DeploymentErrorText::message(Error(Reason::StateFileNotSaved, {path})),
                 QStringLiteral("Não foi possível salvar o arquivo de estado: ") + path);
        QCOMPARE(
            DeploymentErrorText::message(Error(Reason::ManifestMalformed, {QStringLiteral("illegal value")})),
            QStringLiteral("illegal value"));
    }

    void aStepThatFailedBecauseOfAnotherSaysBoth()
    {
        const QString url = QStringLiteral("https://example.invalid/000Updates/manifest%201.json");
        QCOMPARE(
            DeploymentErrorText::message(Error(Reason::ManifestUnreachable, Error(Reason::TimedOut, {url}))),
            QStringLiteral("Falha ao consultar manifesto: Tempo limite excedido ao acessar: ") + url);
        const Error room(Reason::PackageNotPrepared,
                         Error(Reason::UpdateNoRoom, {QStringLiteral("10"), QStringLiteral("9")}));
        QCOMPARE(DeploymentErrorText::message(room),
                 QStringLiteral(
                     "Falha ao preparar pacote: Espaço insuficiente na unidade USB. Necessário: 10 bytes. "
                     "Disponível: 9 bytes."));
        // A text with no room for its cause keeps it for the log only, and a "%1" in a
        // path is not mistaken for the cause's place.
        const QString program = QStringLiteral("/media/usb %1/Keldra/linux/Keldra");
        const Error copy(Reason::ExecutableNotCopied, Error(Reason::FileNotCreated, {program}), {program});
        QCOMPARE(DeploymentErrorText::message(copy),
                 QStringLiteral("Não foi possível copiar o executável para: ") + program);
        QVERIFY(copy.toString().endsWith(QStringLiteral("<- FileNotCreated [") + program + QLatin1Char(']')));
    }

    void errorKeepsReasonDetailAndCause()
    {
        const Error none;
        QVERIFY(none.ok());
        QVERIFY(none.within(QStringLiteral("journal")).detail().isEmpty());

        const Error inner(Reason::StateFileNotOpened, {QStringLiteral("/d/state.json")},
                          QStringLiteral("Permission denied"));
        QVERIFY(!inner.ok());
        QVERIFY(inner.is(Reason::StateFileNotOpened));
        QCOMPARE(inner.argument(0), QStringLiteral("/d/state.json"));
        QVERIFY(inner.argument(1).isEmpty());
        QCOMPARE(inner.within(QStringLiteral("recovery")).detail(),
                 QStringLiteral("recovery: Permission denied"));
        QCOMPARE(inner.within(QStringLiteral("recovery")).reason(), Reason::StateFileNotOpened);

        const Error outer(Reason::JournalNotWritable, inner, {QStringLiteral("/d/journal.json")});
        QVERIFY(outer.cause());
        QCOMPARE(outer.cause()->reason(), Reason::StateFileNotOpened);
        QCOMPARE(outer.toString(),
                 QStringLiteral("JournalNotWritable [/d/journal.json] <- StateFileNotOpened "
                                "[/d/state.json] (Permission denied)"));
    }
};

QTEST_GUILESS_MAIN(DeploymentErrorTextTest)
#include "test_deployment_error_text.moc"
