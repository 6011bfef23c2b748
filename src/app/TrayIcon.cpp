#include "app/TrayIcon.h"

#include "app/SurfaceFeed.h"
#include "app/frmMenu.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QWidget>

namespace orvello {

TrayIcon::TrayIcon(QWidget& window, Actions actions)
    : window_(window), actions_(std::move(actions)) {
    tmrend.setSingleShot(true);
    tmrend.setInterval(200);
    connect(&tmrend, &QTimer::timeout, this, [this] {
        tmrend.stop();
        if (actions_.exit)
            actions_.exit();
    });
}

TrayIcon::~TrayIcon() {
    // The icon must not keep a menu that goes before it.
    SysTray.setContextMenu(nullptr);
}

QIcon TrayIcon::Picture() {
    QPixmap pixmap(64, 64);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(39, 104, 146));
    p.drawRoundedRect(QRectF(2, 2, 60, 60), 12, 12);
    p.setBrush(QColor(156, 184, 99));
    p.drawRoundedRect(QRectF(12, 44, 40, 9), 3, 3);
    QPainterPath arrow;
    arrow.moveTo(26, 10);
    arrow.lineTo(38, 10);
    arrow.lineTo(38, 24);
    arrow.lineTo(47, 24);
    arrow.lineTo(32, 40);
    arrow.lineTo(17, 24);
    arrow.lineTo(26, 24);
    arrow.closeSubpath();
    p.setBrush(QColor(255, 199, 0));
    p.drawPath(arrow);
    return QIcon(pixmap);
}

void TrayIcon::ShowIcon() {
    SysTray.setIcon(Picture());
    SysTray.setToolTip(QStringLiteral("Orvello"));
    SysTray.show();
    connect(&SysTray, &QSystemTrayIcon::activated, this, &TrayIcon::SysTray_Activated,
            Qt::UniqueConnection);
}

void TrayIcon::LoadMenu() {
    menu = std::make_unique<frmMenu>();
    SysTray.setContextMenu(&menu->TRAYMENU);
    connect(&menu->TRAYMENU, &QMenu::aboutToShow, this, &TrayIcon::TRAYMENU_AboutToShow);
    connect(menu->mnuOrvello, &QAction::triggered, this, &TrayIcon::mnuOrvello_Click);
    connect(menu->mnuDownload, &QAction::triggered, this, &TrayIcon::mnuDownload_Click);
    connect(menu->mnuMonitor, &QAction::triggered, this, &TrayIcon::mnuMonitor_Click);
    connect(menu->grpSimultaneous, &QActionGroup::triggered, this,
            &TrayIcon::mnuSimultaneous_Click);
    connect(menu->grpSpeedLimit, &QActionGroup::triggered, this, &TrayIcon::mnuSpeedLimit_Click);
    connect(menu->mnuAnySite, &QAction::triggered, this, &TrayIcon::mnuAnySite_Click);
    connect(menu->mnuCookies, &QAction::triggered, this, &TrayIcon::mnuCookies_Click);
    connect(menu->mnuExit, &QAction::triggered, this, &TrayIcon::mnuExit_Click);
}

void TrayIcon::SetDownloadCaption(const QString& caption) {
    if (menu)
        menu->mnuDownload->setText(caption);
}

void TrayIcon::Remove() {
    SysTray.setContextMenu(nullptr);
    menu.reset();
    SysTray.hide();
}

void TrayIcon::ShowMessage(const QString& message) {
    if (SysTray.isVisible() && QSystemTrayIcon::supportsMessages())
        SysTray.showMessage(QStringLiteral("Orvello"), message, QSystemTrayIcon::Information);
}

QString TrayIcon::RunSummary(int complete, int failed) {
    QString summary = complete == 0   ? QStringLiteral("no video downloaded")
                      : complete == 1 ? QStringLiteral("1 video downloaded")
                                      : QStringLiteral("%1 videos downloaded").arg(complete);
    if (failed > 0)
        summary += QStringLiteral(", %1 failed").arg(failed);
    return summary;
}

void TrayIcon::RestoreWindow() {
    // A minimised window is still visible: showing it alone would leave it iconic.
    window_.setWindowState(window_.windowState() & ~Qt::WindowMinimized);
    window_.setVisible(true);
    window_.raise();
    window_.activateWindow();
}

void TrayIcon::SysTray_Activated(QSystemTrayIcon::ActivationReason reason) {
    // A left click brings the window back; the right button opens the menu, which the tray
    // icon does itself.
    if (reason == QSystemTrayIcon::Trigger)
        RestoreWindow();
}

void TrayIcon::TRAYMENU_AboutToShow() {
    window_.activateWindow();
    menu->mnuMonitor->setChecked(actions_.monitoring && actions_.monitoring());
    // The marks of the two submenus: the count and the limit in force. A limit that is none
    // of the choices (set in the settings file) shows as an item of its own.
    const int count = actions_.simultaneous ? actions_.simultaneous() : 1;
    for (QAction* item : menu->grpSimultaneous->actions())
        item->setChecked(item->data().toInt() == count);
    const std::int64_t limit = actions_.speedLimit ? actions_.speedLimit() : 0;
    bool offered = false;
    for (QAction* item : menu->grpSpeedLimit->actions()) {
        if (item == menu->mnuSpeedOther)
            continue;
        item->setChecked(item->data().toLongLong() == limit);
        offered = offered || item->isChecked();
    }
    menu->mnuSpeedOther->setVisible(!offered);
    menu->mnuSpeedOther->setText(frmMenu::SpeedText(limit));
    menu->mnuSpeedOther->setData(qint64(limit));
    menu->mnuSpeedOther->setChecked(!offered);
    menu->mnuAnySite->setChecked(actions_.anySite && actions_.anySite());
    menu->mnuCookies->setChecked(actions_.cookies && actions_.cookies());
}

void TrayIcon::mnuOrvello_Click() {
    RestoreWindow();
}

void TrayIcon::mnuDownload_Click() {
    if (actions_.command)
        actions_.command(menu->mnuDownload->text() == SurfaceFeed::kStart
                             ? QStringLiteral("IDC_FS_startDownload")
                             : QStringLiteral("IDC_FS_stopDownload"));
}

void TrayIcon::mnuMonitor_Click() {
    // The item has toggled its mark already: the new mark is the opposite of the old one.
    if (actions_.setMonitoring)
        actions_.setMonitoring(menu->mnuMonitor->isChecked());
}

void TrayIcon::mnuSimultaneous_Click(QAction* item) {
    if (actions_.setSimultaneous)
        actions_.setSimultaneous(item->data().toInt());
}

void TrayIcon::mnuSpeedLimit_Click(QAction* item) {
    if (actions_.setSpeedLimit)
        actions_.setSpeedLimit(item->data().toLongLong());
}

void TrayIcon::mnuAnySite_Click() {
    // The item has toggled its mark already.
    if (actions_.setAnySite)
        actions_.setAnySite(menu->mnuAnySite->isChecked());
}

void TrayIcon::mnuCookies_Click() {
    // Checked now: a file is to be chosen; unchecked: none is used any more.
    if (actions_.setCookies)
        actions_.setCookies(menu->mnuCookies->isChecked());
}

void TrayIcon::mnuExit_Click() {
    tmrend.start();
}

} // namespace orvello
