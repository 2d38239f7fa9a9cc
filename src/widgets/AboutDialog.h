#pragma once

#include <QDialog>
#include <QList>
#include <QMap>
#include <QPair>
#include <QSize>
#include <QString>

class QListWidget;
class QTextEdit;

namespace Keldra::Widgets {

// What one program's About box says; the box itself is the same for both.
struct AboutContent
{
    QString windowTitle;
    QString heading;     // beside the icon
    QString productText; // rich text; its links open in the browser
    QString componentsCaption;
    QString detailsCaption; // above the selected component's details; none when empty
    // Listed in this order: the component's name, then what the box shows when it is selected.
    QList<QPair<QString, QString>> components;
    QString legalText;
    QSize size;
};

// Product, runtime and component information, with the components as a list and
// the selected one's details below it.
class AboutDialog : public QDialog
{
    Q_OBJECT

public:
    explicit AboutDialog(const AboutContent& content, QWidget* parent = nullptr);

    QListWidget* componentList() const { return m_componentsList; }
    QTextEdit* detailsView() const { return m_detailsEdit; }

public slots:
    void updateDetails(const QString& componentText);

private:
    void buildUi(const AboutContent& content);

    QListWidget* m_componentsList = nullptr;
    QTextEdit* m_detailsEdit = nullptr;
    QMap<QString, QString> m_componentDetails;
};

} // namespace Keldra::Widgets
