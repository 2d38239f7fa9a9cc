#include "ui/OperationProgressDialog.h"

#include "ui/VaultBrowserUtils.h"

#include <QCloseEvent>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>

namespace Keldra::UI {

namespace {

constexpr qint64 kShowEveryMs = 50;

} // namespace

OperationProgressDialog::OperationProgressDialog(const QString& title, const QString& label, QWidget* parent)
    : QProgressDialog(label, QString(), 0, 1000, parent)
{
    setWindowTitle(title);
    setWindowModality(Qt::ApplicationModal);
    setWindowFlag(Qt::WindowCloseButtonHint, false);
    setCancelButton(nullptr);
    setMinimumDuration(0);
    setAutoClose(false);
    setAutoReset(false);
    // The button asks; it must not hide the dialog as QProgressDialog::cancel() does.
    disconnect(this, &QProgressDialog::canceled, this, &QProgressDialog::cancel);
    // One width for every operation, wide enough that the window manager
    // does not cut the title short. Fixed: a longer label wraps (or, for a
    // name, is shortened with fittedName) instead of widening the dialog
    // away from the centre it was placed on.
    setFixedWidth(qMax(kWidth, fontMetrics().horizontalAdvance(title) + 160));
    auto* text = new QLabel(label, this);
    text->setObjectName(QStringLiteral("progressLabel"));
    text->setWordWrap(true);
    setLabel(text);
}

QString OperationProgressDialog::fittedName(const QString& name) const
{
    return fontMetrics().elidedText(name, Qt::ElideMiddle, width() - 80);
}

void OperationProgressDialog::start()
{
    m_clock.start();
    setValue(0);
    adjustSize();
    // Placed by hand: the dialog is shown before the window manager has had
    // a chance to place it.
    if (QWidget* owner = parentWidget()) {
        const QRect area = owner->window()->frameGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
    show();
}

void OperationProgressDialog::finish()
{
    m_finished = true;
    if (maximum() > minimum())
        setValue(maximum());
    close();
}

void OperationProgressDialog::allowCancel()
{
    auto* button = new QPushButton(QStringLiteral("Cancelar"), this);
    button->setObjectName(QStringLiteral("cancelOperationButton"));
    button->setAutoDefault(false);
    setCancelButton(button);
    // QProgressDialog binds Escape to the button; Escape must do nothing here.
    const QList<QShortcut*> shortcuts = findChildren<QShortcut*>();
    for (QShortcut* shortcut : shortcuts)
        shortcut->setEnabled(false);
    connect(this, &QProgressDialog::canceled, this, &OperationProgressDialog::cancelClicked);
}

void OperationProgressDialog::showBusy()
{
    setRange(0, 0);
}

void OperationProgressDialog::showProgress(const QString& heading, qint64 done, qint64 total)
{
    if (m_lastShown.isValid() && m_lastShown.elapsed() < kShowEveryMs && done < total &&
        heading == m_lastHeading)
        return;
    m_lastShown.start();
    m_lastHeading = heading;
    setValue(total > 0 ? int(qBound<qint64>(0, done, total) * 1000 / total) : 0);
    // The worker names files in full; a name too wide for a line cannot wrap,
    // so it is shortened here, where the font is known.
    const int line = width() - 80;
    QStringList words = heading.split(QLatin1Char(' '));
    for (QString& word : words) {
        QStringList parts = word.split(QLatin1Char('\n'));
        for (QString& part : parts) {
            if (fontMetrics().horizontalAdvance(part) > line)
                part = fittedName(part);
        }
        word = parts.join(QLatin1Char('\n'));
    }
    QString text = QStringLiteral("%1\n%2 de %3")
                       .arg(words.join(QLatin1Char(' ')), formatFileSize(done), formatFileSize(total));
    const qint64 elapsed = m_clock.isValid() ? m_clock.elapsed() : 0;
    if (elapsed >= kRateAfterMs && done > 0) {
        const qint64 perSecond = done * 1000 / elapsed;
        text += QStringLiteral("\n%1/s").arg(formatFileSize(perSecond));
        if (perSecond > 0 && total > done) {
            const qint64 secondsLeft = (total - done + perSecond - 1) / perSecond;
            text += secondsLeft >= 120 ? QStringLiteral(", cerca de %1 min restantes").arg(secondsLeft / 60)
                                       : QStringLiteral(", cerca de %1 s restantes").arg(secondsLeft);
        }
    }
    setLabelText(text);
}

void OperationProgressDialog::reject()
{
    if (m_finished)
        QProgressDialog::reject();
}

void OperationProgressDialog::closeEvent(QCloseEvent* event)
{
    if (!m_finished) {
        event->ignore();
        return;
    }
    QProgressDialog::closeEvent(event);
}

} // namespace Keldra::UI
