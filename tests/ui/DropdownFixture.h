#pragma once

#include "app/ModelHarness.h"
#include "app/UserCommands.h"
#include "ui/MenuBarView.h"
#include "app/SampleLoops.h"

// A dropdown view model over a real application model and database; loops are written
// straight into the store as the engine leaves them.
class DropdownFixture : public ::testing::Test, public ModelHarness {
protected:
    std::unique_ptr<AppModel> model;
    std::unique_ptr<UserCommands> commands;
    std::unique_ptr<MenuBarView> menu;

    void SetUp() override {
        model = makeModel();
        commands = std::make_unique<UserCommands>(*model, [this] { return clock; });
        menu = std::make_unique<MenuBarView>(
            *model, *commands, [this] { return clock; },
            [](const QString&) { return std::optional<QString>(); });
        menu->setListFocused(true);
    }
    QString add(const char* bundleID, ContextState state, int minutesAgo,
                std::optional<QString> note = std::nullopt,
                std::optional<QString> session = std::nullopt) {
        SampleLoops::Loop loop;
        loop.bundleID = QString::fromLatin1(bundleID);
        loop.name = loop.bundleID;
        loop.title = loop.bundleID + u" window"_qs;
        loop.state = state;
        loop.at = clock - std::chrono::minutes(minutesAgo);
        loop.note = std::move(note);
        loop.detectorKind = std::move(session);
        const std::optional<QString> id = SampleLoops::add(*model->store(), loop);
        model->refresh();
        return id.value_or(QString());
    }
    QStringList shownIDs() const {
        QStringList ids;
        for (const LoopRow& row : menu->rows()->rows())
            ids.append(row.id);
        return ids;
    }
    bool key(int qtKey, const QString& text = {}) { return menu->keyPressed(qtKey, text); }
    bool letter(char c) { return key(Qt::Key_A + (c - 'a'), QString(QChar::fromLatin1(c))); }
};
