#include "app/LinkDrops.h"

#include "resolve/Sites.h"

#include <QDropEvent>
#include <QMimeData>
#include <QRegularExpression>
#include <QUrl>
#include <QWidget>

namespace orvello {

LinkDrops::LinkDrops(std::function<void(const QString&)> add, QObject* parent)
    : QObject(parent), add_(std::move(add)) {}

void LinkDrops::Watch(QWidget& target) {
    target.setAcceptDrops(true);
    target.installEventFilter(this);
}

QStringList LinkDrops::Addresses(const QMimeData* data) {
    QStringList candidates;
    if (!data)
        return {};
    if (data->hasUrls()) {
        // A link dragged from a browser comes as a link and as text; the link is the one to
        // read. Files dragged from a file manager are no pages.
        for (const QUrl& url : data->urls()) {
            if (!url.isLocalFile())
                candidates << url.toString();
        }
    } else if (data->hasText()) {
        static const QRegularExpression kLineEnd(QStringLiteral("\r\n|\r|\n"));
        candidates = data->text().split(kLineEnd);
    }
    QStringList addresses;
    for (const QString& candidate : std::as_const(candidates)) {
        const QString address = candidate.trimmed();
        if (!address.isEmpty() && IdentifySite(address) != kSiteNotSupported)
            addresses << address;
    }
    return addresses;
}

bool LinkDrops::eventFilter(QObject* /*watched*/, QEvent* event) {
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop: {
        auto* drop = static_cast<QDropEvent*>(event);
        const QStringList addresses = Addresses(drop->mimeData());
        if (addresses.isEmpty()) {
            drop->ignore();
            return true; // nothing for the list, nor for the surface or the grid
        }
        // A copy: the place the text came from keeps it.
        drop->setDropAction(Qt::CopyAction);
        drop->accept();
        if (event->type() == QEvent::Drop) {
            for (const QString& address : addresses)
                add_(address);
        }
        return true;
    }
    default:
        return false;
    }
}

} // namespace orvello
