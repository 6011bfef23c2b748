#include "frmMain.h"

#include "MessageBoxPrompter.h"
#include "list/DownloadTableModel.h"
#include "list/modMain.h"
#include "scheduler/DownloadScheduler.h"

#include <QCoreApplication>
#include <QDir>
#include <QHeaderView>
#include <QQuickItem>
#include <QQuickWidget>
#include <QSplitter>
#include <QTableView>
#include <QUrl>

namespace orvello {

frmMain::frmMain(const QString& surfacePath, QWidget* parent) : QMainWindow(parent) {
    setWindowTitle(QStringLiteral("Orvello"));
    resize(780, 560);

    auto* splitter = new QSplitter(Qt::Vertical, this);
    Flash = new QQuickWidget(splitter);
    Flash->setResizeMode(QQuickWidget::SizeRootObjectToView);
    DownloadGrid = new QTableView(splitter);
    DownloadGrid->setObjectName(QStringLiteral("DownloadGrid"));
    DownloadGrid->verticalHeader()->setVisible(false);
    setCentralWidget(splitter);

    m_prompter = std::make_unique<MessageBoxPrompter>(this);
    m_list = std::make_unique<modMain>(m_run, this, m_prompter.get());
    m_list->FormatDownloadGrid(true);
    m_scheduler =
        std::make_unique<DownloadScheduler>(m_run, *m_list, *m_prompter, m_ui, m_settings);

    const QString surface =
        surfacePath.isEmpty()
            ? QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("Main.qml"))
            : surfacePath;
    Flash->setSource(QUrl::fromLocalFile(surface));
    if (QQuickItem* root = Flash->rootObject()) {
        connect(root, SIGNAL(fsCommand(QString, QString)), this,
                SLOT(Flash_FSCommand(QString, QString)));
    }
}

frmMain::~frmMain() = default;

void frmMain::SetVariable(const QString& name, const QString& value) {
    if (QQuickItem* root = Flash ? Flash->rootObject() : nullptr)
        QMetaObject::invokeMethod(root, "setVariable", Q_ARG(QVariant, name),
                                  Q_ARG(QVariant, value));
}

QString frmMain::GetUiVariable(const QString& name) const {
    QVariant result;
    if (QQuickItem* root = Flash ? Flash->rootObject() : nullptr)
        QMetaObject::invokeMethod(root, "getVariable", Q_RETURN_ARG(QVariant, result),
                                  Q_ARG(QVariant, name));
    return result.toString();
}

void frmMain::SetDataSource(DownloadTableModel* model) {
    DownloadGrid->setModel(model);
}

void frmMain::ApplyLayout() {
    DownloadGrid->horizontalHeader()->setStretchLastSection(true);
    DownloadGrid->setColumnWidth(DownloadTableModel::ColVideoURL, 360);
    DownloadGrid->setColumnWidth(DownloadTableModel::ColFileName, 180);
}

void frmMain::Flash_FSCommand(const QString& command, const QString& /*args*/) {
    if (command == QLatin1String("IDC_FS_addDownloadURL")) {
        const QString url = GetUiVariable(QStringLiteral("_root.video_url"));
        if (!url.trimmed().isEmpty())
            m_list->AddUrlToList(url);
    }
}

} // namespace orvello
