// The UI surface Main.qml as the program and an assistive technology see it: every control,
// found through the accessibility tree, sends its command when pressed or clicked; the
// program's variables change the controls; the page switch tells the program when to hide
// and show its grid; and nothing lies where the program puts its grid.
#include "support/QtPrint.h"

#include <QAccessible>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QQuickItem>
#include <QQuickWidget>
#include <QQuickWindow>
#include <QSet>
#include <QTimer>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <vector>

namespace {

class CommandLog : public QObject {
    Q_OBJECT
public:
    QStringList commands;
    QStringList args;
public slots:
    void record(const QString& command, const QString& arg) {
        commands << command;
        args << arg;
    }
};

bool waitFor(const std::function<bool()>& done, int ms = 3000) {
    const QDeadlineTimer deadline(ms);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QEventLoop loop;
        QTimer::singleShot(5, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

void settle(int ms) {
    waitFor([] { return false; }, ms);
}

void collect(QAccessibleInterface* node, std::vector<QAccessibleInterface*>& out) {
    for (int i = 0; i < node->childCount(); ++i) {
        if (QAccessibleInterface* child = node->child(i)) {
            out.push_back(child);
            collect(child, out);
        }
    }
}

bool hasAction(QAccessibleInterface* iface, const QString& action) {
    return iface->actionInterface() && iface->actionInterface()->actionNames().contains(action);
}

class SurfaceTest : public ::testing::Test {
protected:
    void SetUp() override {
        view.setResizeMode(QQuickWidget::SizeRootObjectToView);
        view.resize(630, 535);
        view.setSource(QUrl::fromLocalFile(QStringLiteral(ORVELLO_SURFACE)));
        ASSERT_EQ(view.status(), QQuickWidget::Ready);
        root = view.rootObject();
        ASSERT_NE(root, nullptr);
        ASSERT_TRUE(QObject::connect(root, SIGNAL(fsCommand(QString, QString)), &log,
                                     SLOT(record(QString, QString))));
        view.show();
        // Right after loading, the surface tells the program its Download page is shown.
        ASSERT_TRUE(waitFor([&] { return !log.commands.isEmpty(); }));
        settle(50);
        ASSERT_EQ(log.commands, QStringList{"IDC_FS_Download"});
        log.commands.clear();
    }

    void TearDown() override {
        for (const QString& a : log.args)
            EXPECT_EQ(a, QString());
    }

    void set(const QString& name, const QString& value) {
        QMetaObject::invokeMethod(root, "setVariable", Q_ARG(QVariant, name),
                                  Q_ARG(QVariant, value));
    }
    QString get(const QString& name) {
        QVariant result;
        QMetaObject::invokeMethod(root, "getVariable", Q_RETURN_ARG(QVariant, result),
                                  Q_ARG(QVariant, name));
        return result.toString();
    }

    std::vector<QAccessibleInterface*> controls() {
        std::vector<QAccessibleInterface*> all;
        QAccessibleInterface* top = QAccessible::queryAccessibleInterface(&view);
        if (top)
            collect(top, all);
        return all;
    }
    QAccessibleInterface* find(QAccessible::Role role, const QString& name) {
        for (QAccessibleInterface* c : controls())
            if (c->role() == role && c->text(QAccessible::Name) == name)
                return c;
        return nullptr;
    }
    bool shown(QAccessibleInterface* c) { return !c->state().invisible; }
    // Whether a control can be used now, as an assistive technology learns it.
    bool available(QAccessibleInterface* c) {
        return !c->state().disabled && c->text(QAccessible::Description) != "Unavailable";
    }

    // Where the program lays its grid over the Download page: the surface's gridArea.
    QRect gridRect() {
        auto* area = root->property("gridArea").value<QQuickItem*>();
        if (!area)
            return {};
        return area->mapRectToItem(root, QRectF(0, 0, area->width(), area->height()))
            .toAlignedRect();
    }

    // The rectangle of a control in the surface's own coordinates.
    QRect place(QAccessibleInterface* c) {
        QAccessibleInterface* band = find(QAccessible::TitleBar, "Orvello");
        return c->rect().translated(-band->rect().topLeft());
    }

    void mouse(QEvent::Type type, QPoint at) {
        QMouseEvent e(type, at, view.mapToGlobal(at), Qt::LeftButton,
                      type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton,
                      Qt::NoModifier);
        QCoreApplication::sendEvent(&view, &e);
    }
    void click(QPoint at) {
        mouse(QEvent::MouseButtonPress, at);
        mouse(QEvent::MouseButtonRelease, at);
    }
    void key(int k, const QString& text = {}) {
        QKeyEvent press(QEvent::KeyPress, k, Qt::NoModifier, text);
        QCoreApplication::sendEvent(&view, &press);
        QKeyEvent release(QEvent::KeyRelease, k, Qt::NoModifier, text);
        QCoreApplication::sendEvent(&view, &release);
    }

    // Presses (or toggles) a control as an assistive tool does. The surface answers at once:
    // nothing is sent before the call returns, and the control's command follows right after,
    // on the event loop, which this lets run.
    void press(QAccessibleInterface* c,
               const QString& action = QAccessibleActionInterface::pressAction()) {
        const QStringList before = log.commands;
        c->actionInterface()->doAction(action);
        EXPECT_EQ(log.commands, before) << "sent before the press was answered";
        // The control acts when its timer runs out.
        EXPECT_TRUE(waitFor([&] {
            const auto all = root->findChildren<QObject*>();
            return std::none_of(all.begin(), all.end(), [](const QObject* o) {
                return o->inherits("QQmlTimer") && o->property("running").toBool();
            });
        }));
    }

    // Chooses a page by its tab and waits until the page has been shown.
    void showPage(const QString& tab) {
        QAccessibleInterface* t = find(QAccessible::PageTab, tab);
        ASSERT_NE(t, nullptr);
        press(t);
        const QString shown = tab == "About" ? "IDC_FS_About" : "IDC_FS_Download";
        ASSERT_TRUE(waitFor([&] { return log.commands.contains(shown); }));
        log.commands.clear();
    }

    QQuickWidget view;
    QQuickItem* root = nullptr;
    CommandLog log;
};

struct Control {
    const char* page;
    QAccessible::Role role;
    const char* name;
    const char* command;
};

const Control kControls[] = {
    {"Download", QAccessible::TitleBar, "Orvello", "IDC_FS_Drag"},
    {"Download", QAccessible::Button, "Minimize", "IDC_FS_Minimize"},
    {"Download", QAccessible::Button, "Hide to tray", "IDC_FS_Tray"},
    {"Download", QAccessible::Button, "Close", "IDC_FS_Close"},
    {"Download", QAccessible::Button, "Add", "IDC_FS_addDownloadURL"},
    {"Download", QAccessible::Button, "Select all", "IDC_FS_selectAllD"},
    {"Download", QAccessible::Button, "Remove selected", "IDC_FS_removeSelectedD"},
    {"Download", QAccessible::Button, "Move up", "IDC_FS_moveUp"},
    {"Download", QAccessible::Button, "Move down", "IDC_FS_moveDown"},
    {"Download", QAccessible::Button, "Clear completed", "ID_FS_clearComplete"},
    {"Download", QAccessible::Button, "Browse", "ID_FS_downloadBrowse"},
    {"Download", QAccessible::Button, "Start", "IDC_FS_startDownload"},
    {"About", QAccessible::Button, "Help", "IDC_FS_Help"},
    {"About", QAccessible::Button, "Visit web site", "ID_FS_webSite"},
};

} // namespace

TEST_F(SurfaceTest, EveryControlSendsItsCommandWhenPressedOrClicked) {
    for (const bool byMouse : {false, true}) {
        for (const Control& c : kControls) {
            SCOPED_TRACE(std::string(c.name) + (byMouse ? " clicked" : " pressed"));
            if (c.page != QStringLiteral("Download"))
                showPage(c.page);
            QAccessibleInterface* iface = find(c.role, c.name);
            ASSERT_NE(iface, nullptr);
            ASSERT_TRUE(shown(iface));
            log.commands.clear();
            if (byMouse) {
                // The title band is pressed where it is bare, right of the tabs.
                const QRect r = place(iface);
                click(c.role == QAccessible::TitleBar ? QPoint(400, 60) : r.center());
            } else {
                ASSERT_TRUE(hasAction(iface, QAccessibleActionInterface::pressAction()));
                press(iface);
            }
            EXPECT_EQ(log.commands, QStringList{c.command});
            if (c.page != QStringLiteral("Download"))
                showPage("Download");
        }
    }
}

TEST_F(SurfaceTest, TheTitleBandStartsOneDragPerPressAndOnlyWhereItIsBare) {
    const struct {
        QPoint at;
        QStringList commands;
    } cases[] = {
        {{300, 20}, {"IDC_FS_Drag"}},     // beside the name
        {{60, 20}, {"IDC_FS_Drag"}},      // on the name itself
        {{500, 60}, {"IDC_FS_Drag"}},     // right of the tabs
        {{522, 18}, {"IDC_FS_Minimize"}}, // a window button is not a handle
        {{300, 100}, {}},                 // the page below the band
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.at.x() * 1000 + c.at.y());
        log.commands.clear();
        mouse(QEvent::MouseButtonPress, c.at);
        mouse(QEvent::MouseMove, c.at + QPoint(5, 3));
        mouse(QEvent::MouseButtonRelease, c.at + QPoint(5, 3));
        EXPECT_EQ(log.commands, c.commands);
    }
}

TEST_F(SurfaceTest, TheRunVariablesSwitchTheRunControls) {
    const struct {
        const char* state;
        const char *startDownload, *downloadBtn, *downloadTab;
        bool start, stop, browse, about;
    } cases[] = {
        {"idle at start", nullptr, nullptr, nullptr, true, false, true, true},
        {"run going", "0", "0", "0", false, true, false, false},
        {"run ended", "1", "1", "1", true, false, true, true},
        {"start refused", "0", nullptr, nullptr, false, false, true, true},
        {"start allowed again", "1", nullptr, nullptr, true, false, true, true},
        {"values other than 0 and 1 change nothing", "", "yes", "2", true, false, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.state);
        if (c.startDownload)
            set("_root.startDownload", c.startDownload);
        if (c.downloadBtn)
            set("_root.downloadBtn", c.downloadBtn);
        if (c.downloadTab)
            set("_root.downloadTab", c.downloadTab);
        const struct {
            QAccessible::Role role;
            const char* name;
            bool enabled;
            const char* command;
        } controls[] = {
            {QAccessible::Button, "Start", c.start, "IDC_FS_startDownload"},
            {QAccessible::Button, "Stop", c.stop, "IDC_FS_stopDownload"},
            {QAccessible::Button, "Browse", c.browse, "ID_FS_downloadBrowse"},
            {QAccessible::PageTab, "About", c.about, "IDC_FS_Slider"},
        };
        for (const auto& k : controls) {
            SCOPED_TRACE(k.name);
            QAccessibleInterface* iface = find(k.role, k.name);
            ASSERT_NE(iface, nullptr);
            EXPECT_EQ(available(iface), k.enabled);
            for (const bool byMouse : {false, true}) {
                log.commands.clear();
                if (byMouse)
                    click(place(iface).center());
                else
                    press(iface);
                EXPECT_EQ(log.commands, k.enabled ? QStringList{k.command} : QStringList{});
                if (k.role == QAccessible::PageTab && k.enabled)
                    showPage("Download");
            }
        }
    }
}

TEST_F(SurfaceTest, PagesSwitchWithTheSliderCommandFirst) {
    QAccessibleInterface* help = find(QAccessible::Button, "Help");
    QAccessibleInterface* add = find(QAccessible::Button, "Add");
    ASSERT_NE(help, nullptr);
    ASSERT_NE(add, nullptr);
    EXPECT_FALSE(shown(help));
    EXPECT_TRUE(shown(add));

    QAccessibleInterface* aboutTab = find(QAccessible::PageTab, "About");
    QAccessibleInterface* downloadTab = find(QAccessible::PageTab, "Download");
    EXPECT_TRUE(downloadTab->state().selected);
    press(aboutTab);
    EXPECT_EQ(log.commands, QStringList{"IDC_FS_Slider"}); // the grid goes before the slide
    ASSERT_TRUE(waitFor([&] { return log.commands.size() == 2; }));
    EXPECT_EQ(log.commands, (QStringList{"IDC_FS_Slider", "IDC_FS_About"}));
    EXPECT_TRUE(shown(help));
    EXPECT_FALSE(shown(add));
    EXPECT_TRUE(aboutTab->state().selected);

    log.commands.clear(); // choosing the page that is shown does nothing
    press(aboutTab);
    settle(400);
    EXPECT_TRUE(log.commands.isEmpty());

    // Going back halfway through a slide ends on the page chosen last.
    press(downloadTab);
    press(aboutTab);
    ASSERT_TRUE(waitFor([&] { return log.commands.contains("IDC_FS_About"); }));
    settle(400);
    EXPECT_EQ(log.commands, (QStringList{"IDC_FS_Slider", "IDC_FS_Slider", "IDC_FS_About"}));
}

TEST_F(SurfaceTest, TheProgramBringsBackTheDownloadPage) {
    const struct {
        const char* how;
        const char* name;
        const char* value;
        bool aboutTabAfter;
    } cases[] = {
        {"a run started on the About page", "_root.downloadBtnTab", "1", true},
        {"About made unavailable while shown", "_root.downloadTab", "0", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.how);
        set("_root.downloadTab", "1");
        showPage("About");
        set(c.name, c.value);
        EXPECT_EQ(log.commands, QStringList{"IDC_FS_Slider"});
        ASSERT_TRUE(waitFor([&] { return log.commands.size() == 2; }));
        EXPECT_EQ(log.commands, (QStringList{"IDC_FS_Slider", "IDC_FS_Download"}));
        EXPECT_TRUE(shown(find(QAccessible::Button, "Add")));
        EXPECT_EQ(available(find(QAccessible::PageTab, "About")), c.aboutTabAfter);

        log.commands.clear(); // on the Download page already: nothing to do
        set(c.name, c.value);
        settle(400);
        EXPECT_TRUE(log.commands.isEmpty());
    }
}

TEST_F(SurfaceTest, CheckBoxesSendOnlyWhenTheUserChangesThem) {
    const QString clipboard =
        "Monitor video URL's in the clipboard and automatically add and download them";
    enum Step { Program, Toggle, Click };
    const struct {
        Step step;
        QString box;
        const char* variable;
        const char* value;
        QStringList commands;
        bool checked;
    } steps[] = {
        {Program, clipboard, "_root.autoToDownloadList_CB", "1", {}, true},
        {Toggle, clipboard, nullptr, nullptr, {"ID_FS_autoDownloadUncheck"}, false},
        {Toggle, clipboard, nullptr, nullptr, {"ID_FS_autoDownloadCheck"}, true},
        {Click, clipboard, nullptr, nullptr, {"ID_FS_autoDownloadUncheck"}, false},
        {Click, clipboard, nullptr, nullptr, {"ID_FS_autoDownloadCheck"}, true},
        {Program, clipboard, "_root.autoToDownloadList_CB", "0", {}, false},
        {Program, clipboard, "_root.autoToDownloadList_CB", "0", {}, false},
        {Program, "Download videos", "_root.Download_CB", "0", {}, false},
        {Program, "Download videos", "_root.Download_CB", "1", {}, true},
        {Toggle, "Download videos", nullptr, nullptr, {}, true},
        {Click, "Download videos", nullptr, nullptr, {}, true},
        {Program, "Keep the original format", "_root.Convert_CB", "0", {}, false},
        {Program, "Keep the original format", "_root.Convert_CB", "1", {}, true},
        {Toggle, "Keep the original format", nullptr, nullptr, {}, true},
    };
    int i = 0;
    for (const auto& s : steps) {
        SCOPED_TRACE(i++);
        QAccessibleInterface* box = find(QAccessible::CheckBox, s.box);
        ASSERT_NE(box, nullptr);
        ASSERT_TRUE(box->state().checkable);
        ASSERT_TRUE(hasAction(box, QAccessibleActionInterface::toggleAction()));
        log.commands.clear();
        if (s.step == Program)
            set(s.variable, s.value);
        else if (s.step == Toggle)
            press(box, QAccessibleActionInterface::toggleAction());
        else
            click(place(box).topLeft() + QPoint(9, 9)); // on the box itself
        EXPECT_EQ(log.commands, s.commands);
        EXPECT_EQ(bool(box->state().checked), s.checked);
    }
    // The user's choice is what the program reads back.
    press(find(QAccessible::CheckBox, clipboard), QAccessibleActionInterface::toggleAction());
    EXPECT_EQ(get("_root.autoToDownloadList_CB"), "1");
}

TEST_F(SurfaceTest, VariablesRoundTripAndShow) {
    const struct {
        const char* name;
        QString value;
    } cases[] = {
        {"_root.video_url", "  http://www.youtube.com/watch?v=abc  "},
        {"_root.video_url", ""},
        {"_root.download_dir", "/home/someone/Downloaded Videos"},
        {"_root.startDownload", "0"},
        {"_root.downloadBtnTab", "1"},
        {"_root.somethingElse", "kept as written"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        set(c.name, c.value);
        EXPECT_EQ(get(c.name), c.value);
    }
    EXPECT_EQ(get("_root.never_written"), "");

    // The address field shows what the program wrote, and answers what the user typed.
    QAccessibleInterface* field = find(QAccessible::EditableText, "Video page address");
    ASSERT_NE(field, nullptr);
    set("_root.video_url", " http://x/y ");
    EXPECT_EQ(field->text(QAccessible::Value), " http://x/y ");
    set("_root.video_url", "");
    for (const QString ch : {" ", "a", "b", " "})
        key(ch == " " ? Qt::Key_Space : Qt::Key_A + (ch[0].unicode() - 'a'), ch);
    EXPECT_EQ(get("_root.video_url"), " ab ");
    log.commands.clear();
    key(Qt::Key_Return, "\r"); // Enter adds, as the Add button does
    EXPECT_EQ(log.commands, QStringList{"IDC_FS_addDownloadURL"});
    EXPECT_EQ(get("_root.video_url"), " ab "); // adding leaves the field as it is

    QAccessibleInterface* folder = find(QAccessible::StaticText, "Download folder");
    ASSERT_NE(folder, nullptr);
    EXPECT_EQ(folder->text(QAccessible::Description), "/home/someone/Downloaded Videos");

    // The about text shows as two lines: the version, then the sentence.
    const QString sentence = "Orvello is an easy to use program to download video files.";
    set("_root.aboutTxt", "Version 1.0.0.5\r\n" + sentence);
    EXPECT_EQ(get("_root.aboutTxt"), "Version 1.0.0.5\r\n" + sentence);
    EXPECT_NE(find(QAccessible::StaticText, "Version 1.0.0.5"), nullptr);
    EXPECT_NE(find(QAccessible::StaticText, sentence), nullptr);
}

// While a run goes the title band says "Downloading", followed by the running video's speed
// and time left while the program gives them: on one line while it fits, else on a second
// one, between the subtitle and the window buttons; an assistive tool reads it whole.
TEST_F(SurfaceTest, TheRunningBadgeShowsTheSpeedAndTimeLeft) {
    static QStringList warnings; // a binding loop, say
    warnings.clear();
    const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext&, const QString& text) { warnings << text; });
    const QString endless = QString(60, QLatin1Char('9')) + " KB/s";
    const struct {
        const char* running; // _root.downloadBtn
        QString speed;
        int lines; // 0: no badge
        bool cut;
    } cases[] = {
        {"0", "", 1, false},
        {"0", "1.2 MB/s, 35 s left", 1, false},
        {"0", "1023.456 Bytes/s, 1165 h 3 min left", 2, false},
        {"0", endless, 2, true},
        {"1", "1.2 MB/s", 0, false},
    };
    auto* second = root->findChild<QQuickItem*>("speedText");
    ASSERT_NE(second, nullptr);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.speed.toStdString());
        set("_root.downloadBtn", c.running);
        set("_root.downloadSpeed", c.speed);
        const QString read = c.speed.isEmpty() ? "Downloading" : "Downloading \u00b7 " + c.speed;
        QAccessibleInterface* badge = find(QAccessible::StaticText, read);
        ASSERT_EQ(badge && shown(badge), c.lines > 0);
        if (c.lines == 0)
            continue;
        EXPECT_GT(place(badge).left(), 250); // right of the subtitle
        EXPECT_LT(place(badge).right(), place(find(QAccessible::Button, "Minimize")).left());
        EXPECT_EQ(second->isVisible() ? 2 : 1, c.lines);
        EXPECT_EQ(second->property("truncated").toBool(), c.cut);
    }
    qInstallMessageHandler(previous);
    EXPECT_TRUE(warnings.isEmpty()) << warnings.join('\n').toStdString();
}

