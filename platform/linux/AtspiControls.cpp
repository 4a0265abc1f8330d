#include "platform/linux/AtspiControls.h"

#include "model/BrowserAddress.h"
#include "platform/linux/AtspiAccessibility.h"

#include <QDBusArgument>
#include <QDBusVariant>
#include <algorithm>

namespace {

const QString kAccessible = AtspiBus::accessibleInterface;

} // namespace

// One element reached, with its place in depth-first order (its child indices from the root).
struct AtspiControls::Visit {
    AtspiBus::Reference element;
    QList<int> place;
    QString role; // in the accessibility vocabulary
    QString label;
    std::optional<TextNode> text;
    uint rawRole = 0;
};

AtspiControls::AtspiControls(AtspiBus& bus, Search search)
    : m_bus(bus)
    , m_search(search) {}

QList<AtspiControls::Visit> AtspiControls::scan(qint64 pid, const Budget& budget, bool* found) {
    const std::optional<QString> service = m_bus.applicationOf(pid);
    *found = service.has_value();
    if (!service)
        return {};
    return scanFrom({*service, AtspiBus::rootPath}, budget);
}

QList<AtspiControls::Visit> AtspiControls::scanFrom(const AtspiBus::Reference& root,
                                                    const Budget& budget) {
    // Chromium builds the accessible tree of its pages only once something has walked its
    // tree: its own search finds nothing of a page before. So the first reading of an
    // application walks; the later ones search.
    if (m_search == Search::Batched && m_walked.contains(root.service) &&
        !m_withoutSearch.contains(root.service)) {
        if (std::optional<QList<Visit>> found = searchFrom(root, budget))
            return *found;
    }
    m_walked.insert(root.service);
    return walkFrom(root, budget);
}

void AtspiControls::classify(Visit& visit, const std::optional<QDBusMessage>& role,
                             quint64 states) {
    if (!role || role->arguments().isEmpty())
        return;
    visit.rawRole = role->arguments().constFirst().toUInt();
    visit.role = AtspiAccessibility::roleName(visit.rawRole, states);
    if (visit.role == u"AXTextField" || visit.role == u"AXComboBox") {
        visit.text = TextNode{QString(), false, false};
    } else if (visit.role == u"AXTextArea") {
        const bool editable = AtspiAccessibility::has(states, AtspiAccessibility::kStateEditable);
        const bool focused = AtspiAccessibility::has(states, AtspiAccessibility::kStateFocused);
        if (editable || focused)
            visit.text = TextNode{QString(), editable, focused};
    }
}

int AtspiControls::readDetails(QList<Visit>& visits, const Budget& budget) {
    // A button's name and description, a text node's content.
    QList<AtspiBus::Call> calls;
    for (const Visit& visit : std::as_const(visits)) {
        if (visit.role == u"AXButton") {
            calls.append(AtspiBus::property(visit.element, kAccessible, QStringLiteral("Name")));
            calls.append(
                AtspiBus::property(visit.element, kAccessible, QStringLiteral("Description")));
        } else if (visit.text) {
            calls.append({visit.element.service, visit.element.path,
                          QStringLiteral("org.a11y.atspi.Text"), QStringLiteral("GetText"),
                          QVariantList{0, -1}});
        }
    }
    const QList<std::optional<QDBusMessage>> answers = m_bus.callAll(calls);
    qsizetype answer = 0;
    int labels = 0;
    for (Visit& visit : visits) {
        if (visit.role == u"AXButton") {
            const QString name = AtspiBus::text(answers[answer++]).trimmed();
            const QString description = AtspiBus::text(answers[answer++]).trimmed();
            visit.label = !name.isEmpty() ? name : description;
            labels += visit.label.isEmpty() ? 0 : 1;
        } else if (visit.text) {
            visit.text->value =
                AtspiBus::text(answers[answer++]).trimmed().left(budget.textCharacters);
        }
    }
    return labels;
}

