#pragma once

#include "core/vault/BatchProgress.h"

#include <QDialog>
#include <QList>
#include <QString>

class QLabel;
class QPlainTextEdit;

namespace Keldra::UI {

// The end of an import or export of many files: one paragraph with what was
// done, then every item left out with why, in a list that scrolls and can be
// copied (thousands of files may be skipped).
class BatchSummaryDialog : public QDialog
{
    Q_OBJECT

public:
    BatchSummaryDialog(const QString& title, const QString& summary, const QList<Core::SkippedItem>& skipped,
                       QWidget* parent);

    QString summaryText() const;
    // One line per skipped item: its path, then why.
    QString skippedText() const;

    // Why an item was left out, in words for the user.
    static QString reasonText(const Core::SkippedItem& item);

private:
    QLabel* m_summary = nullptr;
    QPlainTextEdit* m_skipped = nullptr;
};

} // namespace Keldra::UI
