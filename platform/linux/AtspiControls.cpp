#include "platform/linux/AtspiControls.h"

#include "model/BrowserAddress.h"
#include "platform/linux/AtspiAccessibility.h"

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

AtspiControls::AtspiControls(AtspiBus& bus)
    : m_bus(bus) {}

QList<AtspiControls::Visit> AtspiControls::walk(qint64 pid, const Budget& budget, bool* found) {
    const std::optional<QString> service = m_bus.applicationOf(pid);
    *found = service.has_value();
    if (!service)
        return {};
    return walkFrom({*service, AtspiBus::rootPath}, budget);
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
        // Second round: what the buttons and text areas say.
        QList<AtspiBus::Call> details;
        QList<qsizetype> detailOf;
        // Two replies per element read in detail: a text's content, then nothing.
        const auto askText = [&](const AtspiBus::Reference& element, qsizetype index) {
            details.append({element.service, element.path, QStringLiteral("org.a11y.atspi.Text"),
                            QStringLiteral("GetText"), QVariantList{0, -1}});
            details.append(AtspiBus::Call{});
            detailOf.append(index);
        };
        QList<Visit> next;
        for (qsizetype i = 0; i < level.size(); ++i) {
            Visit& visit = level[i];
            const auto& role = replies[3 * i];
            const auto& state = replies[3 * i + 1];
            const quint64 states = state ? AtspiAccessibility::states(*state) : 0;
            // A hidden control (and all inside it) is not there for the user: toolkits such as
            // Qt keep hidden items in the tree, marked only by a missing "visible" state.
            if (state && depth > 0 &&
                !AtspiAccessibility::has(states, AtspiAccessibility::kStateVisible))
                continue;
            visit.rawRole =
                role && !role->arguments().isEmpty() ? role->arguments().constFirst().toUInt() : 0;
            visit.role =
                role && !role->arguments().isEmpty()
                    ? AtspiAccessibility::roleName(role->arguments().constFirst().toUInt(), states)
                    : QString();
            if (visit.role == u"AXButton") {
                details.append(
                    AtspiBus::property(visit.element, kAccessible, QStringLiteral("Name")));
                details.append(
                    AtspiBus::property(visit.element, kAccessible, QStringLiteral("Description")));
                detailOf.append(i);
            } else if (visit.role == u"AXTextField" || visit.role == u"AXComboBox") {
                visit.text = TextNode{QString(), false, false};
                askText(visit.element, i);
            } else if (visit.role == u"AXTextArea") {
                const bool editable =
                    AtspiAccessibility::has(states, AtspiAccessibility::kStateEditable);
                const bool focused =
                    AtspiAccessibility::has(states, AtspiAccessibility::kStateFocused);
                if (editable || focused) {
                    visit.text = TextNode{QString(), editable, focused};
                    askText(visit.element, i);
                }
            }
            if (depth < budget.depth && replies[3 * i + 2]) {
                const QList<AtspiBus::Reference> children =
                    AtspiBus::references(*replies[3 * i + 2]);
                for (qsizetype c = 0; c < children.size(); ++c)
                    next.append(
                        Visit{children[c], visit.place + QList<int>{int(c)}, {}, {}, {}, 0});
            }
        }
        QList<AtspiBus::Call> sent;
        for (const AtspiBus::Call& call : std::as_const(details)) {
            if (!call.service.isEmpty())
                sent.append(call);
        }
        const QList<std::optional<QDBusMessage>> answers = m_bus.callAll(sent);
        qsizetype answer = 0;
        for (qsizetype d = 0; d < detailOf.size(); ++d) {
            Visit& visit = level[detailOf[d]];
            if (visit.role == u"AXButton") {
                const QString name = AtspiBus::text(answers[answer++]).trimmed();
                const QString description = AtspiBus::text(answers[answer++]).trimmed();
                visit.label = !name.isEmpty() ? name : description;
                labels += visit.label.isEmpty() ? 0 : 1;
            } else {
                visit.text->value =
                    AtspiBus::text(answers[answer++]).trimmed().left(budget.textCharacters);
            }
        }
        visited.append(level);
        level = next;
    }
    std::sort(visited.begin(), visited.end(),
              [](const Visit& a, const Visit& b) { return a.place < b.place; });
    return visited;
}

AtspiControls::Reading AtspiControls::read(qint64 pid, const Budget& budget) {
    Reading reading;
    const QList<Visit> visited = walk(pid, budget, &reading.found);
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
    for (const Visit& visit : walk(pid, budget, &found)) {
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