std::optional<QList<AtspiBus::Reference>>
AtspiControls::matches(const AtspiBus::Reference& root, const QList<uint>& roles, int count) {
    // Visible elements of these roles, in depth-first ("canonical") order. The rule is AT-SPI's
    // match rule (aiia{ss}iaiiasib): states, attributes, roles (as bit sets) and interfaces,
    // each with how it matches (1 all, 2 any), then whether to invert it.
    constexpr int kMatchAll = 1;
    constexpr int kMatchAny = 2;
    constexpr uint kSortCanonical = 1;
    QList<int> states(2, 0);
    states[AtspiAccessibility::kStateVisible / 32] |= 1 << (AtspiAccessibility::kStateVisible % 32);
    QList<quint32> roleBits(4, 0);
    for (uint role : roles)
        roleBits[role / 32] |= quint32(1) << (role % 32);
    QList<int> roleWords;
    for (quint32 word : roleBits)
        roleWords.append(static_cast<int>(word));
    QDBusArgument rule;
    rule.beginStructure();
    rule << states << kMatchAll << QMap<QString, QString>() << kMatchAll << roleWords << kMatchAny
         << QStringList() << kMatchAll << false;
    rule.endStructure();
    const std::optional<QDBusMessage> reply = m_bus.call(
        {root.service, root.path, QStringLiteral("org.a11y.atspi.Collection"),
         QStringLiteral("GetMatches"),
         QVariantList{QVariant::fromValue(rule), kSortCanonical, count, true}, kSearchTimeoutMs});
    if (!reply) {
        if (m_bus.isSkipped(root.service))
            return QList<AtspiBus::Reference>(); // it did not answer: nothing for a while
        m_withoutSearch.insert(root.service);
        return std::nullopt;
    }
    return AtspiBus::references(*reply);
}

std::optional<QList<AtspiControls::Visit>>
AtspiControls::searchFrom(const AtspiBus::Reference& root, const Budget& budget) {
    // A search may take the application a while, so it gets a longer timeout: first make sure
    // the application answers at all, so a hung one costs no more than any other call.
    if (!m_bus.call({root.service, root.path, kAccessible, QStringLiteral("GetRole")}))
        return QList<Visit>();
    // Buttons need only their labels read; the few text nodes and documents their role and
    // state too.
    const std::optional<QList<AtspiBus::Reference>> buttons =
        matches(root, {AtspiAccessibility::kRolePushButton}, budget.elements);
    if (!buttons)
        return std::nullopt;
    QList<Visit> visited;
    int labels = 0;
    for (qsizetype from = 0; from < buttons->size() && labels < budget.labels;
         from += kSearchChunk) {
        QList<Visit> chunk;
        for (qsizetype i = from; i < std::min(buttons->size(), from + kSearchChunk); ++i)
            chunk.append(Visit{buttons->at(i),
                               {int(i)},
                               QStringLiteral("AXButton"),
                               {},
                               {},
                               AtspiAccessibility::kRolePushButton});
        labels += readDetails(chunk, budget);
        visited.append(chunk);
    }
    const std::optional<QList<AtspiBus::Reference>> others =
        matches(root,
                {AtspiAccessibility::kRoleComboBox, AtspiAccessibility::kRoleText,
                 AtspiAccessibility::kRoleEntry, kRoleDocumentWeb},
                budget.elements);
    QList<Visit> texts;
    QList<AtspiBus::Call> calls;
    for (const AtspiBus::Reference& element : others.value_or(QList<AtspiBus::Reference>())) {
        texts.append(Visit{element, {}, {}, {}, {}, 0});
        calls.append({element.service, element.path, kAccessible, QStringLiteral("GetRole")});
        calls.append({element.service, element.path, kAccessible, QStringLiteral("GetState")});
    }
    const QList<std::optional<QDBusMessage>> replies = m_bus.callAll(calls);
    for (qsizetype i = 0; i < texts.size(); ++i)
        classify(texts[i], replies[2 * i],
                 replies[2 * i + 1] ? AtspiAccessibility::states(*replies[2 * i + 1]) : 0);
    readDetails(texts, budget);
    visited.append(texts);
    return visited;
}

QList<AtspiControls::Visit> AtspiControls::walkFrom(const AtspiBus::Reference& root,
                                                    const Budget& budget) {
    QList<Visit> visited;
    QList<Visit> level{Visit{root, {}, {}, {}, {}, 0}};
    int elements = 0;
    int labels = 0;
    for (int depth = 0; depth <= budget.depth && !level.isEmpty(); ++depth) {
        if (elements >= budget.elements || labels > budget.labels)
            break;
        if (level.size() > budget.elements - elements)
            level.resize(budget.elements - elements);
        elements += static_cast<int>(level.size());
        QList<AtspiBus::Call> calls;
        for (const Visit& visit : std::as_const(level)) {
            calls.append({visit.element.service, visit.element.path, kAccessible,
                          QStringLiteral("GetRole")});
            calls.append({visit.element.service, visit.element.path, kAccessible,
                          QStringLiteral("GetState")});
            calls.append({visit.element.service, visit.element.path, kAccessible,
                          QStringLiteral("GetChildren")});
        }
        const QList<std::optional<QDBusMessage>> replies = m_bus.callAll(calls);
        QList<Visit> next;
        for (qsizetype i = 0; i < level.size(); ++i) {
            Visit& visit = level[i];
            const auto& state = replies[3 * i + 1];
            const quint64 states = state ? AtspiAccessibility::states(*state) : 0;
            // A hidden control (and all inside it) is not there for the user: toolkits such as
            // Qt keep hidden items in the tree, marked only by a missing "visible" state.
            if (state && depth > 0 &&
                !AtspiAccessibility::has(states, AtspiAccessibility::kStateVisible))
                continue;
            classify(visit, replies[3 * i], states);
            if (depth < budget.depth && replies[3 * i + 2]) {
                const QList<AtspiBus::Reference> children =
                    AtspiBus::references(*replies[3 * i + 2]);
                for (qsizetype c = 0; c < children.size(); ++c)
                    next.append(
                        Visit{children[c], visit.place + QList<int>{int(c)}, {}, {}, {}, 0});
            }
        }
        labels += readDetails(level, budget);
        visited.append(level);
        level = next;
    }
    std::sort(visited.begin(), visited.end(),
              [](const Visit& a, const Visit& b) { return a.place < b.place; });
    return visited;
}

