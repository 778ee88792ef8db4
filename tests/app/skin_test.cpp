#include "app/skin.h"
#include "named_case.h"
#include "test_support.h"

#include <QApplication>
#include <QPalette>
#include <gtest/gtest.h>

using namespace vantorel::gui;

using vantorel::test::CaseName;
using vantorel::test::PrintTo;

namespace {

QColor highlightAfter(int hue, int adjustment) {
    applySkin(storedSkinData(), hue, adjustment);
    return QApplication::palette().color(QPalette::Highlight);
}

} // namespace

TEST(Skin, StoredSkinIsAStyleSheetWithItsColoursFilledIn) {
    const QByteArray data = storedSkinData();
    ASSERT_FALSE(data.isEmpty());
    EXPECT_TRUE(data.contains("@accent@"));

    applySkin(data, 0, 0);
    const QString sheet = qApp->styleSheet();
    EXPECT_TRUE(sheet.contains(QStringLiteral("QToolBar")));
    EXPECT_FALSE(sheet.contains(QLatin1Char('@'))) << "a colour name was left unfilled";
    EXPECT_EQ(QApplication::palette().color(QPalette::Highlight), QColor(0x2f, 0x6f, 0xdf));
}

TEST(Skin, SecondCallReusesWhatTheFirstLoaded) {
    applySkin(storedSkinData(), 0, 0);
    applySkin(storedSkinData(), 40, 10);
    EXPECT_EQ(skinEngineLoads(), 1);
    EXPECT_NE(QApplication::palette().color(QPalette::Highlight), QColor(0x2f, 0x6f, 0xdf));
}

TEST(Skin, HueAndAdjustmentAreClamped) {
    const QColor plain = highlightAfter(0, 0);
    const QColor turned = highlightAfter(180, 0);
    EXPECT_NE(turned, plain);
    EXPECT_EQ(highlightAfter(200, 0), turned);
    EXPECT_EQ(highlightAfter(-999, 0), highlightAfter(-180, 0));

    const QColor grey = highlightAfter(0, -100);
    EXPECT_EQ(grey.hslSaturation(), 0);
    EXPECT_EQ(highlightAfter(0, -150), grey);
    EXPECT_EQ(highlightAfter(0, 150), highlightAfter(0, 100));
}

struct ShiftCase {
    const char* name;
    QColor colour;
    int hue;
    int adjustment;
    QColor expected;
};

class SkinShift : public ::testing::TestWithParam<ShiftCase> {};

TEST_P(SkinShift, TurnsHueAndSaturation) {
    const ShiftCase& c = GetParam();
    EXPECT_EQ(shiftSkinColour(c.colour, c.hue, c.adjustment).name(), c.expected.name());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SkinShift,
    ::testing::Values(
        ShiftCase{"GreyStaysGrey", QColor(0x80, 0x80, 0x80), 90, 50, QColor(0x80, 0x80, 0x80)},
        ShiftCase{"NoShift", QColor::fromHsl(200, 150, 120), 0, 0, QColor::fromHsl(200, 150, 120)},
        ShiftCase{"HueWrapsForward", QColor::fromHsl(350, 200, 120), 20, 0,
                  QColor::fromHsl(10, 200, 120)},
        ShiftCase{"HueWrapsBackward", QColor::fromHsl(10, 200, 120), -30, 0,
                  QColor::fromHsl(340, 200, 120)},
        ShiftCase{"FullyGrey", QColor::fromHsl(200, 150, 120), 0, -100,
                  QColor::fromHsl(200, 0, 120)},
        ShiftCase{"FullyVivid", QColor::fromHsl(200, 150, 120), 0, 100,
                  QColor::fromHsl(200, 255, 120)}),
    CaseName{});
