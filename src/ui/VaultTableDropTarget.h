#pragma once

#include <QObject>
#include <QStringList>

#include <functional>

class QAbstractScrollArea;
class QMimeData;

namespace Keldra::UI {

// Lets the desktop's file manager drop local files and folders on the vault
// table. Drops are offered only while `accepting` says so; the dropped paths
// reach `dropped` after the drop has finished, so questions and progress
// dialogs never run inside the drag-and-drop exchange.
class VaultTableDropTarget : public QObject
{
public:
    VaultTableDropTarget(QAbstractScrollArea* view, std::function<bool()> accepting,
                         std::function<void(const QStringList&)> dropped);

    // Local paths of the dragged items; empty when any item is not a local file.
    static QStringList localPaths(const QMimeData* mime);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::function<bool()> m_accepting;
    std::function<void(const QStringList&)> m_dropped;
};

} // namespace Keldra::UI
