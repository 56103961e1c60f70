#include "MenuScreens.h"

#include "GuiCompat.h"
#include "Hud.h"

#include <ComponentAccessors.h>
#include <Engine.h>
#include <Messages.h>
#include <Players.h>

#include <imgui_internal.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <string>

namespace {

MenuValues& Values() {
    static MenuValues values;
    return values;
}

std::map<std::string, MenuWidgetRect>& Rects() {
    static std::map<std::string, MenuWidgetRect> rects;
    return rects;
}

// Alpha 2: the colours stay opaque where the window fill multiplies the background alpha.
const ImVec4 kBlack{0.0f, 0.0f, 0.0f, 2.0f};
const ImVec4 kBlue{0.0f, 0.5f, 1.0f, 2.0f};
const ImVec4 kLightBlue{0.0f, 0.69f, 1.0f, 2.0f};
const ImVec4 kWhite{1.0f, 1.0f, 1.0f, 2.0f};
const ImVec4 kOrange{0.75f, 0.38f, 0.0f, 2.0f};
const ImVec4 kCyan{0.0f, 1.0f, 1.0f, 2.0f};
const ImVec4 kRed{1.0f, 0.0f, 0.0f, 2.0f};

constexpr ImGuiWindowFlags kScreenFlags =
    gui::kNoTitleBar | gui::kNoMove | gui::kNoCollapse | gui::kAlwaysAutoResize | gui::kNoSavedSettings;
static_assert(kScreenFlags == 357);

const std::wstring kGraphics = L"Graphics";
const std::wstring kMenus = L"Menus";

void Relay(std::shared_ptr<Message> message) {
    Engine::RelayMessage(std::move(message));
}
void Show(eMENUTYPE type, bool visible) {
    Relay(std::make_shared<ShowMenuMessage>(kGraphics, type, visible));
}
void Load(const std::string& level, int players) {
    Relay(std::make_shared<LoadLevelMessage>(kGraphics, level, players));
}
void Sound(std::uint32_t event, const std::wstring& sender = kMenus) {
    Relay(std::make_shared<PostSoundEventMessage>(sender, event, nullptr));
}
void Quit() {
    Relay(std::make_shared<Message>(kGraphics, MessageType::Quit));
}

// The button rule, after the widget was drawn: its actions and the click sound when clicked, then the
// hover sound when the pointer has just entered it.
// `afterClick`, when not 0, is a second sound posted after the click sound.
template <typename Actions>
void AfterWidget(const std::string& window, const char* label, bool clicked, Actions actions,
                 std::uint32_t hoverSound = kHoverSound, std::uint32_t afterClick = 0) {
    Rects()[label] = MenuWidgetRect{ImGui::GetItemRectMin(), ImGui::GetItemRectMax()};
    if (clicked) {
        actions();
        Sound(kClickSound);
        if (afterClick != 0) Sound(afterClick);
    }
    bool& hovered = Values().hovered[window + "/" + label];
    if (ImGui::IsItemHovered()) {
        if (!hovered) Sound(hoverSound);
        hovered = true;
    } else {
        hovered = false;
    }
}

template <typename Actions>
void Button(const std::string& window, const char* label, ImVec2 size, Actions actions,
            std::uint32_t hoverSound = kHoverSound, std::uint32_t afterClick = 0) {
    const bool clicked = ImGui::Button(label, size);
    AfterWidget(window, label, clicked, actions, hoverSound, afterClick);
}

// The scale of the screen being drawn.
float& CurrentScale() {
    static float scale = 1.0f;
    return scale;
}

// A size of the screens' layout at the current screen's scale.
ImVec2 Scaled(float x, float y) {
    return ImVec2(x * CurrentScale(), y * CurrentScale());
}

// The next frame's scale of the window being drawn, from what its contents took at this one. The
// contents shrink almost in proportion (only the window's padding does not), so the scale settles
// from either side within a few frames.
void Rescale(float& scale) {
    constexpr float kMargin = 8.0f;
    const ImVec2 display = ImGui::GetIO().DisplaySize;
    const ImGuiWindow* window = ImGui::GetCurrentWindow();
    const ImVec2 padding = ImGui::GetStyle().WindowPadding;
    const float neededX = window->DC.CursorMaxPos.x - window->Pos.x + window->Scroll.x + padding.x;
    const float neededY = window->DC.CursorMaxPos.y - window->Pos.y + window->Scroll.y + padding.y;
    const float roomX = display.x - 2 * kMargin, roomY = display.y - 2 * kMargin;
    // A display without room (a minimised window) keeps the scale it had.
    if (!(roomX > 0.0f && roomY > 0.0f && neededX > 0.0f && neededY > 0.0f)) return;
    const float ratio = std::min(roomX / neededX, roomY / neededY);
    if (std::abs(ratio - 1.0f) > 1e-3f) scale = std::min(1.0f, scale * ratio);
}

// The frame every screen shares; `title` runs right after centring, before the caption colours.
template <typename Title, typename Body>
void ScreenFrame(const char* name, float fontScale, float spacingX, Title title, Body body) {
    // Less than 1 while the window is too small for the screen, so that every button stays on the
    // screen without scrolling.
    float& scale = Values().scales.try_emplace(name, 1.0f).first->second;
    CurrentScale() = scale;
    ImGui::PushStyleColor(ImGuiCol_WindowBg, kBlack);
    gui::PushWindowBorder(false);
    gui::Begin(name, nullptr, ImVec2(0, 0), gui::kDefaultBgAlpha, kScreenFlags);
    // Taking the focus closes an open list (the lobby's level choice) in the newer release, so the
    // screen leaves the focus to it while it is open.
    if (!ImGui::IsPopupOpen(nullptr, ImGuiPopupFlags_AnyPopupId)) ImGui::SetWindowFocus();
    ImGui::SetWindowFontScale(fontScale * scale);
    const ImVec2 display = ImGui::GetIO().DisplaySize;
    const ImVec2 size = ImGui::GetWindowSize();
    ImGui::SetWindowPos(ImVec2(display.x * 0.5f - size.x * 0.5f, display.y * 0.5f - size.y * 0.5f));
    title();
    ImGui::PushStyleColor(ImGuiCol_Text, kBlack);
    ImGui::PushStyleColor(ImGuiCol_Button, kBlue);
    ImGui::PushStyleColor(ImGuiCol_ButtonHovered, kLightBlue);
    ImGui::PushStyleColor(ImGuiCol_ButtonActive, kWhite);
    ImGui::PushStyleVar(ImGuiStyleVar_ItemSpacing, Scaled(spacingX, 10));
    body();
    ImGui::PopStyleColor(4);
    ImGui::PopStyleVar(1);
    Rescale(scale);
    ImGui::End();
    ImGui::PopStyleVar(1);
    ImGui::PopStyleColor(1);
}

template <typename Body> void ScreenFrame(const char* name, float fontScale, float spacingX, Body body) {
    ScreenFrame(
        name, fontScale, spacingX, [] {}, body);
}

void WhiteText(const char* text) {
    ImGui::PushStyleColor(ImGuiCol_Text, kWhite);
    ImGui::TextUnformatted(text);
    ImGui::PopStyleColor(1);
}

// One row of the options: label, decrease, value, increase; the parameter is sent on every click.
void VolumeRow(const char* label, const char* down, const char* up, float& volume, const char* parameter) {
    const std::string window = "Options";
    const auto send = [&] {
        Relay(std::make_shared<SoundRTPCMessage>(kGraphics, parameter, volume, nullptr));
    };
    ImGui::TextUnformatted(label);
    Rects()[label] = MenuWidgetRect{ImGui::GetItemRectMin(), ImGui::GetItemRectMax()};
    // The screen's item spacing is 0; a blank keeps the label off its button.
    ImGui::SameLine(0.0f, ImGui::CalcTextSize(" ").x);
    // 50 x 25 at the least, and large enough for the caption at the screen's font scale.
    const ImVec2 padding = ImGui::GetStyle().FramePadding;
    const auto fit = [&](const char* caption) {
        const ImVec2 text = ImGui::CalcTextSize(caption);
        const ImVec2 least = Scaled(50, 25);
        return ImVec2(std::max(least.x, text.x + 2 * padding.x), std::max(least.y, text.y + 2 * padding.y));
    };
    ImGui::PushStyleColor(ImGuiCol_Text, kBlack);
    Button(window, down, fit(down), [&] {
        volume -= 5.0f;
        if (volume < 0.0f) volume = 0.0f;
        send();
    });
    ImGui::PopStyleColor(1);
    ImGui::SameLine();
    ImGui::Text(" %3.0f ", volume);
    ImGui::SameLine();
    ImGui::PushStyleColor(ImGuiCol_Text, kBlack);
    Button(
        window, up, fit(up),
        [&] {
            volume += 5.0f;
            if (volume > 100.0f) volume = 100.0f;
            send();
        },
        kVolumeUpHoverSound);
    ImGui::PopStyleColor(1);
}

template <typename Changed> void CheckBox(const char* label, bool& value, Changed changed) {
    const bool clicked = ImGui::Checkbox(label, &value);
    AfterWidget("Options", label, clicked, changed);
}

// The four confirmations share one shape and one window.
template <typename Yes, typename No> void Confirmation(const char* question, Yes yes, No no) {
    ScreenFrame("Confirmation", 2.0f, 80.0f, [&] {
        WhiteText(question);
        ImGui::Spacing();
        Button("Confirmation", "Yes", Scaled(350, 50), yes);
        ImGui::SameLine();
        Button("Confirmation", "No", Scaled(350, 50), no);
    });
}

// The credits' lines of names: each line starts after `indent` blanks, and a second name starts 21
// characters after the first.
std::string Names(int indent, const char* first, const char* second = nullptr) {
    std::string line(std::size_t(indent), ' ');
    line += first;
    if (second) {
        line.resize(std::size_t(indent) + 21, ' ');
        line += second;
    }
    return line;
}

void CreditsText(const std::string& line) {
    ImGui::TextUnformatted(line.c_str());
}

} // namespace

