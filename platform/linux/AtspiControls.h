#pragma once

#include "platform/linux/AtspiBus.h"

#include <QList>
#include <QStringList>
#include <optional>

// What an application's controls say, read over AT-SPI for the chat detector: the labels of
// its visible buttons (name, then description) and its text areas (value, editable, focused), with
// the budgets of a scan (elements, depth, labels, characters kept). The tree is read level by
// level, every element of a level asked at once, so a scan costs a few round trips per
// level rather than several per element; results come back in depth-first order. A budget
// running out keeps the shallower elements.
class AtspiControls {
public:
    struct TextNode {
        QString value;
        bool editable = false;
        bool focused = false;
    };
    struct Budget {
        int elements = 6000;
        int depth = 28;
        int labels = 600;
        int textCharacters = 500;
    };
    struct Reading {
        QStringList labels;
        QList<TextNode> fields;
        int elements = 0;   // elements visited
        bool found = false; // the process has an accessible application
    };
    // One button found, for pressing.
    struct Button {
        AtspiBus::Reference element;
        QString label; // its name, else its description
    };

    // A browser's visible tab.
    struct Tab {
        QString url;
        std::optional<QString> title; // its window's title
    };
    static constexpr int kAddressDepth = 8;
    static constexpr int kAddressElements = 2000;
    static constexpr uint kRoleDocumentWeb = 95;

    explicit AtspiControls(AtspiBus& bus);

    Reading read(qint64 pid) { return read(pid, Budget()); }
    Reading read(qint64 pid, const Budget& budget);
    // The buttons with a non-empty label, in depth-first order.
    QList<Button> buttons(qint64 pid) { return buttons(pid, Budget()); }
    QList<Button> buttons(qint64 pid, const Budget& budget);
    // The address of the tab in front in a browser's focused window: its document's address
    // where the browser gives one (Chromium, Firefox), else its address bar's text; searched
    // at most 8 levels deep. Nothing for the browser's own pages.
    std::optional<Tab> activeTab(qint64 pid);

private:
    struct Visit;
    QList<Visit> walk(qint64 pid, const Budget& budget, bool* found);
    QList<Visit> walkFrom(const AtspiBus::Reference& root, const Budget& budget);

    AtspiBus& m_bus;
};