AtspiControls::Reading AtspiControls::read(qint64 pid, const Budget& budget) {
    Reading reading;
    const QList<Visit> visited = scan(pid, budget, &reading.found);
    reading.elements = static_cast<int>(visited.size());
    for (const Visit& visit : visited) {
        if (!visit.label.isEmpty() && reading.labels.size() < budget.labels)
            reading.labels.append(visit.label);
        if (visit.text && !visit.text->value.isEmpty() && visit.role == u"AXTextArea")
            reading.fields.append(*visit.text);
    }
    return reading;
}

QList<AtspiControls::Button> AtspiControls::buttons(qint64 pid, const Budget& budget) {
    QList<Button> list;
    bool found = false;
    for (const Visit& visit : scan(pid, budget, &found)) {
        if (visit.role == u"AXButton" && !visit.label.isEmpty())
            list.append(Button{visit.element, visit.label});
    }
    return list;
}

std::optional<AtspiControls::Tab> AtspiControls::activeTab(qint64 pid) {
    const std::optional<QString> service = m_bus.applicationOf(pid);
    if (!service)
        return std::nullopt;
    // The focused window, else the first.
    const std::optional<QDBusMessage> children =
        m_bus.call({*service, AtspiBus::rootPath, kAccessible, QStringLiteral("GetChildren")});
    const QList<AtspiBus::Reference> windows =
        children ? AtspiBus::references(*children) : QList<AtspiBus::Reference>();
    if (windows.isEmpty())
        return std::nullopt;
    QList<AtspiBus::Call> states;
    for (const AtspiBus::Reference& window : windows)
        states.append({window.service, window.path, kAccessible, QStringLiteral("GetState")});
    const QList<std::optional<QDBusMessage>> replies = m_bus.callAll(states);
    AtspiBus::Reference window = windows.constFirst();
    for (qsizetype i = 0; i < windows.size(); ++i) {
        if (replies[i] && AtspiAccessibility::has(AtspiAccessibility::states(*replies[i]),
                                                  AtspiAccessibility::kStateActive)) {
            window = windows[i];
            break;
        }
    }
    const QString title =
        AtspiBus::text(m_bus.call(AtspiBus::property(window, kAccessible, QStringLiteral("Name"))));
    Budget budget;
    budget.depth = kAddressDepth;
    budget.elements = kAddressElements;
    const QList<Visit> visited = walkFrom(window, budget);
    // The page's own address: the first visible document that names one decides (Chromium
    // calls it "URI", Firefox "DocURL"); else the address bar's text.
    for (const Visit& visit : visited) {
        if (visit.rawRole != kRoleDocumentWeb)
            continue;
        const QMap<QString, QString> attributes =
            AtspiBus::stringMap(m_bus.call({visit.element.service,
                                            visit.element.path,
                                            QStringLiteral("org.a11y.atspi.Document"),
                                            QStringLiteral("GetAttributes"),
                                            {}}));
        const QString address =
            attributes.value(QStringLiteral("URI"), attributes.value(QStringLiteral("DocURL")));
        if (address.isEmpty())
            continue;
        if (const std::optional<QString> url = BrowserAddress::normalized(address))
            return Tab{*url, title.isEmpty() ? std::nullopt : std::optional(title)};
        return std::nullopt; // the browser's own page in front
    }
    for (const Visit& visit : visited) {
        if (!visit.text || (visit.role != u"AXTextField" && visit.role != u"AXComboBox") ||
            !BrowserAddress::looksLikeAddress(visit.text->value))
            continue;
        if (const std::optional<QString> url = BrowserAddress::normalized(visit.text->value))
            return Tab{*url, title.isEmpty() ? std::nullopt : std::optional(title)};
    }
    return std::nullopt;
}
