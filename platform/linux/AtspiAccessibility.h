#pragma once

#include "platform/Accessibility.h"
#include "platform/linux/AtspiBus.h"

#include <QObject>
#include <functional>

// The element side of accessibility over AT-SPI: an application element is the process's
// accessible application, every element inside it a remote object (bus name + path). Roles
// come in the accessibility vocabulary, by role and state: push button → "AXButton", an
// editable multi-line entry or text → "AXTextArea" (Chromium and Electron chat composers),
// a single-line one → "AXTextField", combo box → "AXComboBox", frames, windows and dialogs →
// "AXWindow". Names are "AXTitle", descriptions "AXDescription", text "AXValue"; "AXFocused"
// and "AXValueSettable" (editable) come from the states; "AXPress" is the element's
// press/click action. Every read is bounded by the bus's per-call timeout.
class AtspiAccessibility final : public Accessibility {
public:
    // `trusted`: whether the user turned accessibility on (Permissions).
    AtspiAccessibility(AtspiBus& bus, std::function<bool()> trusted);

    bool isProcessTrusted() const override { return m_trusted(); }
    std::optional<AXValue> attribute(const AXElement& element, const QString& name) const override;
    bool performAction(const AXElement& element, const QString& action) override;
    std::unique_ptr<Observer> createObserver(qint64 pid, Callback callback) override;

    // The vocabulary's role for an AT-SPI role and state set.
    static QString roleName(uint role, quint64 states);
    static constexpr uint kRolePushButton = 43;
    static constexpr uint kRoleComboBox = 11;
    static constexpr uint kRoleFrame = 23;
    static constexpr uint kRoleWindow = 69;
    static constexpr uint kRoleDialog = 16;
    static constexpr uint kRoleText = 61;
    static constexpr uint kRoleEntry = 79;
    static constexpr uint kRoleApplication = 75;
    static constexpr int kStateActive = 1;
    static constexpr int kStateEditable = 7;
    static constexpr int kStateFocused = 12;
    static constexpr int kStateMultiLine = 17;
    static constexpr int kStateSingleLine = 26;
    static constexpr int kStateVisible = 30;
    static bool has(quint64 states, int state) { return (states >> state) & 1; }
    // The two 32-bit words of GetState as one set.
    static quint64 states(const QDBusMessage& reply);

private:
    std::optional<AtspiBus::Reference> reference(const AXElement& element) const;
    QList<AXElement> children(const AXElement& element, bool windowsOnly) const;

    AtspiBus& m_bus;
    std::function<bool()> m_trusted;
};
