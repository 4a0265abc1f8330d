#pragma once

#include "platform/linux/AtspiBus.h"

#include <QList>
#include <QSet>
#include <QStringList>
#include <optional>

// What an application's controls say, read over AT-SPI for the chat detector: the labels of
// its visible buttons (name, then description) and its text areas (value, editable, focused), with
// the budgets of a scan (elements, depth, labels, characters kept). Where the application
// searches its own tree (AT-SPI's Collection: Chromium, Electron; at-spi2-atk for GTK 3), a search
// returns its visible buttons, another its text nodes and documents, in depth-first order, and only
// those are read (from the second reading of an application on: the first walks). Otherwise the
// tree is walked level by level, every element of a level asked at once, so a scan costs a few
// round trips per level rather than several per element; results come back in depth-first order,
// and a budget running out keeps the shallower elements.
class AtspiControls {
public:
    enum class Search {
        Batched, // the application's own search where it offers one, else the walk
        Walk,    // always the walk (for comparing the two)
    };
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
    // An application's search covers its whole tree in one call, so it gets longer than a
    // single read; an application that runs out of it is skipped like any other.
    static constexpr int kSearchTimeoutMs = 2000;
    // Found elements read per batch: reading stops once the label budget is spent.
    static constexpr int kSearchChunk = 400;

    explicit AtspiControls(AtspiBus& bus, Search search = Search::Batched);

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
    QList<Visit> scan(qint64 pid, const Budget& budget, bool* found);
    QList<Visit> scanFrom(const AtspiBus::Reference& root, const Budget& budget);
    // Nothing when the application offers no search of its own. Buttons first, then the
    // text nodes and documents, each in depth-first order.
    std::optional<QList<Visit>> searchFrom(const AtspiBus::Reference& root, const Budget& budget);
    std::optional<QList<AtspiBus::Reference>> matches(const AtspiBus::Reference& root,
                                                      const QList<uint>& roles, int count);
    QList<Visit> walkFrom(const AtspiBus::Reference& root, const Budget& budget);
    // Gives each element its role and text node from GetRole and GetState.
    static void classify(Visit& visit, const std::optional<QDBusMessage>& role, quint64 states);
    // Reads the labels of buttons and the text of text fields; the labels found.
    int readDetails(QList<Visit>& visits, const Budget& budget);

    AtspiBus& m_bus;
    Search m_search;
    QSet<QString> m_walked;        // applications walked once
    QSet<QString> m_withoutSearch; // applications that answered that they offer none
};
