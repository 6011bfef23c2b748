// The progress cell drawn into an image: where the bar ends, which colour the caption takes
// beside and over the bar, selected cells, and the cells that are painted as any cell.
#include "app/GridCellDelegate.h"
#include "app/ProgressDelegate.h"
#include "list/DownloadTableModel.h"

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <gtest/gtest.h>

#include <cstdlib>

using namespace orvello;

namespace {

const QColor kBar(10, 20, 200);    // the palette's highlight
const QColor kBack(240, 240, 230); // the palette's highlighted text
constexpr int kWidth = 101, kHeight = 30;

struct Drawn {
    QImage image;
    QRgb at(int x, int y) const { return image.pixel(x, y); }
    // Caption pixels of this colour (smoothed edges within a fifth of the way to the other
    // colour count) in the caption's band, between x0 and x1 (exclusive).
    int countIn(const QColor& c, int x0, int x1) const {
        int n = 0;
        for (int y = 8; y < kHeight - 8; ++y) {
            for (int x = x0; x < x1; ++x) {
                const QRgb p = image.pixel(x, y);
                n += std::abs(qRed(p) - c.red()) + std::abs(qGreen(p) - c.green()) +
                         std::abs(qBlue(p) - c.blue()) <
                     96;
            }
        }
        return n;
    }
    int count(const QColor& c) const {
        int n = 0;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x)
                n += image.pixel(x, y) == c.rgb();
        return n;
    }
};

// A cell showing `text`, with the row's percentage when `percent` is not null.
Drawn draw(const QString& text, const QVariant& percent, bool selected = false,
           int column = DownloadTableModel::ColStatus) {
    DownloadTableModel model;
    DownloadTableModel::Record record;
    record.ID = 1;
    record.Percent = percent;
    model.appendRecord(record);
    model.setCellText(0, column, text);

    QStyleOptionViewItem option;
    option.rect = QRect(0, 0, kWidth, kHeight);
    option.palette = QApplication::palette();
    option.palette.setColor(QPalette::Highlight, kBar);
    option.palette.setColor(QPalette::HighlightedText, kBack);
    option.font = QApplication::font();
    option.state = QStyle::State_Enabled | (selected ? QStyle::State_Selected : QStyle::State_None);

    Drawn d{QImage(kWidth, kHeight, QImage::Format_RGB32)};
    d.image.fill(Qt::black);
    QPainter painter(&d.image);
    ProgressDelegate delegate;
    delegate.paint(&painter, option, model.index(0, column));
    return d;
}

} // namespace

TEST(ProgressCell, BarEndsAtTheRoundedShareOfTheWidth) {
    struct Case {
        int percent;
        int barEnd; // first pixel column in the back colour; kWidth for a full bar
    };
    const Case cases[] = {
        {0, 0},        {45, 45},  {50, 50},      // 50.5 px goes to the even 50
        {100, kWidth}, {-5, 0},   {250, kWidth}, // clamped
        {7, 7},        {99, 100},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.percent);
        const Drawn d = draw(QString::number(c.percent), c.percent);
        for (int y : {1, kHeight - 2}) {
            if (c.barEnd > 0) {
                EXPECT_EQ(d.at(c.barEnd - 1, y), kBar.rgb());
            }
            if (c.barEnd < kWidth) {
                EXPECT_EQ(d.at(c.barEnd, y), kBack.rgb());
            }
        }
        // The caption in the bar colour beside the bar, in the back colour over it.
        if (c.barEnd == 0) {
            EXPECT_GT(d.countIn(kBar, 0, kWidth), 0);
        }
        if (c.barEnd == kWidth) {
            EXPECT_GT(d.countIn(kBack, 0, kWidth), 0);
        }
    }
    // Half the caption over the bar: both colours in both halves.
    const Drawn half = draw("50", 50);
    EXPECT_GT(half.countIn(kBack, 0, 50), 0);
    EXPECT_GT(half.countIn(kBar, 50, kWidth), 0);
}

TEST(ProgressCell, SelectedCellIsDrawnWholeInTheSelectionColours) {
    const Drawn d = draw("45", 45, true);
    for (int x : {0, 44, 45, 100})
        EXPECT_EQ(d.at(x, 1), GridColour::Selected.rgb()) << x;
    EXPECT_EQ(d.count(kBar), 0);
    EXPECT_GT(d.countIn(GridColour::SelectedText, 0, kWidth), 0); // the caption
}

TEST(ProgressCell, OtherCellsArePaintedAsAnyCell) {
    // Only a row's percentage makes a bar, never a text that reads as a number.
    struct Case {
        const char* text;
        int column;
    };
    const Case cases[] = {
        {"Waiting", DownloadTableModel::ColStatus},
        {"Preparing (45%)", DownloadTableModel::ColStatus},
        {"45", DownloadTableModel::ColStatus},
        {"45", DownloadTableModel::ColID},
        {"45", DownloadTableModel::ColFileSize},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const Drawn d = draw(QString::fromLatin1(c.text), QVariant(), false, c.column);
        EXPECT_EQ(d.count(kBar), 0);
        EXPECT_EQ(d.at(kWidth - 2, 1), GridColour::Cell.rgb());
        EXPECT_LT(d.count(GridColour::Cell), kWidth * kHeight); // its text
    }
}