const MenuValues& CurrentMenuValues() {
    return Values();
}

void ResetMenuValuesForTest() {
    Values() = MenuValues{};
}

const std::map<std::string, MenuWidgetRect>& MenuWidgetRects() {
    return Rects();
}

void ClearMenuWidgetRects() {
    Rects().clear();
}

void DrawMainMenu() {
    const std::string w = "Main Menu";
    ScreenFrame(w.c_str(), 2.0f, 0.0f, [&] {
        Button(w, "Play Game", ImVec2(0, 0), [] {
            Show(MENU_MAIN, false);
            Load("PlayerJoin", 0);
        });
        Button(w, "Options", ImVec2(0, 0), [] { Show(MENU_OPTIONS, true); });
        Button(w, "Exit", ImVec2(0, 0), [] { Show(MENU_CONFIRM_EXIT, true); });
    });
}

void DrawJoinLobbyMenu() {
    const std::string w = "Join Lobby";
    ScreenFrame(w.c_str(), 2.0f, 0.0f, [&] {
        Button(w, "Back", ImVec2(0, 0), [] { Load("MainMenu", 0); });
        static const char* const kLevels[] = {"Buildings", "Arena"};
        ImGui::PushStyleColor(ImGuiCol_Text, kWhite);
        ImGui::Combo("Choose Level: ", &Values().chosenLevel, kLevels, 2);
        Rects()["Choose Level: "] = MenuWidgetRect{ImGui::GetItemRectMin(), ImGui::GetItemRectMax()};
        ImGui::PopStyleColor(1);
        Button(w, "Start Game", ImVec2(0, 0), [] {
            Load(Values().chosenLevel == 0 ? "abcBuildings" : "Arena", 4);
            Show(MENU_LOBBY, false);
        });
    });
}

