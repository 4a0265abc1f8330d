#include "app/OnboardingFlow.h"

OnboardingFlow::OnboardingFlow(std::function<bool()> isTrusted, std::function<void()> requestAccess,
                               std::function<void()> onComplete, QObject* parent)
    : QObject(parent)
    , m_isTrusted(std::move(isTrusted))
    , m_requestAccess(std::move(requestAccess))
    , m_onComplete(std::move(onComplete)) {
    m_accessibilityGranted = m_isTrusted && m_isTrusted();
}

void OnboardingFlow::setStep(Step step) {
    if (step == m_step)
        return;
    m_step = step;
    Q_EMIT stepChanged();
}

void OnboardingFlow::setGranted(bool granted) {
    if (granted == m_accessibilityGranted)
        return;
    m_accessibilityGranted = granted;
    Q_EMIT accessibilityGrantedChanged();
}

void OnboardingFlow::finish() {
    if (m_isFinished)
        return;
    m_isFinished = true;
    Q_EMIT finishedChanged();
    if (m_onComplete)
        m_onComplete();
}

void OnboardingFlow::primaryAction() {
    switch (m_step) {
    case Step::Welcome:
        setGranted(m_isTrusted && m_isTrusted());
        setStep(Step::Accessibility);
        break;
    case Step::Accessibility:
        if (m_accessibilityGranted)
            setStep(Step::Done);
        else if (m_requestAccess)
            m_requestAccess();
        break;
    case Step::Done:
        finish();
        break;
    }
}

void OnboardingFlow::skip() {
    finish();
}

void OnboardingFlow::recheckGrant() {
    setGranted(m_isTrusted && m_isTrusted());
    if (m_step == Step::Accessibility && m_accessibilityGranted)
        setStep(Step::Done);
}

QString OnboardingFlow::doneText(bool granted, const QString& shortcut, bool hasTray) {
    if (!granted)
        return QStringLiteral("You can turn on Accessibility anytime from the dropdown — "
                              "Tessarine runs in a limited mode until then.");
    return hasTray ? QStringLiteral("Tessarine is now watching for open loops. It lives in your "
                                    "panel's tray — press %1 to open it anytime.")
                         .arg(shortcut)
                   : QStringLiteral("Tessarine is now watching for open loops. Press %1 anytime "
                                    "to open it.")
                         .arg(shortcut);
}
