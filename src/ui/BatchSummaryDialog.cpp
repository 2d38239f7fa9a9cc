#include "ui/BatchSummaryDialog.h"

#include "texts/VaultErrorText.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace Keldra::UI {

using Why = Core::SkippedItem::Why;

BatchSummaryDialog::BatchSummaryDialog(const QString& title, const QString& summary,
                                       const QList<Core::SkippedItem>& skipped, QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(title);
    setMinimumWidth(520);
    auto* layout = new QVBoxLayout(this);
    m_summary = new QLabel(summary, this);
    m_summary->setObjectName(QStringLiteral("batchSummaryText"));
    m_summary->setWordWrap(true);
    m_summary->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(m_summary);

    m_skipped = new QPlainTextEdit(this);
    m_skipped->setObjectName(QStringLiteral("batchSkippedList"));
    m_skipped->setReadOnly(true);
    m_skipped->setLineWrapMode(QPlainTextEdit::NoWrap);
    QStringList lines;
    lines.reserve(skipped.size());
    for (const Core::SkippedItem& item : skipped)
        lines << QStringLiteral("%1 — %2").arg(QDir::toNativeSeparators(item.path), reasonText(item));
    m_skipped->setPlainText(lines.join(QLatin1Char('\n')));
    m_skipped->setMinimumHeight(180);
    m_skipped->setVisible(!skipped.isEmpty());
    layout->addWidget(m_skipped, 1);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(buttons);
}

QString BatchSummaryDialog::summaryText() const
{
    return m_summary->text();
}

QString BatchSummaryDialog::skippedText() const
{
    return m_skipped->toPlainText();
}

QString BatchSummaryDialog::reasonText(const Core::SkippedItem& item)
{
    switch (item.why) {
    case Why::Link:
        return QStringLiteral("atalho ou link simbólico, não seguido");
    case Why::Special:
        return QStringLiteral("arquivo especial (dispositivo, soquete ou pipe), não lido");
    case Why::Unreadable:
        return QStringLiteral("não pôde ser lido (verifique as permissões)");
    case Why::InvalidName:
        return QStringLiteral("nome não aceito no cofre");
    case Why::Existing:
        return QStringLiteral("já existia e foi mantido");
    case Why::Failed:
        break;
    }
    // Reasons the shared table leaves to the command's own words.
    if (item.error.is(Core::Error::Reason::SourceUnreadable))
        return QStringLiteral("não pôde ser lido (verifique as permissões)");
    if (item.error.is(Core::Error::Reason::DestinationUnwritable))
        return QStringLiteral("não foi possível gravar no destino");
    const QString reason = Texts::VaultErrorText::forReason(item.error);
    return reason.isEmpty() ? QStringLiteral("falhou") : QStringLiteral("falhou: %1").arg(reason);
}

} // namespace Keldra::UI
