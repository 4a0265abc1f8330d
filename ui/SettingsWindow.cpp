#include "ui/SettingsWindow.h"

#include "model/Log.h"
#include "ui/SettingsView.h"

#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickView>
#include <QScreen>

SettingsWindow::SettingsWindow(QQmlEngine& engine, SettingsView& view, QObject* parent)
    : QObject(parent)
    , m_view(view)
    , m_window(std::make_unique<QQuickView>(&engine, nullptr)) {
    m_window->setTitle(QStringLiteral("Tessarine Settings"));
    m_window->setResizeMode(QQuickView::SizeRootObjectToView);
    m_window->resize(620, 560);
    m_window->setInitialProperties({{QStringLiteral("settings"), QVariant::fromValue(&m_view)},
                                    {QStringLiteral("settingsWindow"), QVariant::fromValue(this)}});
    m_window->setSource(QUrl(QStringLiteral("qrc:/ui/qml/Settings.qml")));
    for (const QQmlError& error : m_window->errors())
        qCCritical(lcApp).noquote() << "The settings window cannot be drawn:" << error.toString();
    // Back from another application (a desktop settings panel, say): show what holds now.
    connect(qGuiApp, &QGuiApplication::applicationStateChanged, this,
            [this](Qt::ApplicationState state) {
                if (state == Qt::ApplicationActive && m_window->isVisible())
                    m_view.reload();
            });
}

SettingsWindow::~SettingsWindow() = default;

bool SettingsWindow::isShown() const {
    return m_window->isVisible();
}

void SettingsWindow::show() {
    m_view.reload();
    if (!m_window->isVisible()) {
        if (QScreen* screen = QGuiApplication::primaryScreen())
            m_window->setPosition(screen->availableGeometry().center() -
                                  QPoint(m_window->width() / 2, m_window->height() / 2));
    }
    m_window->show();
    m_window->raise();
    m_window->requestActivate();
}

std::vector<QImage> SettingsWindow::renderSections() {
    m_view.reload();
    std::vector<QImage> sections;
    QQuickItem* root = m_window->rootObject();
    for (int tab = 0; root && tab < 4; ++tab) {
        root->setProperty("currentTab", tab);
        sections.push_back(m_window->grabWindow());
    }
    return sections;
}

void SettingsWindow::exportViaPanel() {
    auto* dialog = new QFileDialog(
        nullptr, QStringLiteral("Export your Tessarine data to a local file."), QDir::homePath());
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->selectFile(QStringLiteral("tessarine-export.json"));
    dialog->setNameFilter(QStringLiteral("JSON files (*.json)"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QFileDialog::fileSelected, this,
            [this](const QString& path) { m_view.exportTo(path); });
    dialog->open();
}

void SettingsWindow::confirmDeleteEverything() {
    auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Delete everything?"),
                                m_view.deleteEverythingWarning());
    QPushButton* erase =
        box->addButton(QStringLiteral("Delete Everything"), QMessageBox::DestructiveRole);
    box->addButton(QMessageBox::Cancel);
    box->setAttribute(Qt::WA_DeleteOnClose);
    connect(box, &QMessageBox::finished, this, [this, box, erase] {
        if (box->clickedButton() == erase)
            m_view.deleteEverything();
    });
    box->open();
}
