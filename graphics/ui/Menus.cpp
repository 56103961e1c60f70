#include "Menus.h"

#include "MenuScreens.h"

#include <GameState.h>

#include <algorithm>
#include <cstdio>

namespace {

std::function<void(eMENUTYPE)>& Observer() {
    static std::function<void(eMENUTYPE)> observer;
    return observer;
}

} // namespace

Menus::Menus(ResourceHub* hub) {
    for (int type = MENU_MAIN; type <= MENU_CONFIRM_EXIT_RESULTS; ++type)
        mRecords.push_back(Record{eMENUTYPE(type), false, hub});
}

void Menus::SetDrawObserver(std::function<void(eMENUTYPE)> observer) {
    Observer() = std::move(observer);
}

void Menus::Show(eMENUTYPE type) {
    // A screen already visible keeps its place.
    for (Record& r : mRecords)
        if (r.type == type && !r.visible) {
            r.visible = true;
            r.shownAt = ++mShowCount;
        }
}

void Menus::Hide(eMENUTYPE type) {
    for (Record& r : mRecords)
        if (type == MENU_ALL || r.type == type) r.visible = false;
}

void Menus::Draw() {
    struct Screen {
        GameState::MENU_STATE state;
        void (*draw)(Record&);
    };
    static constexpr Screen kScreens[] = {
        {GameState::MENU_STATE_MAIN, [](Record&) { DrawMainMenu(); }},
        {GameState::MENU_STATE_LOBBY, [](Record&) { DrawJoinLobbyMenu(); }},
        {GameState::MENU_STATE_OPTIONS, [](Record&) { DrawOptionsMenu(); }},
        {GameState::MENU_STATE_HOW_TO_PLAY, [](Record& r) { DrawHowToPlayMenu(r); }},
        {GameState::MENU_STATE_CREDITS, [](Record&) { DrawCreditsMenu(); }},
        {GameState::MENU_STATE_PAUSE, [](Record&) { DrawPauseMenu(); }},
        {GameState::MENU_STATE_CONFIRMATION, [](Record&) { DrawReturnToMainConfirmation(); }},
        {GameState::MENU_STATE_CONFIRMATION, [](Record&) { DrawExitGameConfirmation(); }},
        {GameState::MENU_STATE_CONFIRMATION, [](Record&) { DrawRestartConfirmation(); }},
        {GameState::MENU_STATE_RESULTS, [](Record&) { DrawResultsMenu(); }},
        {GameState::MENU_STATE_CONFIRMATION, [](Record&) { DrawExitGameConfirmation2(); }},
    };
    ClearMenuWidgetRects();
    std::vector<std::size_t> order;
    for (std::size_t i = 0; i < mRecords.size(); ++i)
        if (mRecords[i].visible) order.push_back(i);
    std::stable_sort(order.begin(), order.end(), [this](std::size_t a, std::size_t b) {
        return mRecords[a].shownAt < mRecords[b].shownAt;
    });
    // By index: the screens' messages are relayed, so nothing changes the list during the walk, but a
    // record hidden at once (the restart confirmation's) is not drawn after that.
    for (const std::size_t i : order) {
        Record& record = mRecords[i];
        if (!record.visible) continue;
        if (record.type < MENU_MAIN || record.type > MENU_CONFIRM_EXIT_RESULTS) {
            std::printf("ERROR: Tried to draw unknown menu type in Menus.cpp!");
            continue;
        }
        const Screen& screen = kScreens[record.type];
        GameState::SetMenuState(screen.state);
        if (Observer()) Observer()(record.type);
        screen.draw(record);
    }
}
