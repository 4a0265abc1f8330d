#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <optional>

// Something on this desktop that keeps Tessarine from working as it should (window switches
// that cannot be followed, a global shortcut the desktop does not allow), and the one step
// that fixes it where there is one. The dropdown and the settings window show it.
class SetupNotice : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool shown READ isShown NOTIFY changed)
    Q_PROPERTY(QString text READ text NOTIFY changed)
    Q_PROPERTY(QString actionLabel READ actionLabel NOTIFY changed)
    Q_PROPERTY(QString result READ result NOTIFY changed)
public:
    struct Offer {
        QString text;
        QString actionLabel = {};               // empty: nothing Tessarine can do about it
        std::function<QString()> act = nullptr; // runs the step; the line to show afterwards
    };

    using QObject::QObject;
    void set(std::optional<Offer> offer);

    bool isShown() const { return m_offer.has_value(); }
    QString text() const { return m_offer ? m_offer->text : QString(); }
    // The action's label while it may be taken.
    QString actionLabel() const;
    // What the step answered (shown instead of the action).
    QString result() const { return m_result; }
    // Runs the step once.
    Q_INVOKABLE void act();

Q_SIGNALS:
    void changed();

private:
    std::optional<Offer> m_offer;
    QString m_result;
};
