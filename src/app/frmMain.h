#pragma once

#include "common/ProgramSettings.h"
#include "common/RunState.h"
#include "common/UiVariables.h"
#include "list/GridBinding.h"

#include <QMainWindow>

#include <memory>

class QQuickWidget;
class QTableView;

namespace orvello {

class DownloadScheduler;
class MessageBoxPrompter;
class modMain;

// The main window: hosts the UI surface (Main.qml) and the download grid, and composes
// the subsystems. It holds no logic of its own beyond wiring.
class frmMain : public QMainWindow, public GridBinding, public UiSurface {
    Q_OBJECT
public:
    // surfacePath: the UI surface to load; empty means Main.qml in the program's folder.
    explicit frmMain(const QString& surfacePath = {}, QWidget* parent = nullptr);
    ~frmMain() override;

    // Sets a variable of the UI surface ("_root.download_dir", ...); every write goes here.
    void SetUiVariable(const QString& name, const QString& value) {
        m_ui.SetUiVariable(name, value);
    }
    // Reads a variable of the UI surface; empty when the surface has none.
    QString GetUiVariable(const QString& name) const;

    // UiSurface: the QML surface's setVariable and getVariable.
    void SetVariable(const QString& name, const QString& value) override;
    QString GetVariable(const QString& name) override { return GetUiVariable(name); }

    // GridBinding
    void SetDataSource(DownloadTableModel* model) override;
    void ApplyLayout() override;

    modMain& list() { return *m_list; }
    DownloadScheduler& scheduler() { return *m_scheduler; }
    QTableView* DownloadGrid = nullptr;
    QQuickWidget* Flash = nullptr;

private slots:
    void Flash_FSCommand(const QString& command, const QString& args);

private:
    RunState m_run;
    ProgramSettings m_settings;
    UiVariables m_ui{this};
    std::unique_ptr<MessageBoxPrompter> m_prompter;
    std::unique_ptr<modMain> m_list;
    std::unique_ptr<DownloadScheduler> m_scheduler;
};

} // namespace orvello
