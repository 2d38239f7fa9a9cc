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

    QListWidget* componentList() const { return componentsList; }
    QTextEdit* detailsView() const { return detailsEdit; }

public slots:
    void updateDetails(const QString& componentText);

private:
    void buildUi();
    void populateComponents();

    QListWidget* componentsList = nullptr;
    QTextEdit* detailsEdit = nullptr;
    QLabel* productInfoLabel = nullptr;
    QMap<QString, QString> componentDetails;
};

} // namespace Keldra::UI
