#include "frmMenu.h"

#include "app/SurfaceFeed.h"
#include "common/ProgramSettings.h"
#include "list/Formatting.h"

namespace orvello {

const std::vector<std::int64_t>& frmMenu::SpeedChoices() {
    static const std::vector<std::int64_t> choices = {0, 100 << 10, 500 << 10, 1 << 20, 5 << 20};
    return choices;
}

QString frmMenu::SpeedText(std::int64_t bytesPerSecond) {
    if (bytesPerSecond <= 0)
        return QStringLiteral("No limit");
    return FormatFileSize(float(bytesPerSecond)) + QStringLiteral("/s");
}

frmMenu::frmMenu(QObject* parent) : QObject(parent) {
    TRAYMENU.setTitle(QStringLiteral("Menu"));
    TRAYMENU.setObjectName(QStringLiteral("TRAYMENU"));
    mnuOrvello = TRAYMENU.addAction(QStringLiteral("Orvello"));
    mnuSep1 = TRAYMENU.addSeparator();
    mnuDownload = TRAYMENU.addAction(SurfaceFeed::kStart);

    mnuSimultaneous = TRAYMENU.addMenu(QStringLiteral("Simultaneous downloads"));
    grpSimultaneous = new QActionGroup(mnuSimultaneous);
    for (int count = 1; count <= ProgramSettings::kMostSimultaneous; ++count) {
        QAction* item = mnuSimultaneous->addAction(QString::number(count));
        item->setCheckable(true);
        item->setData(count);
        grpSimultaneous->addAction(item);
    }

    mnuSpeedLimit = TRAYMENU.addMenu(QStringLiteral("Speed limit"));
    grpSpeedLimit = new QActionGroup(mnuSpeedLimit);
    mnuSpeedOther = mnuSpeedLimit->addAction(QString());
    mnuSpeedOther->setCheckable(true);
    mnuSpeedOther->setVisible(false);
    grpSpeedLimit->addAction(mnuSpeedOther);
    for (const std::int64_t limit : SpeedChoices()) {
        QAction* item = mnuSpeedLimit->addAction(SpeedText(limit));
        item->setCheckable(true);
        item->setData(qint64(limit));
        grpSpeedLimit->addAction(item);
    }

    mnuAnySite = TRAYMENU.addAction(QStringLiteral("Find videos on any page"));
    mnuAnySite->setCheckable(true);
    mnuCookies = TRAYMENU.addAction(QStringLiteral("Use a cookies file..."));
    mnuCookies->setCheckable(true);
    mnuSep2 = TRAYMENU.addSeparator();
    mnuMonitor = TRAYMENU.addAction(QStringLiteral("Monitor Video URL's in Clipboard"));
    mnuMonitor->setCheckable(true);
    mnuSep3 = TRAYMENU.addSeparator();
    mnuHelp = TRAYMENU.addAction(QStringLiteral("Help"));
    mnuAbout = TRAYMENU.addAction(QStringLiteral("About"));
    for (QAction* hidden : {mnuSep3, mnuHelp, mnuAbout})
        hidden->setVisible(false);
    mnuSep4 = TRAYMENU.addSeparator();
    mnuExit = TRAYMENU.addAction(QStringLiteral("Exit Orvello"));
}

} // namespace orvello
