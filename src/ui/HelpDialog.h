#pragma once

#include <QDialog>

class QTextBrowser;

namespace Keldra::UI {

// The user guide, read from the program's resources.
class HelpDialog : public QDialog
{
    Q_OBJECT

public:
    explicit HelpDialog(QWidget* parent = nullptr);

    QTextBrowser* browser() const { return m_textBrowser; }

private:
    void buildUi();
    void loadHelpContent();

    QTextBrowser* m_textBrowser = nullptr;
};

} // namespace Keldra::UI
