#include "list/Formatting.h"

#include <QLocale>
#include <gtest/gtest.h>

#include <cmath>

using namespace Qt::StringLiterals;
using orvello::CleanFileName;
using orvello::FormatFileSize;
using orvello::NumberedFileName;

TEST(FormatFileSize, UnitBoundariesAndSmallCounts) {
    EXPECT_EQ(FormatFileSize(0), "0 Bytes");
    EXPECT_EQ(FormatFileSize(512), "512 Bytes");
    EXPECT_EQ(FormatFileSize(1023), "1023 Bytes");
    EXPECT_EQ(FormatFileSize(1024), "1 KB");
    EXPECT_EQ(FormatFileSize(1536), "1.5 KB");
    EXPECT_EQ(FormatFileSize(1048575), "1024 KB"); // 1023.999 rounds up
    EXPECT_EQ(FormatFileSize(1048576), "1 MB");
    EXPECT_EQ(FormatFileSize(1073741824.0f), "1 GB");
    EXPECT_EQ(FormatFileSize(-1), "-1 Bytes"); // failed entries are recognised by "-1"
    EXPECT_EQ(FormatFileSize(0.5f), "0.5 Bytes");
}

TEST(FormatFileSize, HalvesRoundToEvenDigit) {
    // 1280 bytes are exactly 1.25 KB and 1792 exactly 1.75 KB.
    EXPECT_EQ(FormatFileSize(1280), "1.2 KB");
    EXPECT_EQ(FormatFileSize(1792), "1.8 KB");
    // Ties in the MB and GB ranges.
    EXPECT_EQ(FormatFileSize(float(1048576.0 * 2.25)), "2.2 MB");
    EXPECT_EQ(FormatFileSize(float(1048576.0 * 2.75)), "2.8 MB");
    EXPECT_EQ(FormatFileSize(float(1073741824.0 * 3.25)), "3.2 GB");
    // Not a tie: just above the half rounds up.
    EXPECT_EQ(FormatFileSize(1281), "1.3 KB");
}

TEST(FormatFileSize, LargeCountsFitTheColumnAndStopAtOneTebibyte) {
    EXPECT_EQ(FormatFileSize(1099511627776.0f), "");
    EXPECT_EQ(FormatFileSize(INFINITY), "");
    // The widest texts below 2^40 stay within the ten characters of the size column.
    for (double v : {1023.0, 1048575.0 - 51.0, 1073741823.0, 1099511627775.0, 1024.0 * 1023.94})
        EXPECT_LE(FormatFileSize(float(v)).size(), 10) << v;
    EXPECT_EQ(FormatFileSize(float(1073741824.0 * 1023.9)), "1023.9 GB");
}

TEST(FormatFileSize, DecimalPointDoesNotFollowTheLocale) {
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(FormatFileSize(1536), "1.5 KB");
    EXPECT_EQ(FormatFileSize(123456789), "117.7 MB");
    QLocale::setDefault(saved);
}

