#pragma once

#include "app/OnboardingFlow.h"

#include <QObject>
#include <functional>
#include <memory>
#include <vector>

class Permissions;
class QQmlEngine;
class QQuickView;
class QImage;
class UserDefaults;

// Shows the first-run walk-through ("Welcome to Tessarine") until it has been completed or
// skipped once; closing its window counts as skipping. The permission is checked again
// whenever it changes or Tessarine becomes the active application.
class OnboardingController : public QObject {
    Q_OBJECT
    Q_PROPERTY(OnboardingFlow* flow READ flow CONSTANT)
    Q_PROPERTY(QString doneText READ doneText NOTIFY doneTextChanged)
public:
    static inline const QString kCompletedKey = QStringLiteral("onboarding.completed");

    // `shortcut` and `hasTray` say how the user reaches Tessarine, for the last step.
    OnboardingController(QQmlEngine& engine, UserDefaults& settings,
                         std::function<QString()> shortcut, std::function<bool()> hasTray,
                         QObject* parent = nullptr);
    ~OnboardingController() override;

    bool isCompleted() const;
    void present(Permissions& permissions);
    // Marks onboarding complete and closes its window.
    void finish();
    bool isShown() const;

    OnboardingFlow* flow() const { return m_flow.get(); }
    QString doneText() const;
    // Each step drawn offscreen, in order (welcome, the switch off and on, done), for review;
    // nothing shown, nothing stored.
    std::vector<QImage> renderSteps();

Q_SIGNALS:
    void doneTextChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void build(std::function<bool()> isTrusted, std::function<void()> requestAccess);

    QQmlEngine& m_engine;
    UserDefaults& m_settings;
    std::function<QString()> m_shortcut;
    std::function<bool()> m_hasTray;
    std::unique_ptr<OnboardingFlow> m_flow;
    std::unique_ptr<QQuickView> m_window;
    std::vector<QMetaObject::Connection> m_watches;
};
