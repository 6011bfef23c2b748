#include "MessageBoxPrompter.h"

#include <QMessageBox>

namespace orvello {

QString MessageBoxPrompter::DisplayText(QString text) {
    // The core's texts end lines with CR LF or a bare CR; a label breaks lines only at LF.
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

MsgAnswer MessageBoxPrompter::MsgBox(const MsgRequest& request) {
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    switch (request.icon) {
    case MsgIcon::None:
        icon = QMessageBox::NoIcon;
        break;
    case MsgIcon::Critical:
        icon = QMessageBox::Critical;
        break;
    case MsgIcon::Question:
        icon = QMessageBox::Question;
        break;
    case MsgIcon::Exclamation:
        icon = QMessageBox::Warning;
        break;
    case MsgIcon::Information:
        icon = QMessageBox::Information;
        break;
    }
    QMessageBox::StandardButtons buttons = QMessageBox::Ok;
    switch (request.buttons) {
    case MsgButtons::Ok:
        buttons = QMessageBox::Ok;
        break;
    case MsgButtons::OkCancel:
        buttons = QMessageBox::Ok | QMessageBox::Cancel;
        break;
    case MsgButtons::YesNo:
        buttons = QMessageBox::Yes | QMessageBox::No;
        break;
    }
    QMessageBox box(icon, request.title, DisplayText(request.text), buttons, m_parent);
    box.setTextFormat(Qt::PlainText); // server and file texts are never read as markup
    switch (box.exec()) {
    case QMessageBox::Yes:
        return MsgAnswer::Yes;
    case QMessageBox::No:
        return MsgAnswer::No;
    case QMessageBox::Cancel:
        return MsgAnswer::Cancel;
    default:
        return MsgAnswer::Ok;
    }
}

} // namespace orvello
