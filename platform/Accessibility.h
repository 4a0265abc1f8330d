#pragma once

#include <QList>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <variant>

// One element of another application's interface: the application itself, one of its
// windows as the window system knows it, or any element of its accessibility tree, named by
// the remote object that stands for it (bus name and object path, never a pointer into
// another process).
struct AXElement {
    enum class Role { Application, Window, Remote };
    Role role = Role::Application;
    qint64 pid = 0;
    quint64 windowID = 0; // for windows
    QString service;      // for remote elements: the application's bus name
    QString path;         // and the element's object path
    bool operator==(const AXElement&) const = default;

    static AXElement application(qint64 pid) {
        AXElement element;
        element.pid = pid;
        return element;
    }
    static AXElement window(qint64 pid, quint64 id) {
        AXElement element = application(pid);
        element.role = Role::Window;
        element.windowID = id;
        return element;
    }
    static AXElement remote(qint64 pid, const QString& service, const QString& path) {
        AXElement element = application(pid);
        element.role = Role::Remote;
        element.service = service;
        element.path = path;
        return element;
    }
};

// An attribute's value: a flag ("AXMinimized"), a text ("AXTitle"), an element
// ("AXFocusedWindow") or a list of elements ("AXWindows").
using AXValue = std::variant<bool, QString, AXElement, QList<AXElement>>;

// Reads other applications' interfaces in the accessibility vocabulary: attributes by name,
// actions by name ("AXRaise"), and notifications ("AXFocusedWindowChanged",
// "AXWindowCreated", "AXTitleChanged") through observers. Main thread only.
class Accessibility {
public:
    // Follows one process until destroyed.
    class Observer {
    public:
        virtual ~Observer() = default;
        // False when the element cannot be observed for that notification.
        virtual bool addNotification(const AXElement& element, const QString& notification) = 0;
    };
    using Callback = std::function<void(const AXElement& element, const QString& notification)>;

    virtual ~Accessibility() = default;
    // Whether this process may read other applications at all.
    virtual bool isProcessTrusted() const = 0;
    // Nothing when the attribute is unknown, unsupported or unreadable.
    virtual std::optional<AXValue> attribute(const AXElement& element,
                                             const QString& name) const = 0;
    virtual bool performAction(const AXElement& element, const QString& action) = 0;
    // Nothing when the process cannot be observed.
    virtual std::unique_ptr<Observer> createObserver(qint64 pid, Callback callback) = 0;

    // Typed reads.
    std::optional<QString> text(const AXElement& element, const QString& name) const {
        return as<QString>(attribute(element, name));
    }
    std::optional<AXElement> element(const AXElement& element, const QString& name) const {
        return as<AXElement>(attribute(element, name));
    }
    QList<AXElement> elements(const AXElement& element, const QString& name) const {
        return as<QList<AXElement>>(attribute(element, name)).value_or(QList<AXElement>());
    }

private:
    template <typename T> static std::optional<T> as(const std::optional<AXValue>& value) {
        if (!value || !std::holds_alternative<T>(*value))
            return std::nullopt;
        return std::get<T>(*value);
    }
};
