#include "list/Formatting.h"

#include <QLocale>
#include <gtest/gtest.h>

#include <cmath>

using orvello::CleanFileName;
using orvello::FormatFileSize;

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

TEST(CleanFileName, RemovesTheTenCharactersOnly) {
    EXPECT_EQ(CleanFileName(QStringLiteral("Tom & Jerry?.flv")), "Tom  Jerry.flv");
    EXPECT_EQ(CleanFileName(QStringLiteral("http://www.example.com/a/b.flv")),
              "httpwww.example.comab.flv");
    EXPECT_EQ(CleanFileName(QStringLiteral("a\\b/c:d*e?f\"g<h>i|j&k")), "abcdefghijk");
    EXPECT_EQ(CleanFileName(QStringLiteral("\"clip.flv\"")), "clip.flv");
    // Other scripts, brackets, blanks, dots and control characters stay.
    const QString kept = QString::fromUtf8("Видео [1] (２) é .flv\t");
    EXPECT_EQ(CleanFileName(kept), kept);
}

TEST(CleanFileName, NothingUsableGivesThePrompt) {
    EXPECT_EQ(CleanFileName(QString()), "Enter File Name");
    EXPECT_EQ(CleanFileName(QStringLiteral("???")), "Enter File Name");
    EXPECT_EQ(CleanFileName(QVariant()), "Enter File Name");
    EXPECT_EQ(CleanFileName(QVariant(42)), "42");
}

TEST(CleanFileName, NamesOfTheFolderOrItsParentAreRefused) {
    for (const char* name : {".", "..", "...", " ", " . ", "./", "/..", ".. ..", ":.:"})
        EXPECT_EQ(CleanFileName(QString::fromLatin1(name)), "Enter File Name") << name;
    // A dot or blank with anything else is an ordinary name.
    EXPECT_EQ(CleanFileName(QStringLiteral("..a")), "..a");
    EXPECT_EQ(CleanFileName(QStringLiteral(". .x")), ". .x");
}

TEST(CleanFileName, CleaningIsIdempotent) {
    for (const char* name :
         {"Tom & Jerry?.flv", "", "..", "a/b", "Enter File Name", " x ", "&&&", "v.flv"}) {
        const QString once = CleanFileName(QString::fromLatin1(name));
        EXPECT_EQ(CleanFileName(once), once) << name;
        EXPECT_FALSE(once.isEmpty());
    }
}
