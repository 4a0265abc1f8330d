#include "app/NotchGeometry.h"

#include <algorithm>

double NotchGeometry::topAnchorY(const Metrics& metrics) {
    return hasNotch(metrics) ? metrics.screen.top()
                             : metrics.screen.top() + metrics.menuBarHeight + kPillGap;
}

QRectF NotchGeometry::anchored(const Metrics& metrics, QSizeF size) {
    const QRectF& screen = metrics.screen;
    const double top = topAnchorY(metrics);
    const double width = std::min(screen.width(), size.width());
    const double height = std::min(screen.bottom() - top, size.height());
    const double centred = screen.center().x() - width / 2;
    const double x = std::max(screen.left(), std::min(centred, screen.right() - width));
    return {x, top, width, height};
}

QRectF NotchGeometry::collapsedFrame(const Metrics& metrics, double wingWidth, double pillWidth) {
    if (hasNotch(metrics))
        return anchored(metrics, {2 * wingWidth + metrics.notchWidth.value_or(kAssumedNotchWidth),
                                  metrics.topInset});
    return anchored(metrics, {pillWidth, kPillHeight});
}

QRectF NotchGeometry::expandedFrame(const Metrics& metrics, QSizeF size) {
    return anchored(metrics, size);
}

QSizeF NotchGeometry::expandedSize(const Metrics& metrics, int rows, bool overflow) {
    const double header = hasNotch(metrics) ? metrics.topInset + 96 : 96;
    const double list = std::min(std::max(rows, 1) * 47.0, 376.0);
    return {384, std::min(header + list + (overflow ? 30 : 0), 560.0)};
}

QSizeF NotchGeometry::collapsedSize(const Metrics& metrics, double leadWidth,
                                    double trailingWidth) {
    if (hasNotch(metrics)) {
        const double notch = metrics.notchWidth.value_or(kAssumedNotchWidth);
        const double wing = std::max(leadWidth, trailingWidth) + 20;
        return {wing >= 64 ? notch + 2 * std::min(wing, 240.0) : notch + 128, metrics.topInset};
    }
    return {std::clamp(leadWidth + trailingWidth + 26, 150.0, 460.0), kPillHeight};
}