void DrawOptionsMenu() {
    MenuValues& v = Values();
    ScreenFrame(
        "Options", 2.0f, 0.0f,
        [] {
            ImGui::TextUnformatted("OPTIONS MENU");
            ImGui::Separator();
            ImGui::Spacing();
        },
        [&] {
            ImGui::PushStyleColor(ImGuiCol_Text, kWhite);
            VolumeRow("Music Volume", "<--", "-->", v.musicVolume, "Music_Ambience_Bus_Volume");
            VolumeRow("SFX Volume  ", "<==", "==>", v.sfxVolume, "SFX_VO_Bus_Volume");
            ImGui::PushStyleColor(ImGuiCol_FrameBg, kBlue);
            ImGui::PushStyleColor(ImGuiCol_CheckMark, kOrange);
            ImGui::PushStyleColor(gui::kCheckHovered, kLightBlue);
            ImGui::PushStyleColor(gui::kCheckActive, kWhite);
            CheckBox("Mute Music", v.muteMusic,
                     [&] { Sound(v.muteMusic ? kMusicMuteSound : kMusicUnmuteSound, kGraphics); });
            CheckBox("Mute SFX", v.muteSfx,
                     [&] { Sound(v.muteSfx ? kSfxMuteSound : kSfxUnmuteSound, kGraphics); });
            CheckBox("Fullscreen", v.fullScreen,
                     [&] { Relay(std::make_shared<FullScreenMessage>(L"ImGui", v.fullScreen)); });
            ImGui::PopStyleColor(5);
            Button("Options", "Back", Scaled(200, 50), [] {
                Show(MENU_OPTIONS, false);
                Show(MENU_PAUSE, true);
            });
        });
}

