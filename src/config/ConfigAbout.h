#pragma once

#include <QDialog>

namespace Keldra::Config {

// The tool's about box: version, run-time environment, components and legal notice.
class ConfigAboutDialog : public QDialog
{
    Q_OBJECT

public:
    explicit ConfigAboutDialog(QWidget* parent = nullptr);
};

// Shown in the status bar and the about box.
QString publisherName();

} // namespace Keldra::Config
