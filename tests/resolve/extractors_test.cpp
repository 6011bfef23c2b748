// Each site's extractor over its own pages. tests/resolve/pages/<site>/cases.tsv lists, one
// case a line, the page file, the page address and the address the extractor must cut out.
#include "resolve/Extractors.h"
#include "resolve/Sites.h"
#include "resolve/YoutubeRedirect.h"
#include "support/QtPrint.h"
#include "support/RawPeer.h"
#include "support/ScriptedPrompter.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>

#include <string>
#include <vector>

#include <gtest/gtest.h>

using namespace orvello;

namespace {

struct PageCase {
    QString file, address, expected;
};

std::vector<PageCase> LoadCases(const QString& folder) {
    std::vector<PageCase> cases;
    QFile tsv(QDir(folder).filePath(QStringLiteral("cases.tsv")));
    if (!tsv.open(QIODevice::ReadOnly))
        return cases;
    for (const QString& line : QString::fromUtf8(tsv.readAll()).split(QLatin1Char('\n'))) {
        if (line.trimmed().isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const QStringList f = line.split(QLatin1Char('\t'));
        if (f.size() == 3)
            cases.push_back({f[0], f[1], f[2]});
        else
            ADD_FAILURE() << "malformed line in " << folder.toStdString() << ": "
                          << line.toStdString();
    }
    return cases;
}

struct Site {
    std::string folder;
    int code;
};

// Every site of the table, with its pages in the folder named by its domain's first label
// (pages/google/ for google.com): a new site's unit is tested as soon as it is added, and fails
// without its pages.
std::vector<Site> SitesOfTheTable() {
    std::vector<Site> sites;
    for (const SiteEntry& site : kSites) {
        const std::string domain = site.domain;
        sites.push_back({domain.substr(0, domain.find('.')), site.code});
    }
    return sites;
}

class SitePages : public ::testing::TestWithParam<Site> {
protected:
    void SetUp() override {
        redirect.RemotePort = peer.server.serverPort();
        // The player's host redirects to a file whose query names the requested video.
        peer.onRequest = [this] {
            const QByteArray target = peer.target();
            peer.answer = "HTTP/1.1 303 See Other\r\nLocation: http://www.youtube.com/swf/"
                          "l.swf?video_id=" +
                          target.mid(target.lastIndexOf('/') + 1) + "&t=T0k3nXyZ\r\n\r\n";
        };
    }

    // The page's file address: the extractor's, and for a site reached through a redirect,
    // what the redirect resolution makes of it.
    QString Extract(int code, const QString& address, const QString& page) {
        const QString cut = RunExtractor(code, address, page);
        const SiteEntry* site = FindSite(code);
        if (cut.isEmpty() || !site || !site->redirect)
            return cut;
        QString found = QStringLiteral("<no answer>");
        QEventLoop wait;
        QObject::connect(&redirect, &YoutubeRedirect::Resolved, &wait, [&](const QString& f) {
            found = f;
            wait.quit();
        });
        redirect.GetYoutubePathLnik(cut);
        QTimer::singleShot(20000, &wait, &QEventLoop::quit);
        wait.exec();
        return found;
    }

    test::ScriptedPrompter prompter;
    test::RawPeer peer;
    YoutubeRedirect redirect{prompter};
};

QString PageOf(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? PageText(file.readAll()) : QString();
}

} // namespace

TEST_P(SitePages, CutsTheExpectedAddressOutOfEveryPage) {
    const Site site = GetParam();
    const QDir folder(QStringLiteral(ORVELLO_PAGES "/") + QString::fromStdString(site.folder));
    const std::vector<PageCase> cases = LoadCases(folder.path());
    ASSERT_GE(cases.size(), 2u) << folder.path().toStdString();
    for (const PageCase& c : cases) {
        SCOPED_TRACE(c.file.toStdString());
        EXPECT_EQ(IdentifySite(c.address), site.code);
        const int asked = peer.connections;
        EXPECT_EQ(Extract(site.code, c.address, PageOf(folder.filePath(c.file))), c.expected);
        if (c.expected.isEmpty()) {
            EXPECT_EQ(peer.connections, asked); // nothing to resolve, nobody asked
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Sites, SitePages, ::testing::ValuesIn(SitesOfTheTable()),
                         [](const ::testing::TestParamInfo<Site>& info) {
                             return info.param.folder;
                         });

TEST(RunExtractor, AnEmptyPageOrACodeWithoutSiteGivesNothing) {
    const QString link = QStringLiteral(
        "http://vids.myspace.com/index.cfm?fuseaction=vids.individual&videoid=123456");
    for (const SiteEntry& site : kSites)
        EXPECT_EQ(RunExtractor(site.code, link, QString()), "") << site.domain;

    const QString page = PageText("<html>videoid=123456</html>");
    EXPECT_EQ(RunExtractor(4, link, page), kMyspaceMediaPrefix + "0000001/65/43/123456.flv");
    for (int code : {-1, 0, 7, 14})
        EXPECT_EQ(RunExtractor(code, link, page), "") << code;
}

namespace {

// A second decoder, written apart from the one under test: UTF-16 code units in, each
// "%hh" with two hex digits decoded, the 1,023-character ceiling applied at the end.
QString ReferenceUnescape(const QString& in) {
    std::u16string s = in.toStdU16String(), out;
    auto hex = [](char16_t c) {
        return c < 128 && std::isxdigit(static_cast<unsigned char>(c)) != 0;
    };
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == u'%' && i + 2 < s.size() && hex(s[i + 1]) && hex(s[i + 2])) {
            const std::string two{char(s[i + 1]), char(s[i + 2])};
            out.push_back(char16_t(std::stoi(two, nullptr, 16)));
            i += 2;
        } else {
            out.push_back(s[i]);
        }
    }
    return out.size() >= 1024 ? QString() : QString::fromStdU16String(out);
}

} // namespace

TEST(UnescapeUrl, AgreesWithAnIndependentDecoderUpToThe1024CharacterLimit) {
    const struct {
        QString in, out;
    } fixed[] = {
        // Bytes come back one character each: no UTF-8 decoding.
        {"http%3A%2F%2Fa.b%2Fc%3Fd%3D1%26e%3D%c3%a9",
         QString::fromLatin1("http://a.b/c?d=1&e=\xC3\xA9")},
        {"100%", "100%"},
        {"%zz%4%4g%%41", "%zz%4%4g%A"},
        {"a%20b#%41", "a b#A"},
        {QString(1023, 'a'), QString(1023, 'a')},
        {QString(1024, 'a'), ""},
        {QString("%41").repeated(1023), QString(1023, 'A')},
        {QString("%41").repeated(1024), ""},
        {"", ""},
    };
    for (const auto& c : fixed)
        EXPECT_EQ(UnescapeUrl(c.in), c.out) << c.in.left(40).toStdString();

    const char16_t alphabet[] = u"%%%0123456789abcdefABCDEFgxZ /?&\u00e9\u20ac";
    QRandomGenerator rng(20071025);
    for (int round = 0; round < 20000; ++round) {
        const int length = round % 10 == 0 ? 1000 + int(rng.bounded(2100)) : int(rng.bounded(40));
        QString in;
        for (int i = 0; i < length; ++i)
            in += QChar(alphabet[rng.bounded(int(std::size(alphabet)) - 1)]);
        ASSERT_EQ(UnescapeUrl(in), ReferenceUnescape(in)) << in.toStdString();
    }
}
