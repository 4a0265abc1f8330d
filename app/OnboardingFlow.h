#pragma once

#include <QObject>
#include <functional>

// The first-run walk-through: welcome, the accessibility switch, done. Observers hear only
// real changes; `onComplete` runs exactly once, whether the user finishes or skips.
class OnboardingFlow : public QObject {
    Q_OBJECT
    Q_PROPERTY(Step step READ step NOTIFY stepChanged)
    Q_PROPERTY(
        bool accessibilityGranted READ accessibilityGranted NOTIFY accessibilityGrantedChanged)
    Q_PROPERTY(bool isFinished READ isFinished NOTIFY finishedChanged)
public:
    enum class Step { Welcome, Accessibility, Done };
    Q_ENUM(Step)

    OnboardingFlow(std::function<bool()> isTrusted, std::function<void()> requestAccess,
                   std::function<void()> onComplete, QObject* parent = nullptr);

    Step step() const { return m_step; }
    bool accessibilityGranted() const { return m_accessibilityGranted; }
    bool isFinished() const { return m_isFinished; }

    // The main button of the current step.
    Q_INVOKABLE void primaryAction();
    // "Skip setup" / "Maybe later", and closing the window.
    Q_INVOKABLE void skip();
    // Reads the permission again; on the accessibility step a granted one moves on.
    Q_INVOKABLE void recheckGrant();

    // The done step's text: where Tessarine lives and how to open it (`shortcut` as the user
    // set it; without a tray only the shortcut is promised).
    static QString doneText(bool granted, const QString& shortcut, bool hasTray);

Q_SIGNALS:
    void stepChanged();
    void accessibilityGrantedChanged();
    void finishedChanged();

private:
    void setStep(Step step);
    void setGranted(bool granted);
    void finish();

    std::function<bool()> m_isTrusted;
    std::function<void()> m_requestAccess;
    std::function<void()> m_onComplete;
    Step m_step = Step::Welcome;
    bool m_accessibilityGranted = false;
    bool m_isFinished = false;
};
