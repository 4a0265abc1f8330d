// Test helper: a small Qt Quick "chat" whose controls the accessibility tests read and press.
//   tessarine-test-chat
// Prints "ready" once shown, "pressed LABEL" for every button pressed, and reads commands:
// "generating on|off" (the "Stop generating" button), "ask on|off" (the "Allow once",
// "Always allow" and "Deny" buttons), "many N" (N more labelled buttons deep in the tree).
#include <QGuiApplication>
#include <QObject>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQuickItem>
#include <QQuickView>
#include <QSocketNotifier>
#include <cstdio>
#include <iostream>
#include <string>
#include <unistd.h>

namespace {

const char* const kView = R"QML(
import QtQuick
import QtQuick.Controls
Rectangle {
    // Buttons that answer a screen reader's press, as a chat application's do.
    component ChatButton: Button {
        onClicked: chat.pressed(text)
        Accessible.onPressAction: clicked()
    }
    width: 480; height: 360
    property bool generating: false
    property bool asking: false
    property int many: 0
    Column {
        spacing: 4
        TextArea {
            objectName: "composer"
            text: "Summarise the quarterly report"
            focus: true
            Accessible.name: "Message"
        }
        ChatButton { text: "Stop generating"; visible: generating }
        Row {
            visible: asking
            ChatButton { text: "Allow once" }
            ChatButton { text: "Always allow" }
            ChatButton { text: "Deny" }
        }
        // "many N": about N more elements, in sections of groups of buttons (a tree a few
        // levels deep, as a chat's message list is).
        Item {
            width: 10; height: 10
            Repeater {
                model: Math.ceil(many / 301)
                Item {
                    width: 1; height: 1
                    Accessible.role: Accessible.Grouping
                    Accessible.name: "Section " + index
                    Repeater {
                        model: 30
                        Item {
                            width: 1; height: 1
                            Accessible.role: Accessible.Grouping
                            Accessible.name: "Message " + index
                            Repeater {
                                model: 9
                                Button { width: 1; height: 1; text: "Item " + index }
                            }
                        }
                    }
                }
            }
        }
    }
}
)QML";

class Chat : public QObject {
    Q_OBJECT
public Q_SLOTS:
    void pressed(const QString& label) {
        std::printf("pressed %s\n", qPrintable(label));
        std::fflush(stdout);
    }
};

} // namespace

int main(int argc, char* argv[]) {
    qputenv("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1");
    QGuiApplication app(argc, argv);
    QGuiApplication::setApplicationDisplayName(QStringLiteral("Test Chat"));
    Chat chat;
    QQuickView view;
    view.rootContext()->setContextProperty(QStringLiteral("chat"), &chat);
    view.setTitle(QStringLiteral("Test Chat"));
    view.setResizeMode(QQuickView::SizeRootObjectToView);
    QQmlComponent component(view.engine());
    component.setData(kView, QUrl());
    view.setContent(QUrl(), &component, component.create(view.rootContext()));
    view.show();
    std::printf("ready\n");
    std::fflush(stdout);

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        std::string line;
        if (!std::getline(std::cin, line)) {
            QGuiApplication::quit();
            return;
        }
        QObject* root = view.rootObject();
        const QString command = QString::fromStdString(line);
        if (command.startsWith(u"generating "))
            root->setProperty("generating", command.endsWith(u"on"));
        else if (command.startsWith(u"ask "))
            root->setProperty("asking", command.endsWith(u"on"));
        else if (command.startsWith(u"many "))
            root->setProperty("many", command.mid(5).toInt());
        std::printf("done\n");
        std::fflush(stdout);
    });
    return QGuiApplication::exec();
}

#include "ChatTestApp.moc"
