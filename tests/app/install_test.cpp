// The installed program: `cmake --install` of this build into a temporary prefix puts every
// file where a desktop expects it, and the program started from <prefix>/bin finds its files
// in the share folder; the lookup itself on a made-up layout.
#include "InstalledFiles.h"
#include "app/ProgramFiles.h"
#include "support/QtPrint.h"
#include "support/RunProgram.h"

#include <QColor>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <gtest/gtest.h>

#include <memory>

namespace {

QString Under(const QString& root, const QString& path) {
    return QDir(root).filePath(path);
}

QString BinDir() {
    return QStringLiteral(ORVELLO_INSTALL_BINDIR);
}

QString ShareDir() {
    return QStringLiteral(ORVELLO_INSTALL_DATADIR);
}

void Touch(const QString& path) {
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path).absolutePath())) << qPrintable(path);
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << qPrintable(path);
}

// The key-value lines of the [Desktop Entry] group; empty when the group is not the first.
QMap<QString, QString> DesktopEntry(const QString& path) {
    QMap<QString, QString> keys;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        return keys;
    bool inEntry = false;
    for (const QString& raw : QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'))) {
        const QString line = raw.trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('['))) {
            if (inEntry)
                break;
            if (line != QStringLiteral("[Desktop Entry]"))
                return {};
            inEntry = true;
            continue;
        }
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (inEntry && eq > 0)
            keys.insert(line.left(eq).trimmed(), line.mid(eq + 1).trimmed());
    }
    return keys;
}

class InstallTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        prefix = new QTemporaryDir;
        ASSERT_TRUE(prefix->isValid());
        const orvello::test::Ran cmake = orvello::test::RunProgram(
            QStringLiteral(ORVELLO_CMAKE),
            {QStringLiteral("--install"), QStringLiteral(ORVELLO_BUILD_DIR),
             QStringLiteral("--prefix"), prefix->path()});
        installOutput = cmake.output;
        installed = cmake.ok();
    }
    static void TearDownTestSuite() {
        delete prefix;
        prefix = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(installed) << qPrintable(installOutput); }

    static QString Installed(const QString& path) { return Under(prefix->path(), path); }

    static inline QTemporaryDir* prefix = nullptr;
    static inline QString installOutput;
    static inline bool installed = false;
};

TEST_F(InstallTest, PutsEveryFileWhereItBelongs) {
    for (const QString& file : orvello::test::InstalledFiles()) {
        const QFileInfo info(Installed(file));
        EXPECT_TRUE(info.isFile() && info.size() > 0) << qPrintable(info.filePath());
    }
    for (const char* program : {"/orvello", "/orvello-get"}) {
        const QFileInfo info(Installed(BinDir() + QString::fromLatin1(program)));
        EXPECT_TRUE(info.isExecutable()) << qPrintable(info.filePath());
    }
}

// The installed surface loads from the share folder with nothing beside it: every component
// and the theme it names are installed, and it offers what the window reads.
TEST_F(InstallTest, TheInstalledSurfaceLoadsWholeFromShare) {
    QQmlEngine engine;
    QQmlComponent surface(&engine, QUrl::fromLocalFile(orvello::FindProgramFile(
                                       Installed(BinDir()), QStringLiteral("Main.qml"))));
    std::unique_ptr<QObject> root(surface.create());
    ASSERT_NE(root, nullptr) << qPrintable(surface.errorString());
    EXPECT_NE(root->property("gridArea").value<QObject*>(), nullptr);
    const QObject* theme = root->property("theme").value<QObject*>();
    ASSERT_NE(theme, nullptr);
    EXPECT_TRUE(theme->property("gridBackground").value<QColor>().isValid());
}

TEST_F(InstallTest, TheProgramInBinFindsItsFilesInShare) {
    const QString bin = Installed(BinDir());
    const QString share = QDir::cleanPath(Installed(ShareDir() + QStringLiteral("/orvello")));
    EXPECT_EQ(orvello::FindProgramFile(bin, QStringLiteral("Main.qml")),
              share + QStringLiteral("/Main.qml"));
    EXPECT_EQ(orvello::FindProgramFile(bin, QStringLiteral("Help.html")),
              share + QStringLiteral("/Help.html"));
}

TEST_F(InstallTest, DesktopEntryStartsTheProgramWithItsIcon) {
    const auto keys = DesktopEntry(Installed(ShareDir() + "/applications/orvello.desktop"));
    EXPECT_EQ(keys.value("Type"), "Application");
    EXPECT_EQ(keys.value("Name"), "Orvello");
    EXPECT_FALSE(keys.value("Comment").isEmpty());
    EXPECT_EQ(keys.value("Exec"), "orvello %U");
    EXPECT_EQ(keys.value("Icon"), "orvello");
    EXPECT_EQ(keys.value("Terminal"), "false");
    EXPECT_EQ(keys.value("Categories"), "Network;FileTransfer;Qt;");
}

TEST_F(InstallTest, IconIsAnSvgDocument) {
    QFile f(Installed(ShareDir() + "/icons/hicolor/scalable/apps/orvello.svg"));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    QXmlStreamReader xml(&f);
    ASSERT_TRUE(xml.readNextStartElement()) << qPrintable(xml.errorString());
    EXPECT_EQ(xml.name().toString(), QStringLiteral("svg"));
    EXPECT_EQ(xml.namespaceUri().toString(), QStringLiteral("http://www.w3.org/2000/svg"));
    EXPECT_FALSE(xml.attributes().value("viewBox").isEmpty());
    int shapes = 0;
    while (!xml.atEnd()) {
        if (xml.readNext() == QXmlStreamReader::StartElement &&
            xml.attributes().hasAttribute("fill"))
            ++shapes;
    }
    EXPECT_FALSE(xml.hasError()) << qPrintable(xml.errorString());
    EXPECT_EQ(shapes, 3); // the tile, the tray and the arrow
}

// The lookup on a made-up layout: <root>/bin and <root>/share/orvello.
class FindProgramFileTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(root.isValid()); }
    QString Bin() const { return Under(root.path(), BinDir()); }
    QString Share(const QString& name) const {
        return QDir::cleanPath(Under(root.path(), ShareDir() + "/orvello/" + name));
    }
    QTemporaryDir root;
};

TEST_F(FindProgramFileTest, TakesTheFileBesideTheProgramFirst) {
    Touch(Bin() + "/Main.qml");
    Touch(Share("Main.qml"));
    EXPECT_EQ(orvello::FindProgramFile(Bin(), "Main.qml"), Bin() + "/Main.qml");
}

TEST_F(FindProgramFileTest, TakesTheShareFolderWhenNothingIsBeside) {
    Touch(Share("Help.html"));
    ASSERT_TRUE(QDir().mkpath(Bin() + "/Main.qml")); // a folder is not the file
    Touch(Share("Main.qml"));
    EXPECT_EQ(orvello::FindProgramFile(Bin(), "Help.html"), Share("Help.html"));
    EXPECT_EQ(orvello::FindProgramFile(Bin(), "Main.qml"), Share("Main.qml"));
}

TEST_F(FindProgramFileTest, NamesThePathBesideTheProgramWhenTheFileIsNowhere) {
    ASSERT_TRUE(QDir().mkpath(Bin()));
    Touch(Share("Help.html"));
    EXPECT_EQ(orvello::FindProgramFile(Bin(), "Main.qml"), Bin() + "/Main.qml");
}

} // namespace