// One row per name: what it cleans to. Each result must also clean to itself.
TEST(CleanFileName, NamesCleanToWhatTheFolderCanSafelyHold) {
    const QString cyrillic = QString::fromUtf8("Видео [1] (２) é .flv");
    const struct {
        QString name;
        QString cleaned;
    } rows[] = {
        {"Tom & Jerry?.flv", "Tom  Jerry.flv"},
        {"http://www.example.com/a/b.flv", "httpwww.example.comab.flv"},
        {"a\\b/c:d*e?f\"g<h>i|j&k", "abcdefghijk"},
        {"\"clip.flv\"", "clip.flv"},
        {cyrillic, cyrillic}, // other scripts, brackets, blanks and inner dots stay
        // Control characters go: a terminal listing the folder would run them.
        {QString::fromLatin1("a\x1b[31mb\x07\x7f\tc\x01.flv"), "a[31mbc.flv"},
        {QString(QChar(0)) + "x", "x"},
        // So do the C1 controls, U+0080 to U+009F (U+009B opens a terminal's escape sequence
        // as ESC [ does), alone and beside C0 ones; U+00A0 and above are text.
        {u"a\u0080b\u009Fc.flv"_s, "abc.flv"},
        {u"\u009B31mred\u009B0m\u0085.avi"_s, "31mred0m.avi"},
        {u"\x1b\u0090x\x07\u009Cy\x7f\u0081"_s, "xy"},
        {u"\u009F\u00A0\u00A9 clip"_s, u"\u00A0\u00A9 clip"_s},
        {u".\u0085.profile"_s, "profile"},
        {u"\u0080\u009F"_s, "Enter File Name"},
        // Leading dots go: the name neither hides the file nor stands for one the user keeps.
        {".bashrc", "bashrc"},
        {"..a", "a"},
        {". .x", " .x"},
        {".\x1b.profile", "profile"},
        // Nothing usable left.
        {"", "Enter File Name"},
        {"???", "Enter File Name"},
        {".", "Enter File Name"},
        {"..", "Enter File Name"},
        {"...", "Enter File Name"},
        {" ", "Enter File Name"},
        {" . ", "Enter File Name"},
        {". .", "Enter File Name"},
        {"/..", "Enter File Name"},
        {".. ..", "Enter File Name"},
        {":.:", "Enter File Name"},
        {"\x01\x02", "Enter File Name"},
        {"Enter File Name", "Enter File Name"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name.toStdString());
        EXPECT_EQ(CleanFileName(r.name), r.cleaned);
        EXPECT_EQ(CleanFileName(r.cleaned), r.cleaned);
    }
    EXPECT_EQ(CleanFileName(QVariant()), "Enter File Name");
    EXPECT_EQ(CleanFileName(QVariant(42)), "42");
}

// Names longer than 255 bytes of UTF-8 are cut before their extension, on whole characters.
TEST(CleanFileName, LongNamesFitTheFileSystemAndKeepTheirExtension) {
    const QString e = QString::fromUtf8("é");              // 2 bytes
    const QString cjk = QString::fromUtf8("映");           // 3 bytes
    const QString emoji = QString::fromUtf8("\U0001F3AC"); // 4 bytes, two code units
    const struct {
        QString name;
        qsizetype bytes; // of the cleaned name
        QString ends;    // how it ends
    } rows[] = {
        {QString(300, 'a') + ".flv", 255, "a.flv"},
        {e.repeated(150) + ".flv", 254, e + ".flv"}, // never half of a character
        {cjk.repeated(100) + ".flv", 253, cjk + ".flv"},
        {emoji.repeated(80) + ".wmv", 252, emoji + ".wmv"},
        {QString(300, 'b'), 255, "b"},              // no extension: cut at the end
        {"x." + QString(300, 'c'), 255, "c"},       // a long tail is no extension
        {QString(251, 'd') + ".flv", 255, "d.flv"}, // exactly fits
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name.left(20).toStdString());
        const QString cleaned = CleanFileName(r.name);
        EXPECT_EQ(cleaned.toUtf8().size(), r.bytes);
        EXPECT_TRUE(cleaned.endsWith(r.ends)) << cleaned.right(8).toStdString();
        EXPECT_TRUE(r.name.startsWith(cleaned.left(cleaned.size() - r.ends.size())));
        EXPECT_EQ(CleanFileName(cleaned), cleaned);
    }
}

TEST(NumberedFileName, TheNumberGoesBeforeTheExtensionAndTheWholeFits) {
    EXPECT_EQ(NumberedFileName("clip.flv", 1), "clip.flv");
    EXPECT_EQ(NumberedFileName("clip.flv", 2), "clip (2).flv");
    EXPECT_EQ(NumberedFileName("Enter File Name", 3), "Enter File Name (3)");
    EXPECT_EQ(NumberedFileName("a.b.flv", 12), "a.b (12).flv");
    const QString longName = QString(255 - 4, 'z') + ".flv";
    const QString second = NumberedFileName(longName, 2);
    EXPECT_EQ(second.toUtf8().size(), 255);
    EXPECT_TRUE(second.endsWith("z (2).flv"));
    EXPECT_NE(NumberedFileName(longName, 3), second);
    EXPECT_EQ(NumberedFileName("clip.flv", 2, 250), "clip (2).flv");
}
