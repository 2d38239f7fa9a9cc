#include "ui/VaultTableDropTarget.h"

#include <QAbstractScrollArea>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

namespace Keldra::UI {

VaultTableDropTarget::VaultTableDropTarget(QAbstractScrollArea* view, std::function<bool()> accepting,
                                           std::function<void(const QStringList&)> dropped)
    : QObject(view), m_accepting(std::move(accepting)), m_dropped(std::move(dropped))
{
    // Drag events reach the viewport; filtering there keeps the table's own
    // item drag-and-drop out of the way.
    view->setAcceptDrops(true);
    view->viewport()->setAcceptDrops(true);
    view->viewport()->installEventFilter(this);
}

QStringList VaultTableDropTarget::localPaths(const QMimeData* mime)
{
    if (!mime || !mime->hasUrls())
        return {};
    QStringList paths;
    const QList<QUrl> urls = mime->urls();
    for (const QUrl& url : urls) {
        if (!url.isLocalFile() || url.toLocalFile().isEmpty())
            return {};
        paths << url.toLocalFile();
    }
    return paths;
}

bool VaultTableDropTarget::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto* drag = static_cast<QDropEvent*>(event);
        // Copy, never move: the file manager must not delete the originals.
        if (m_accepting() && (drag->possibleActions() & Qt::CopyAction) &&
            !localPaths(drag->mimeData()).isEmpty()) {
            drag->setDropAction(Qt::CopyAction);
            drag->accept();
        } else {
            drag->ignore();
        }
        return true;
    }
    case QEvent::DragLeave:
        return true;
    case QEvent::Drop: {
        auto* drop = static_cast<QDropEvent*>(event);
        const QStringList paths = localPaths(drop->mimeData());
        if (!m_accepting() || !(drop->possibleActions() & Qt::CopyAction) || paths.isEmpty()) {
            drop->ignore();
            return true;
        }
        drop->setDropAction(Qt::CopyAction);
        drop->accept();
        QMetaObject::invokeMethod(
            this, [this, paths] { m_dropped(paths); }, Qt::QueuedConnection);
        return true;
    }
    default:
        return QObject::eventFilter(watched, event);
    }
}

} // namespace Keldra::UI
