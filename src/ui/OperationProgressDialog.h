#pragma once

#include <QProgressDialog>

namespace Keldra::UI {

// Modal progress of a long vault operation (0..1000, no cancel button). The
// operation cannot be interrupted, so the dialog cannot be dismissed either
// (Escape, the title bar's close button) until finish(): a hidden dialog
// would hand the window back to the user while the vault is still at work.
class OperationProgressDialog : public QProgressDialog
{
    Q_OBJECT

public:
    OperationProgressDialog(const QString& title, const QString& label, QWidget* parent);

    // Shows the dialog centred on its parent and paints it at once.
    void start();
    // Fills the bar and closes the dialog; from here on it may be dismissed.
    void finish();
    // A file name shortened in the middle to fit on one line of the label.
    QString fittedName(const QString& name) const;

    static constexpr int kWidth = 440;

public slots:
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    bool m_finished = false;
};

} // namespace Keldra::UI
