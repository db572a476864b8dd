#include "app/BadgeImages.h"
#include "app/DialogTemplate.h"
#include "app/MainWindowLayout.h"
#include "app/QtPrompter.h"

#include <QFontMetricsF>
#include <QLabel>
#include <QWidget>

#include <gtest/gtest.h>

#include <set>

TEST(DialogTemplate, UnitsFollowTheFontMetrics)
{
    const QFont font = DialogTemplate::dialogFont(10);
    const DialogTemplate layout(font);
    const QFontMetricsF metrics(font);
    const QRect window = layout.toPixels(0, 0, 331, 210);
    const double unitX = metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) / 52.0 / 4.0;
    EXPECT_NEAR(window.width(), 331 * unitX, 1.0);
    EXPECT_NEAR(window.height(), 210 * metrics.height() / 8.0, 1.0);
    // Adjacent controls do not overlap after rounding.
    const QRect a = layout.toPixels(16, 3, 32, 13);
    const QRect b = layout.toPixels(48, 3, 3, 13);
    EXPECT_EQ(a.right() + 1, b.left());
}

TEST(DialogTemplate, ControlsAreNamedByIdentifier)
{
    QWidget parent;
    const DialogTemplate layout(parent.font());
    QWidget* w = layout.create({ControlSpec::Kind::Label, 1080, QStringLiteral("x"), 1, 2, 3, 4, true}, &parent);
    EXPECT_EQ(w->objectName(), QStringLiteral("id1080"));
    EXPECT_EQ(w->accessibleDescription(), QStringLiteral("id1080"));
    EXPECT_TRUE(w->isHidden());
}

TEST(MainWindowLayout, EveryLineControlHasItsOwnIdentifier)
{
    std::set<int> seen;
    for (int line = 0; line < kLines; ++line)
        for (const ControlSpec& spec : MainWindowLayout::lineRow(line))
            if (spec.id != 0)
                EXPECT_TRUE(seen.insert(spec.id).second) << spec.id;
    for (const ControlSpec& spec : MainWindowLayout::otherControls())
        if (spec.id != 0)
            EXPECT_TRUE(seen.insert(spec.id).second) << spec.id;
    EXPECT_EQ(seen.size(), 8u * 9u + 13u);
    // Badges of lines 4 and 5 are 1080 and 1079, in that order.
    EXPECT_EQ(MainWindowLayout::kLineIds[3].badge, 1080);
    EXPECT_EQ(MainWindowLayout::kLineIds[4].badge, 1079);
}

TEST(QtPrompter, FiltersInTheStationsNotation)
{
    EXPECT_EQ(QtPrompter::qtFilter(QStringLiteral("csv file(*.csv) | *.csv; ||")),
              QStringLiteral("csv file(*.csv) (*.csv)"));
    EXPECT_EQ(QtPrompter::qtFilter(QStringLiteral("QVR Record File(*.sdi) | *.sdi; ||")),
              QStringLiteral("QVR Record File(*.sdi) (*.sdi)"));
}

TEST(BadgeImages, EveryWordFitsItsPicture)
{
    for (int badge = 0; badge < BadgeImages::Count; ++badge) {
        const QImage image = BadgeImages::picture(badge).toImage();
        ASSERT_EQ(image.size(), QSize(50, 16));
        // The word's colour never touches the left or right edge: nothing is cut.
        const QColor word = BadgeImages::colour(badge);
        for (int y = 0; y < image.height(); ++y) {
            EXPECT_NE(image.pixelColor(0, y), word) << badge;
            EXPECT_NE(image.pixelColor(image.width() - 1, y), word) << badge;
        }
    }
    EXPECT_TRUE(BadgeImages::picture(5).isNull());
}
