#pragma once

#include <QRectF>
#include <QSizeF>
#include <optional>

// Where the island sits, in screen coordinates with y growing downwards (X11's): under the
// desktop's top panel, horizontally centred and kept on its screen. Linux screens have no
// camera housing, so `topInset` is 0 there and the pill layout applies; the notch layout is
// kept for screens that report one.
namespace NotchGeometry {

inline constexpr double kPillHeight = 28;
inline constexpr double kPillGap = 6;
inline constexpr double kAssumedNotchWidth = 180;

struct Metrics {
    QRectF screen;
    double topInset = 0;
    std::optional<double> notchWidth;
    double menuBarHeight = 0; // the top panel's height over this screen
};

inline bool hasNotch(const Metrics& metrics) {
    return metrics.topInset > 0;
}
// The line the island hangs from: the screen's top with a notch, else 6 below the panel.
double topAnchorY(const Metrics& metrics);
// A rectangle of `size` (cut to fit) hanging from the anchor, centred, kept on the screen.
QRectF anchored(const Metrics& metrics, QSizeF size);
QRectF collapsedFrame(const Metrics& metrics, double wingWidth, double pillWidth);
QRectF expandedFrame(const Metrics& metrics, QSizeF size);

// The sizes the island takes: expanded over `rows` board rows (with an overflow line when
// some are left out), and collapsed around the lead's two widths.
QSizeF expandedSize(const Metrics& metrics, int rows, bool overflow);
QSizeF collapsedSize(const Metrics& metrics, double leadWidth, double trailingWidth);

} // namespace NotchGeometry
