#pragma once

#include "app/GridCellDelegate.h"
#include "app/UiVariables.h"

#include <QObject>
#include <QRect>
#include <QStringList>

class QQuickItem;
class QQuickWidget;

namespace orvello {

// The program's side of the UI surface shown in a QQuickWidget: it loads the surface,
// carries the surface's variables both ways (its setVariable and getVariable), relays its
// commands as the signal fsCommand, and reads what the window takes from the loaded surface:
// the place of the download grid (its gridArea) and the grid's colours (its theme's).
class SurfaceBridge : public QObject, public UiSurface {
    Q_OBJECT
public:
    explicit SurfaceBridge(QQuickWidget& view, QObject* parent = nullptr);

    // Loads the surface file at `path` into the view; false when it did not load.
    bool Load(const QString& path);
    // Why the last Load failed, one line per error: the file, the place in it and the error
    // (such as a module the surface imports that is not installed). Empty when nothing was
    // wrong with the file itself.
    QStringList LoadErrors() const;

    // UiSurface. Without a loaded surface a write goes nowhere and a read answers "".
    void SetVariable(const QString& name, const QString& value) override;
    QString GetVariable(const QString& name) override;

    // The surface's gridArea in the surface's coordinates; `fallback` when it has none.
    QRect GridArea(const QRect& fallback) const;
    // The surface theme's grid* colours; each one it lacks is taken from `fallback`.
    GridColours GridColoursFromTheme(const GridColours& fallback) const;

signals:
    void fsCommand(const QString& command, const QString& args);

private:
    QQuickItem* root() const;

    QQuickWidget& view_;
};

} // namespace orvello
