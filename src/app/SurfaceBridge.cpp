#include "app/SurfaceBridge.h"

#include <QDir>
#include <QQmlError>
#include <QQuickItem>
#include <QQuickWidget>
#include <QUrl>

namespace orvello {

SurfaceBridge::SurfaceBridge(QQuickWidget& view, QObject* parent) : QObject(parent), view_(view) {}

QQuickItem* SurfaceBridge::root() const {
    return view_.rootObject();
}

bool SurfaceBridge::Load(const QString& path) {
    view_.setSource(QUrl::fromLocalFile(path));
    QQuickItem* surface = root();
    if (!surface)
        return false;
    // The surface's own signal, relayed: a replacement surface is connected the same way.
    connect(surface, SIGNAL(fsCommand(QString, QString)), this,
            SIGNAL(fsCommand(QString, QString)));
    return true;
}

QStringList SurfaceBridge::LoadErrors() const {
    QStringList lines;
    for (const QQmlError& error : view_.errors()) {
        // A file by its path, as its user knows it, rather than by its file: URL. An error
        // of the view's own (a root that is no item) names no file: it is the surface's.
        const QUrl url = error.url().isEmpty() ? view_.source() : error.url();
        QString line =
            url.isLocalFile() ? QDir::toNativeSeparators(url.toLocalFile()) : url.toString();
        if (error.line() > 0)
            line += QStringLiteral(":%1").arg(error.line());
        if (error.column() > 0)
            line += QStringLiteral(":%1").arg(error.column());
        lines << (line.isEmpty() ? error.description()
                                 : line + QStringLiteral(": ") + error.description());
    }
    return lines;
}

void SurfaceBridge::SetVariable(const QString& name, const QString& value) {
    if (QQuickItem* surface = root())
        QMetaObject::invokeMethod(surface, "setVariable", Q_ARG(QVariant, name),
                                  Q_ARG(QVariant, value));
}

QString SurfaceBridge::GetVariable(const QString& name) {
    QVariant result;
    if (QQuickItem* surface = root())
        QMetaObject::invokeMethod(surface, "getVariable", Q_RETURN_ARG(QVariant, result),
                                  Q_ARG(QVariant, name));
    return result.toString();
}

QRect SurfaceBridge::GridArea(const QRect& fallback) const {
    QQuickItem* surface = root();
    auto* area = surface ? surface->property("gridArea").value<QQuickItem*>() : nullptr;
    if (!area || area->width() <= 0 || area->height() <= 0)
        return fallback;
    return area->mapRectToItem(surface, QRectF(0, 0, area->width(), area->height()))
        .toAlignedRect();
}

GridColours SurfaceBridge::GridColoursFromTheme(const GridColours& fallback) const {
    static const std::pair<const char*, QColor GridColours::*> kNames[] = {
        {"gridBackground", &GridColours::background},
        {"gridLines", &GridColours::lines},
        {"gridRowSelector", &GridColours::rowSelector},
        {"gridHeader", &GridColours::header},
        {"gridHeaderText", &GridColours::headerText},
        {"gridCell", &GridColours::cell},
        {"gridSelected", &GridColours::selected},
        {"gridSelectedText", &GridColours::selectedText},
        {"gridActiveCell", &GridColours::activeCell},
    };
    GridColours colours = fallback;
    QQuickItem* surface = root();
    const QObject* theme = surface ? surface->property("theme").value<QObject*>() : nullptr;
    if (!theme)
        return colours;
    for (const auto& [name, member] : kNames) {
        const QVariant value = theme->property(name);
        // A colour property, or a colour's name such as "#cfdd63" in a text or var property.
        const QColor colour = value.canConvert<QColor>() ? value.value<QColor>() : QColor();
        if (colour.isValid())
            colours.*member = colour;
    }
    return colours;
}

} // namespace orvello
