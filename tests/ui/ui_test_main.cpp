// Test entry for the views: a GUI application drawing offscreen with Qt Quick's software
// renderer, as snapshots do, so no display is needed.
#include <QApplication>
#include <QQuickWindow>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
