#pragma once

#include <QString>

namespace orvello {

// The window's UI surface as the core sees it: named variables ("_root.download_dir", ...)
// that the program writes for the surface to show, and the one it reads back. The window
// implements it with its QML surface; tests with a recorder.
class UiSurface {
public:
    virtual ~UiSurface() = default;
    virtual void SetVariable(const QString& name, const QString& value) = 0;
    virtual QString GetVariable(const QString& name) = 0;
};

// The program's side of the UI surface: every variable the program writes goes through
// SetUiVariable, and the page last chosen on the surface is kept in sCurrentTab.
class UiVariables {
public:
    explicit UiVariables(UiSurface* surface = nullptr) : surface_(surface) {}

    void setSurface(UiSurface* surface) { surface_ = surface; }

    void SetUiVariable(const QString& name, const QString& value) {
        if (surface_)
            surface_->SetVariable(name, value);
    }
    // The address the surface holds for adding ("_root.video_url").
    QString VideoUrl() const {
        return surface_ ? surface_->GetVariable(QStringLiteral("_root.video_url")) : QString();
    }

    // "About" or "Download": the last page command received; empty at start.
    QString sCurrentTab;

private:
    UiSurface* surface_;
};

} // namespace orvello
