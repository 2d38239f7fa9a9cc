#pragma once

#include <QDialog>
#include <QMap>
#include <QString>

class QLabel;
class QListWidget;
class QTextEdit;

namespace Keldra::UI {

// Product, runtime and third-party component information.
class AboutDialog : public QDialog
{
    Q_OBJECT

public:
    explicit AboutDialog(QWidget* parent = nullptr);

    QListWidget* componentList() const { return m_componentsList; }
    QTextEdit* detailsView() const { return m_detailsEdit; }

public slots:
    void updateDetails(const QString& componentText);

private:
    void buildUi();
    void populateComponents();

    QListWidget* m_componentsList = nullptr;
    QTextEdit* m_detailsEdit = nullptr;
    QLabel* m_productInfoLabel = nullptr;
    QMap<QString, QString> m_componentDetails;
};

} // namespace Keldra::UI