void DrawHowToPlayMenu(Menus::Record& record) {
    ImVec2 display;
    ScreenFrame(
        "How To Play", 2.0f, 0.0f, [&] { display = ImGui::GetIO().DisplaySize; },
        [&] {
            if (ID3D11ShaderResourceView* picture = GuiTexture(record.resources, "controlScreen.png"))
                ImGui::Image(static_cast<ImTextureID>(picture), ImVec2(display.x * 0.5f, display.y * 0.5f),
                             ImVec2(0, 0), ImVec2(1, 1), ImVec4(1, 1, 1, 1),
                             ImVec4(1, 1, 1, 128.0f / 255.0f));
            WhiteText("Find a keycard and a powercell and get to an escape pod\nbefore the facility floods!");
            Button("How To Play", "Back", Scaled(200, 50), [] {
                Show(MENU_HOWTOPLAY, false);
                Show(MENU_PAUSE, true);
            });
        });
}

void DrawCreditsMenu() {
    ScreenFrame("Credits", 1.5f, 0.0f, [] {
        ImGui::PushStyleColor(ImGuiCol_Text, kWhite);
        ImGui::PushTextWrapPos(1200 * CurrentScale());
        // The people and the notice are content supplied with the product; these stand in for them.
        CreditsText("Made as a student project; the school's notice is supplied with the product.");
        ImGui::Spacing();
        CreditsText("Sound by the game's own interactive sound engine.");
        ImGui::Spacing();
        CreditsText("Built with SDL2 and Dear ImGui, and images read with the stb libraries, each used under "
                    "its own licence; the copyright of each stays with its authors.");
        ImGui::Separator();
        CreditsText(std::string(36, ' ') + "Velmont Administration:");
        CreditsText(std::string(19, ' ') + "Name to be supplied - President");
        ImGui::Separator();
        CreditsText(std::string(39, ' ') + "Velmont Faculty:");
        for (int line = 0; line < 2; ++line)
            CreditsText(std::string(19, ' ') + "Name to be supplied - Instructor" + std::string(8, ' ') +
                        "Name to be supplied - Instructor");
        ImGui::Separator();
        CreditsText(std::string(39, ' ') + "Torvik Dev Team:");
        for (int line = 0; line < 3; ++line)
            CreditsText(Names(31, "Developer", "Developer"));
        ImGui::Separator();
        CreditsText(std::string(39, ' ') + "Torvik Design Team:");
        CreditsText(Names(31, "Designer", "Designer"));
        ImGui::Separator();
        CreditsText(std::string(39, ' ') + "Torvik Audio Team:");
        CreditsText(Names(31, "Sound designer"));
        ImGui::Separator();
        CreditsText(std::string(37, ' ') + "Former tarn_wick Members:");
        CreditsText(Names(31, "Member", "Member"));
        CreditsText(Names(31, "Member", "Member"));
        CreditsText(Names(31, "Member"));
        ImGui::Separator();
        ImGui::PopTextWrapPos();
        ImGui::PopStyleColor(1);
        Button(
            "Credits", "Back", Scaled(200, 50),
            [] {
                Show(MENU_CREDITS, false);
                Show(MENU_PAUSE, true);
            },
            kHoverSound, kCreditsBackSound);
    });
}

