#include "app/LinkDrops.h"

#include "common/Prompter.h"
#include "list/modMain.h"
#include "resolve/Sites.h"

#include <QDropEvent>
#include <QMimeData>
#include <QTimer>
#include <QUrl>
#include <QWidget>

namespace orvello {

namespace {

// The message of a drop of which `leftOut` addresses did not fit.
QString LeftOutText(qsizetype leftOut) {
    return leftOut == 1
               ? QStringLiteral("The list is full: 1 address was left out.")
               : QStringLiteral("The list is full: %1 addresses were left out.").arg(leftOut);
}

} // namespace

LinkDrops::LinkDrops(std::function<qsizetype(const QStringList&)> add, Prompter& prompter,
                     QObject* parent)
    : QObject(parent), add_(std::move(add)), prompter_(prompter) {}

void LinkDrops::Watch(QWidget& target) {
    target.setAcceptDrops(true);
    target.installEventFilter(this);
}

SplitText LinkDrops::Addresses(const QMimeData* data) {
    // No drop can bring more than a list holds; the rest is only counted.
    constexpr qsizetype kLimit = modMain::kCapacity;
    if (!data)
        return {};
    if (data->hasUrls()) {
        // A link dragged from a browser comes as a link and as text; the link is the one to
        // read. Files dragged from a file manager are no pages.
        SplitText split;
        for (const QUrl& url : data->urls()) {
            if (url.isLocalFile())
                continue;
            const QString address = url.toString();
            if (IdentifySite(address) == kSiteNotSupported)
                continue;
            if (split.addresses.size() < kLimit)
                split.addresses << address;
            else
                ++split.more;
        }
        return split;
    }
    if (data->hasText())
        return SplitAddresses(data->text(), kLimit);
    return {};
}

bool LinkDrops::eventFilter(QObject* /*watched*/, QEvent* event) {
    switch (event->type()) {
    case QEvent::DragLeave:
        drag_.reset();
        return false;
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop: {
        auto* drop = static_cast<QDropEvent*>(event);
        // Read at the drag's entry (or at its first move, should the entry have gone
        // elsewhere), and kept until it leaves or drops: a move costs nothing, however much
        // text is dragged.
        if (event->type() == QEvent::DragEnter || !drag_)
            drag_ = Addresses(drop->mimeData());
        if (drag_->addresses.isEmpty()) {
            if (event->type() == QEvent::Drop)
                drag_.reset();
            drop->ignore();
            return true; // nothing for the list, nor for the surface or the grid
        }
        // A copy: the place the text came from keeps it.
        drop->setDropAction(Qt::CopyAction);
        drop->accept();
        if (event->type() == QEvent::Drop) {
            const SplitText dropped = std::move(*drag_);
            drag_.reset();
            const qsizetype leftOut = add_(dropped.addresses) + dropped.more;
            if (leftOut > 0) {
                // Said once the drop has returned: the drag's source waits for its answer,
                // and a message box would hold it.
                QTimer::singleShot(0, this, [this, leftOut] {
                    prompter_.MsgBox(
                        {LeftOutText(leftOut), MsgButtons::Ok, MsgIcon::Exclamation, kAppTitle});
                });
            }
        }
        return true;
    }
    default:
        return false;
    }
}

} // namespace orvello
