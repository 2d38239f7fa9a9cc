#pragma once

#include <QElapsedTimer>
#include <QProgressDialog>

namespace Keldra::UI {

// Modal progress of a long vault operation (0..1000). Escape and the title
// bar's close button do nothing until finish(): a hidden dialog would hand
// the window back to the user while the vault is still at work. An
// operation that can stop gets a "Cancelar" button, which only asks
// (cancelClicked); the dialog stays until the operation has ended.
class OperationProgressDialog : public QProgressDialog
{
    Q_OBJECT

public:
    OperationProgressDialog(const QString& title, const QString& label, QWidget* parent);

    // Shows the dialog centred on its parent.
    void start();
    // Fills the bar and closes the dialog; from here on it may be dismissed.
    void finish();
    // Adds the "Cancelar" button.
    void allowCancel();
    // A moving bar instead of a fraction: for work that reports no progress.
    void showBusy();
    // heading, then "done de total", then speed and time left once the
    // operation has run for a few seconds. Shown at most every 50 ms, except
    // a new heading and the end: a verify reports far more often than that.
    void showProgress(const QString& heading, qint64 done, qint64 total);

    // A file name shortened in the middle to fit on one line of the label.
    QString fittedName(const QString& name) const;

    // How long an operation runs before its speed and time left are shown.
    static constexpr qint64 kRateAfterMs = 3000;
    static constexpr int kWidth = 440;

signals:
    void cancelClicked();

public slots:
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    bool m_finished = false;
    QElapsedTimer m_clock;
    QElapsedTimer m_lastShown;
    QString m_lastHeading;
};

} // namespace Keldra::UI
