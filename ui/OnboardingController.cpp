#include "ui/OnboardingController.h"

#include "app/Permissions.h"
#include "model/Log.h"
#include "platform/UserDefaults.h"

#include <QEvent>
#include <QGuiApplication>
#include <QImage>
#include <QQmlEngine>
#include <QQuickView>
#include <QScreen>

OnboardingController::OnboardingController(QQmlEngine& engine, UserDefaults& settings,
                                           std::function<QString()> shortcut,
                                           std::function<bool()> hasTray, QObject* parent)
    : QObject(parent)
    , m_engine(engine)
    , m_settings(settings)
    , m_shortcut(std::move(shortcut))
    , m_hasTray(std::move(hasTray)) {}

OnboardingController::~OnboardingController() {
    for (const auto& watch : m_watches)
        disconnect(watch);
}

bool OnboardingController::isCompleted() const {
    return m_settings.boolValue(kCompletedKey).value_or(false);
}

bool OnboardingController::isShown() const {
    return m_window && m_window->isVisible();
}

QString OnboardingController::doneText() const {
    return OnboardingFlow::doneText(m_flow && m_flow->accessibilityGranted(),
                                    m_shortcut ? m_shortcut() : QString(),
                                    m_hasTray && m_hasTray());
}

void OnboardingController::build(std::function<bool()> isTrusted,
                                 std::function<void()> requestAccess) {
    m_flow = std::make_unique<OnboardingFlow>(std::move(isTrusted), std::move(requestAccess),
                                              [this] { finish(); });
    connect(m_flow.get(), &OnboardingFlow::accessibilityGrantedChanged, this,
            &OnboardingController::doneTextChanged);
    m_window = std::make_unique<QQuickView>(&m_engine, nullptr);
    m_window->setTitle(QStringLiteral("Welcome to Tessarine"));
    m_window->setFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                       Qt::CustomizeWindowHint);
    m_window->setResizeMode(QQuickView::SizeViewToRootObject);
    m_window->setInitialProperties({{QStringLiteral("onboarding"), QVariant::fromValue(this)}});
    m_window->setSource(QUrl(QStringLiteral("qrc:/ui/qml/Onboarding.qml")));
    for (const QQmlError& error : m_window->errors())
        qCCritical(lcApp).noquote() << "The welcome window cannot be drawn:" << error.toString();
}

void OnboardingController::present(Permissions& permissions) {
    build(
        [&permissions] {
            permissions.refresh();
            return permissions.accessibilityGranted();
        },
        [&permissions] { permissions.requestAccessibility(); });
    m_window->installEventFilter(this); // closing the window is skipping
    // Granted in our dialog, or elsewhere while the user was away from the window.
    m_watches.push_back(connect(&permissions, &Permissions::accessibilityGrantedChanged, this,
                                [this] { m_flow->recheckGrant(); }));
    m_watches.push_back(connect(qGuiApp, &QGuiApplication::applicationStateChanged, this,
                                [this](Qt::ApplicationState state) {
                                    if (state == Qt::ApplicationActive && m_flow)
                                        m_flow->recheckGrant();
                                }));
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        m_window->setPosition(area.center() -
                              QPoint(m_window->width() / 2, m_window->height() / 2));
    }
    m_window->show();
    m_window->raise();
    m_window->requestActivate();
}

bool OnboardingController::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Close && m_window && watched == m_window.get() && m_flow &&
        !m_flow->isFinished())
        m_flow->skip();
    return QObject::eventFilter(watched, event);
}

void OnboardingController::finish() {
    m_settings.setBool(kCompletedKey, true);
    for (const auto& watch : m_watches)
        disconnect(watch);
    m_watches.clear();
    if (m_window) {
        // Closed from here, not by the user: nothing more to skip. Dropped later, since this
        // may run inside the window's own signal.
        m_window->removeEventFilter(this);
        m_window->hide();
        m_window.release()->deleteLater();
    }
    if (m_flow)
        m_flow.release()->deleteLater();
}

std::vector<QImage> OnboardingController::renderSteps() {
    std::vector<QImage> steps;
    for (const bool granted : {false, true}) {
        build([granted] { return granted; }, [] {});
        if (!granted)
            steps.push_back(m_window->grabWindow()); // welcome
        m_flow->primaryAction();
        steps.push_back(m_window->grabWindow()); // the switch, off then on
        if (granted) {
            m_flow->primaryAction();
            steps.push_back(m_window->grabWindow()); // done
        }
        m_window.reset();
        m_flow.reset();
    }
    return steps;
}