TEST_F(SurfaceTest, EveryControlIsNamedAndInItsPlace) {
    const QRect window(0, 0, 630, 535);
    const QRect grid = gridRect();
    ASSERT_TRUE(window.contains(grid)) << grid.x() << "," << grid.y();
    ASSERT_GT(grid.width() * grid.height(), 0);
    for (const QString page : {"Download", "About"}) {
        SCOPED_TRACE(page.toStdString());
        if (page == "About")
            showPage("About");
        std::vector<QAccessibleInterface*> visible;
        for (QAccessibleInterface* c : controls()) {
            const QString name = c->text(QAccessible::Name);
            SCOPED_TRACE(name.toStdString());
            EXPECT_NE(c->role(), QAccessible::NoRole);
            EXPECT_FALSE(name.trimmed().isEmpty());
            const QAccessible::Role role = c->role();
            if (role == QAccessible::Button || role == QAccessible::PageTab ||
                role == QAccessible::TitleBar) {
                EXPECT_TRUE(hasAction(c, QAccessibleActionInterface::pressAction()));
            }
            if (role == QAccessible::CheckBox) {
                EXPECT_TRUE(hasAction(c, QAccessibleActionInterface::toggleAction()));
            }
            if (!shown(c) || role == QAccessible::TitleBar || role == QAccessible::StaticText)
                continue;
            const QRect r = place(c);
            EXPECT_TRUE(window.contains(r)) << r.x() << "," << r.y();
            if (page == "Download") {
                EXPECT_FALSE(r.intersects(grid)) << r.x() << "," << r.y();
            }
            for (QAccessibleInterface* other : visible) {
                EXPECT_FALSE(r.intersects(place(other)))
                    << "overlaps " << other->text(QAccessible::Name).toStdString();
            }
            visible.push_back(c);
        }
        EXPECT_GE(visible.size(), page == "Download" ? 18u : 7u);
    }
}

TEST_F(SurfaceTest, TheSurfaceIsDrawn) {
    settle(100);
    const QImage image = view.grabFramebuffer();
    ASSERT_EQ(image.size(), QSize(630, 535));
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); y += 3)
        for (int x = 0; x < image.width(); x += 3)
            colours.insert(image.pixel(x, y));
    EXPECT_GE(colours.size(), 40);
    // Where the grid goes, the surface shows the grid's own background colour from the theme.
    const QObject* theme = root->property("theme").value<QObject*>();
    ASSERT_NE(theme, nullptr);
    const QColor background = theme->property("gridBackground").value<QColor>();
    ASSERT_TRUE(background.isValid());
    EXPECT_EQ(image.pixelColor(gridRect().center()), background);
}

#include "surface_test.moc"
