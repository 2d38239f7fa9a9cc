#pragma once

#include <QDialog>

class QSpinBox;

namespace Keldra::UI {

// "Preferências": how long the vault stays unlocked without use.
class PreferencesDialog : public QDialog
{
    Q_OBJECT

public:
    // minutes: 0 = never.
    PreferencesDialog(int inactivityMinutes, QWidget* parent = nullptr);
    int inactivityMinutes() const;

private:
    QSpinBox* m_minutes = nullptr;
};

} // namespace Keldra::UI