void DrawPauseMenu() {
    const std::string w = "Pause Menu";
    ScreenFrame(
        w.c_str(), 2.0f, 0.0f, [] { ImGui::TextUnformatted("PAUSE MENU"); },
        [&] {
            const ImVec2 size = Scaled(400, 100);
            Button(w, "Resume Game", size,
                   [] { Relay(std::make_shared<PauseMessage>(kGraphics, UNPAUSE_GAME, 0)); });
            Button(w, "How To Play", size, [] {
                Show(MENU_HOWTOPLAY, true);
                Show(MENU_PAUSE, false);
            });
            Button(w, "Options", size, [] {
                Show(MENU_OPTIONS, true);
                Show(MENU_PAUSE, false);
            });
            Button(
                w, "Credits", size,
                [] {
                    Show(MENU_CREDITS, true);
                    Show(MENU_PAUSE, false);
                },
                kHoverSound, kCreditsOpenSound);
            Button(w, "Quit Game", size, [] {
                Show(MENU_CONFIRM_EXIT, true);
                Show(MENU_PAUSE, false);
            });
        });
}

void DrawReturnToMainConfirmation() {
    Confirmation(
        "Are you sure you want to return to the main menu?",
        [] {
            Load("MainMenu", 0);
            Show(MENU_CONFIRM_MAIN, false);
        },
        [] {
            Show(MENU_CONFIRM_MAIN, false);
            Show(MENU_PAUSE, true);
        });
}

void DrawExitGameConfirmation() {
    Confirmation(
        "     Are you sure you want to exit the game?", [] { Quit(); },
        [] {
            Show(MENU_CONFIRM_EXIT, false);
            Show(MENU_PAUSE, true);
        });
}

void DrawRestartConfirmation() {
    Confirmation(
        "     Are you sure you want to restart the game?",
        [] {
            // Delivered before this returns, so the game has restarted when the click is heard.
            Engine::ImmediateMessage(std::make_shared<PauseMessage>(kGraphics, UNPAUSE_GAME, 0));
            Engine::ImmediateMessage(std::make_shared<LoadLevelMessage>(kGraphics, "Restart", 4));
            Engine::ImmediateMessage(
                std::make_shared<ShowMenuMessage>(kGraphics, MENU_CONFIRM_RESTART, false));
        },
        [] {
            Show(MENU_CONFIRM_RESTART, false);
            Show(MENU_PAUSE, true);
        });
}

void DrawResultsMenu() {
    // The players' stats, gathered before the window opens; released when this returns.
    std::shared_ptr<PlayerStats> stats[4];
    for (int n = 0; n < 4; ++n)
        if (const std::shared_ptr<Object> player =
                Players::GetPlayer("Player" + std::to_string(n + 1)).lock())
            stats[n] = GetComponentOfType<PlayerStats>(player).lock();

    ScreenFrame("Results", 2.0f, 70.0f, [&] {
        char outcome[16] = {};
        std::string lines[4];
        for (int n = 0; n < 4; ++n) {
            if (!stats[n]) continue;
            std::snprintf(outcome, sizeof outcome, "%s", stats[n]->perished ? "Perished..." : "Escaped!");
            lines[n] = "Player " + std::to_string(n + 1) + ": " + outcome;
        }
        std::deque<int> present;
        for (int n = 0; n < 4; ++n)
            if (stats[n]) present.push_back(n);
        // Each line takes the colour of its own outcome, whichever player comes first.
        const auto line = [&](int n) {
            ImGui::PushStyleColor(ImGuiCol_Text, stats[n]->perished ? kRed : kCyan);
            ImGui::TextUnformatted(lines[n].c_str());
            ImGui::PopStyleColor(1);
        };
        ImGui::PushTextWrapPos(1200 * CurrentScale());
        // With no player there is no first line, and no block below it.
        if (!present.empty()) {
            line(present.front());
            present.pop_front();
            ImGui::Spacing();
            for (; !present.empty(); present.pop_front()) {
                line(present.front());
                ImGui::Spacing();
            }
        }
        ImGui::PopTextWrapPos();
        Button("Results", "Quit Game", Scaled(350, 50), [] {
            Show(MENU_CONFIRM_EXIT_RESULTS, true);
            Show(MENU_RESULTS, false);
        });
    });
}

void DrawExitGameConfirmation2() {
    Confirmation(
        "     Are you sure you want to exit the game?", [] { Quit(); },
        [] {
            Show(MENU_CONFIRM_EXIT_RESULTS, false);
            Show(MENU_RESULTS, true);
        });
}
