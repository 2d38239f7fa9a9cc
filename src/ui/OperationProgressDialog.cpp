#include "ui/OperationProgressDialog.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>

namespace Keldra::UI {

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
    setValue(0);
    adjustSize();
    // Placed by hand: the dialog is shown before the window manager has had
    // a chance to place it, and the work that follows keeps it busy.
    if (QWidget* owner = parentWidget()) {
        const QRect area = owner->window()->frameGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
    show();
    QApplication::processEvents();
}

void OperationProgressDialog::finish()
{
    m_finished = true;
    setValue(maximum());
    close();
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
