// SPDX-License-Identifier: AGPL-3.0-or-later
// The magnifier on a screen of device pixel ratio 2: a program of its own,
// because the ratio is fixed when the application starts.
#include <cmath>
#include <cstdlib>

#include <QApplication>
#include <QTest>

#include "GuiTestSupport.h"
#include "display/OrmaViewView.h"
#include "display/OrmaZoomView.h"
#include "frame/MainFrm.h"

namespace {

// Before main, so before the application is made.
const bool s_bScaled = [] {
    setenv("QT_SCALE_FACTOR", "2", 1);
    return true;
}();

using ZoomHiDpiTest = guitest::ViewerFixture;

TEST_F(ZoomHiDpiTest, TheMagnifiedPageIsLoadedAndDrawnForTheScreensPixels) {
    ASSERT_TRUE(s_bScaled);
    ASSERT_TRUE(StartOnPage(1));
    ASSERT_EQ(View()->devicePixelRatioF(), 2.0);
    Frame()->resize(Frame()->size() + QSize(250, 250) - View()->size());
    QApplication::processEvents();
    View()->repaint();
    const QRect page = View()->PageImageRect();
    ASSERT_FALSE(page.isEmpty());
    QTest::keyClick(View(), Qt::Key_Plus);  // 1.5x: two thirds of the view, around its centre
    COrmaZoomView* pZoom = View()->ZoomView();
    ASSERT_NE(pZoom, nullptr);
    pZoom->repaint();

    // The scale at which the box (two thirds of the view) fits the window counted
    // in logical pixels; the one loaded must fit twice as many pixels.
    const double fullW = 833, fullH = 1167;  // 200 x 280 pt at 300 DPI
    const QSize view = View()->size();
    const double regionW = int(view.width() / 1.5) * fullW / page.width();
    const double regionH = int(view.height() / 1.5) * fullH / page.height();
    const double logicalScale = 1000 * std::min(view.width() / regionW, view.height() / regionH);
    ASSERT_LT(logicalScale, 450);
    EXPECT_NEAR(pZoom->LoadScale(), 2 * logicalScale, 2 * logicalScale * 0.03);
    EXPECT_EQ(pZoom->ImageSize(), QSize(static_cast<int>(std::lround(fullW * pZoom->LoadScale() / 1000.0)),
                                        static_cast<int>(std::lround(fullH * pZoom->LoadScale() / 1000.0))));

    // Drawn one image pixel to one screen pixel.
    const QImage shot = pZoom->grab().toImage();
    ASSERT_EQ(shot.size(), pZoom->size() * 2);
    const QPoint scroll = pZoom->ScrollPosition();
    ASSERT_TRUE(pZoom->IsImageLargerThanWindow());
    for (const QPoint& pt : {QPoint(3, 3), QPoint(shot.width() - 4, shot.height() - 5)})
        EXPECT_EQ(shot.pixelColor(pt), pZoom->Image().pixelColor(pt + scroll)) << pt.x();
}

}  // namespace
