// Test helper: a native Wayland "application" with windows of a given application id and
// titles, driven from standard input.   tessarine-test-wayland-window APP_ID TITLE [TITLE...]
// Prints "shown N" once its windows are exposed, then reads commands: "title INDEX TEXT",
// "close INDEX". Exits at end of input.
#include <QGuiApplication>
#include <QPainter>
#include <QRasterWindow>
#include <QSocketNotifier>
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

class PlainWindow final : public QRasterWindow {
protected:
    void paintEvent(QPaintEvent*) override {
        QPainter(this).fillRect(QRect(QPoint(), size()), Qt::darkCyan);
    }
};

} // namespace

int main(int argc, char* argv[]) {
    if (argc < 3)
        return 2;
    qputenv("QT_QPA_PLATFORM", "wayland");
    QGuiApplication app(argc, argv);
    QGuiApplication::setDesktopFileName(QString::fromLocal8Bit(argv[1]));
    std::vector<std::unique_ptr<PlainWindow>> windows;
    for (int i = 2; i < argc; ++i) {
        auto window = std::make_unique<PlainWindow>();
        window->setTitle(QString::fromLocal8Bit(argv[i]));
        window->resize(200, 120);
        window->show();
        windows.push_back(std::move(window));
    }
    std::printf("shown %zu\n", windows.size());
    std::fflush(stdout);

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        std::string line;
        if (!std::getline(std::cin, line)) {
            QGuiApplication::quit();
            return;
        }
        const std::size_t space = line.find(' ');
        const std::size_t second = line.find(' ', space + 1);
        const std::string command = line.substr(0, space);
        const std::size_t index = std::stoul(line.substr(space + 1, second - space - 1));
        if (index < windows.size() && windows[index]) {
            if (command == "title")
                windows[index]->setTitle(QString::fromStdString(line.substr(second + 1)));
            else if (command == "close")
                windows[index].reset();
        }
        std::printf("done\n");
        std::fflush(stdout);
    });
    return QGuiApplication::exec();
}
