#include "GuiTestSupport.h"

#include <ui/Hud.h>
#include <ui/MenuScreens.h>
#include <ui/Menus.h>

#include <cstdio>
#include <map>
#include <set>

namespace {

using guitest::GuiTest;

std::string Narrow(const std::wstring& w) {
    return std::string(w.begin(), w.end());
}

// Every message the screens can send, as one line: "<sender> <what> <fields>", with "!" in front when
// it was delivered at once, inside the GUI frame, rather than relayed after it.
class Log {
public:
    Log() {
        for (MessageType type : kTypes)
            Engine::RegisterListener(type, Callable(this, &Log::OnMessage));
    }
    ~Log() {
        for (MessageType type : kTypes)
            Engine::UnregisterListener(type, Callable(this, &Log::OnMessage));
    }
    void OnMessage(const std::shared_ptr<Message>& m) {
        std::string line = (GImGui->WithinFrameScope ? "!" : "") + Narrow(m->GetSender()) + " ";
        char buffer[160];
        if (const auto* s = dynamic_cast<const ShowMenuMessage*>(m.get())) {
            std::snprintf(buffer, sizeof buffer, "show %d %d", int(s->GetType()), int(s->IsVisible()));
        } else if (const auto* l = dynamic_cast<const LoadLevelMessage*>(m.get())) {
            std::snprintf(buffer, sizeof buffer, "load %s %d", l->GetFileName().c_str(), l->GetPlayers());
        } else if (const auto* p = dynamic_cast<const PauseMessage*>(m.get())) {
            std::snprintf(buffer, sizeof buffer, "pause %d %u", int(p->GetType()),
                          unsigned(p->GetObjectID()));
        } else if (const auto* e = dynamic_cast<const PostSoundEventMessage*>(m.get())) {
            std::snprintf(buffer, sizeof buffer, "sound %08X%s", unsigned(e->GetEventID()),
                          e->GetGameObject() ? " object" : "");
        } else if (const auto* r = dynamic_cast<const SoundRTPCMessage*>(m.get())) {
            std::snprintf(buffer, sizeof buffer, "rtpc %s %g%s", r->GetName().c_str(), double(r->GetValue()),
                          r->GetGameObject() ? " object" : "");
        } else if (const auto* f = dynamic_cast<const FullScreenMessage*>(m.get())) {
            std::snprintf(buffer, sizeof buffer, "fullscreen %d", int(f->GetFullScreen()));
        } else {
            std::snprintf(buffer, sizeof buffer, "type %d", int(m->GetMessageType()));
        }
        lines.push_back(line + buffer);
    }
    std::vector<std::string> Take() {
        std::vector<std::string> out;
        out.swap(lines);
        return out;
    }
    std::vector<std::string> lines;

private:
    static constexpr MessageType kTypes[] = {
        MessageType::ShowMenu,  MessageType::LoadLevel,  MessageType::Pause, MessageType::PostSoundEvent,
        MessageType::SoundRTPC, MessageType::FullScreen, MessageType::Quit};
};

const std::string kClick = "Menus sound FF0B3D05";
const std::string kHover = "Menus sound F9BB515D";

class MenuScreensTest : public GuiTest {
protected:
    void SetUp() override {
        GuiTest::SetUp();
        ResetMenuValuesForTest();
        Park();
        mLog = std::make_unique<Log>();
    }
    void TearDown() override {
        mLog.reset();
        SetGuiTextureLookup(nullptr);
        ResetMenuValuesForTest();
        GuiTest::TearDown();
    }
    Menus& TheMenus() { return *mGraphics->mMenus; }
    void Show(eMENUTYPE type, bool visible = true) {
        Engine::ImmediateMessage(std::make_shared<ShowMenuMessage>(L"Test", type, visible));
    }
    // Shows one screen alone and lets it size and centre itself (a window that sizes itself to its
    // contents settles over a few frames).
    void Open(eMENUTYPE type) {
        Show(MENU_ALL, false);
        Show(type);
        Frame(6);
        mLog->Take();
    }
    // The pointer away from every window.
    void Park() {
        ImGui::GetIO().MousePos = ImVec2(1, 1);
        ImGui::GetIO().MouseDown[0] = false;
    }
    ImVec2 Centre(const std::string& label) {
        const auto& rects = MenuWidgetRects();
        const auto it = rects.find(label);
        EXPECT_NE(it, rects.end()) << label;
        if (it == rects.end()) return ImVec2(-100, -100);
        return ImVec2((it->second.min.x + it->second.max.x) / 2, (it->second.min.y + it->second.max.y) / 2);
    }
    void MoveTo(const std::string& label) {
        ImGui::GetIO().MousePos = Centre(label);
        Frame(2);
    }
    // Press in one frame, release in the next, with the pointer already on the widget; what the click
    // sent, without the hover sound of moving there.
    std::vector<std::string> Click(const std::string& label) {
        MoveTo(label);
        mLog->Take();
        ImGui::GetIO().MouseDown[0] = true;
        Frame();
        ImGui::GetIO().MouseDown[0] = false;
        Frame();
        return mLog->Take();
    }

    std::unique_ptr<Log> mLog;
};

struct ClickCase {
    eMENUTYPE screen;
    const char* label;
    std::vector<std::string> sent;
};

TEST_F(MenuScreensTest, EveryButtonSendsItsActionsThenTheClick) {
    const std::vector<ClickCase> table = {
        {MENU_MAIN, "Play Game", {"Graphics show 0 0", "Graphics load PlayerJoin 0", kClick}},
        {MENU_MAIN, "Options", {"Graphics show 2 1", kClick}},
        {MENU_MAIN, "Exit", {"Graphics show 7 1", kClick}},
        {MENU_LOBBY, "Back", {"Graphics load MainMenu 0", kClick}},
        {MENU_LOBBY, "Start Game", {"Graphics load abcBuildings 4", "Graphics show 1 0", kClick}},
        {MENU_OPTIONS, "Back", {"Graphics show 2 0", "Graphics show 5 1", kClick}},
        {MENU_HOWTOPLAY, "Back", {"Graphics show 3 0", "Graphics show 5 1", kClick}},
        {MENU_CREDITS, "Back", {"Graphics show 4 0", "Graphics show 5 1", kClick, "Menus sound F5D36B26"}},
        {MENU_PAUSE, "Resume Game", {"Graphics pause 1 0", kClick}},
        {MENU_PAUSE, "How To Play", {"Graphics show 3 1", "Graphics show 5 0", kClick}},
        {MENU_PAUSE, "Options", {"Graphics show 2 1", "Graphics show 5 0", kClick}},
        {MENU_PAUSE, "Credits", {"Graphics show 4 1", "Graphics show 5 0", kClick, "Menus sound 9A5F2038"}},
        {MENU_PAUSE, "Quit Game", {"Graphics show 7 1", "Graphics show 5 0", kClick}},
        {MENU_CONFIRM_MAIN, "Yes", {"Graphics load MainMenu 0", "Graphics show 6 0", kClick}},
        {MENU_CONFIRM_MAIN, "No", {"Graphics show 6 0", "Graphics show 5 1", kClick}},
        {MENU_CONFIRM_EXIT, "No", {"Graphics show 7 0", "Graphics show 5 1", kClick}},
        {MENU_CONFIRM_RESTART,
         "Yes",
         {"!Graphics pause 1 0", "!Graphics load Restart 4", "!Graphics show 8 0", kClick}},
        {MENU_CONFIRM_RESTART, "No", {"Graphics show 8 0", "Graphics show 5 1", kClick}},
        {MENU_RESULTS, "Quit Game", {"Graphics show 10 1", "Graphics show 9 0", kClick}},
        {MENU_CONFIRM_EXIT_RESULTS, "No", {"Graphics show 10 0", "Graphics show 9 1", kClick}},
    };
    for (const ClickCase& c : table) {
        Open(c.screen);
        EXPECT_EQ(Click(c.label), c.sent) << "screen " << c.screen << " \"" << c.label << "\"";
        Park();
    }
}

// "Yes" on either exit confirmation ends the loop, so each has a run of its own.
TEST_F(MenuScreensTest, ExitYesRelaysOneQuitAndTheClick) {
    Open(MENU_CONFIRM_EXIT);
    EXPECT_EQ(Click("Yes"), (std::vector<std::string>{"Graphics type 13", kClick}));
}

TEST_F(MenuScreensTest, ExitFromTheResultsYesRelaysOneQuitAndTheClick) {
    Open(MENU_CONFIRM_EXIT_RESULTS);
    EXPECT_EQ(Click("Yes"), (std::vector<std::string>{"Graphics type 13", kClick}));
}

TEST_F(MenuScreensTest, RestartYesHasRestartedAndHiddenTheConfirmationBeforeTheClickIsRelayed) {
    Open(MENU_CONFIRM_RESTART);
    MoveTo("Yes");
    mLog->Take();
    ImGui::GetIO().MouseDown[0] = true;
    Frame();
    ImGui::GetIO().MouseDown[0] = false;
    std::size_t deliveredInFrame = 0;
    Menus::SetDrawObserver([&](eMENUTYPE) { deliveredInFrame = mLog->lines.size(); });
    Frame();
    Menus::SetDrawObserver({});
    const std::vector<std::string> sent = mLog->Take();
    ASSERT_EQ(sent.size(), 4u);
    EXPECT_EQ(deliveredInFrame, 0u);
    EXPECT_EQ(sent[0], "!Graphics pause 1 0");
    EXPECT_EQ(sent[3], kClick);
    EXPECT_FALSE(TheMenus().mRecords[MENU_CONFIRM_RESTART].visible);
    Frame();
    EXPECT_EQ(Window("Confirmation"), nullptr);
}

TEST_F(MenuScreensTest, TheHoverSoundPlaysOncePerEntry) {
    Open(MENU_MAIN);
    MoveTo("Play Game");
    EXPECT_EQ(mLog->Take(), (std::vector<std::string>{kHover}));
    Frame(10);
    EXPECT_TRUE(mLog->Take().empty());
    Park();
    Frame();
    MoveTo("Play Game");
    EXPECT_EQ(mLog->Take(), (std::vector<std::string>{kHover}));
    // Already on it: the click brings only its own sounds.
    ImGui::GetIO().MouseDown[0] = true;
    Frame();
    ImGui::GetIO().MouseDown[0] = false;
    Frame();
    EXPECT_EQ(mLog->Take(),
              (std::vector<std::string>{"Graphics show 0 0", "Graphics load PlayerJoin 0", kClick}));
}

TEST_F(MenuScreensTest, TheVolumeIncreaseButtonsHaveTheirOwnHoverSound) {
    Open(MENU_OPTIONS);
    for (const char* label : {"-->", "==>"}) {
        MoveTo(label);
        EXPECT_EQ(mLog->Take(), (std::vector<std::string>{"Menus sound 44A6CADC"})) << label;
    }
    for (const char* label : {"<--", "<==", "Mute Music", "Back"}) {
        MoveTo(label);
        EXPECT_EQ(mLog->Take(), (std::vector<std::string>{kHover})) << label;
    }
}

TEST_F(MenuScreensTest, VolumesStayWithinTheirBoundsAndAreSentOnEveryClick) {
    Open(MENU_OPTIONS);
    const std::string up = "Graphics rtpc Music_Ambience_Bus_Volume 100";
    EXPECT_EQ(Click("-->"), (std::vector<std::string>{up, kClick}));
    for (int i = 0; i < 20; ++i)
        Click("<--");
    EXPECT_EQ(CurrentMenuValues().musicVolume, 0.0f);
    EXPECT_EQ(Click("<--"), (std::vector<std::string>{"Graphics rtpc Music_Ambience_Bus_Volume 0", kClick}));
    std::vector<std::string> sent;
    for (int i = 0; i < 3; ++i)
        sent = Click("<==");
    EXPECT_EQ(sent, (std::vector<std::string>{"Graphics rtpc SFX_VO_Bus_Volume 85", kClick}));
    char shown[16];
    std::snprintf(shown, sizeof shown, " %3.0f ", double(CurrentMenuValues().sfxVolume));
    EXPECT_STREQ(shown, "  85 ");
}

TEST_F(MenuScreensTest, TheCheckBoxesPostTheirEventsOnEachChange) {
    Open(MENU_OPTIONS);
    EXPECT_EQ(Click("Mute Music"), (std::vector<std::string>{"Graphics sound 205DA04D", kClick}));
    EXPECT_EQ(Click("Mute Music"), (std::vector<std::string>{"Graphics sound 3474117A", kClick}));
    EXPECT_EQ(Click("Mute SFX"), (std::vector<std::string>{"Graphics sound 63C39CE1", kClick}));
    EXPECT_EQ(Click("Mute SFX"), (std::vector<std::string>{"Graphics sound 305775FC", kClick}));
    EXPECT_EQ(Click("Fullscreen"), (std::vector<std::string>{"ImGui fullscreen 0", kClick}));
    EXPECT_EQ(Click("Fullscreen"), (std::vector<std::string>{"ImGui fullscreen 1", kClick}));
    // No change, no event: frames with the pointer resting on a box send nothing.
    Frame(5);
    EXPECT_TRUE(mLog->Take().empty());
}

TEST_F(MenuScreensTest, TheLobbyKeepsTheChosenLevel) {
    Open(MENU_LOBBY);
    Click("Choose Level: ");
    // The open list: its second entry is "Arena".
    Frame();
    ImGuiWindow* popup = nullptr;
    for (ImGuiWindow* w : GImGui->Windows)
        if ((w->Flags & ImGuiWindowFlags_Popup) && w->Active) popup = w;
    ASSERT_NE(popup, nullptr);
    const float line = popup->CalcFontSize() + GImGui->Style.ItemSpacing.y;
    ImGui::GetIO().MousePos = ImVec2(popup->DC.CursorStartPos.x + 10,
                                     popup->DC.CursorStartPos.y + line + popup->CalcFontSize() / 2);
    Frame();
    ImGui::GetIO().MouseDown[0] = true;
    Frame();
    ImGui::GetIO().MouseDown[0] = false;
    Frame(2);
    EXPECT_EQ(CurrentMenuValues().chosenLevel, 1);
    EXPECT_EQ(Click("Start Game"),
              (std::vector<std::string>{"Graphics load Arena 4", "Graphics show 1 0", kClick}));
    Open(MENU_LOBBY);
    EXPECT_EQ(CurrentMenuValues().chosenLevel, 1);
    EXPECT_EQ(Click("Start Game"),
              (std::vector<std::string>{"Graphics load Arena 4", "Graphics show 1 0", kClick}));
}

// The vertices of the results window, with their colours, in drawing order.
std::vector<ImDrawVert> WindowVertices(const std::string& name) {
    ImGuiWindow* w = ImGui::FindWindowByName(name.c_str());
    std::vector<ImDrawVert> out;
    if (!w) return out;
    for (const ImDrawVert& v : w->DrawList->VtxBuffer)
        out.push_back(v);
    return out;
}

// Top and bottom of the glyphs drawn in `colour`; top > bottom when there are none.
std::pair<float, float> Span(const std::vector<ImDrawVert>& vertices, ImU32 colour) {
    float top = 1e9f, bottom = -1e9f;
    for (const ImDrawVert& v : vertices)
        if (v.col == colour) {
            top = std::min(top, v.pos.y);
            bottom = std::max(bottom, v.pos.y);
        }
    return {top, bottom};
}

struct ResultsCase {
    const char* name;
    // Per player 1 to 4: ' ' absent, 'E' escaped, 'P' perished.
    const char* outcomes;
};

TEST_F(MenuScreensTest, EachResultsLineTakesTheColourOfItsOwnOutcome) {
    const ImU32 cyan = IM_COL32(0, 255, 255, 255), red = IM_COL32(255, 0, 0, 255);
    const std::vector<ResultsCase> table = {
        {"all perished", "PPPP"}, {"all escaped", "EEEE"}, {"mixed", "PE P"}, {"only player 2", " E  "}};
    for (const ResultsCase& c : table) {
        SCOPED_TRACE(c.name);
        Engine::mFactory->DestroyAllObjects();
        std::size_t escapedGlyphs = 0, perishedGlyphs = 0;
        for (int n = 1; n <= 4; ++n) {
            if (c.outcomes[n - 1] == ' ') continue;
            MakePlayer(n)->perished = c.outcomes[n - 1] == 'P';
            // Glyphs only: blanks draw no quad.
            (c.outcomes[n - 1] == 'P' ? perishedGlyphs : escapedGlyphs) +=
                std::string(c.outcomes[n - 1] == 'P' ? "Player1:Perished..." : "Player1:Escaped!").size();
        }
        Open(MENU_RESULTS);
        const auto vertices = WindowVertices("Results");
        std::size_t cyanVertices = 0, redVertices = 0;
        for (const ImDrawVert& v : vertices) {
            cyanVertices += v.col == cyan;
            redVertices += v.col == red;
        }
        EXPECT_EQ(cyanVertices / 4, escapedGlyphs);
        EXPECT_EQ(redVertices / 4, perishedGlyphs);
    }
    // Player 1 perished, 2 escaped, 4 perished: the lines keep the players' order.
    Engine::mFactory->DestroyAllObjects();
    MakePlayer(1)->perished = true;
    MakePlayer(2)->perished = false;
    MakePlayer(4)->perished = true;
    Open(MENU_RESULTS);
    const auto vertices = WindowVertices("Results");
    const auto cyanSpan = Span(vertices, cyan), redSpan = Span(vertices, red);
    EXPECT_LT(redSpan.first, cyanSpan.first);
    EXPECT_LT(cyanSpan.second, redSpan.second);
}

TEST_F(MenuScreensTest, ResultsWithoutPlayersDrawNoLinesAndStillQuit) {
    auto object = Engine::mFactory->CreateGenericObject().lock();
    object->SetName("Player1"); // a player without PlayerStats
    Open(MENU_RESULTS);
    const auto vertices = WindowVertices("Results");
    EXPECT_GT(Span(vertices, IM_COL32(0, 255, 255, 255)).first,
              Span(vertices, IM_COL32(0, 255, 255, 255)).second);
    EXPECT_EQ(Click("Quit Game"),
              (std::vector<std::string>{"Graphics show 10 1", "Graphics show 9 0", kClick}));
}

// A real 1 x 1 view, since the picture is rendered.
ID3D11ShaderResourceView*& PictureView() {
    static ID3D11ShaderResourceView* view = nullptr;
    return view;
}
ID3D11ShaderResourceView* Picture(ResourceHub*, const std::string& name) {
    return name == "controlScreen.png" ? PictureView() : nullptr;
}

// The rectangle of the vertices drawn with `texture` in the window.
ImRect TexturedRect(const std::string& window, ImTextureID texture) {
    ImRect r(1e9f, 1e9f, -1e9f, -1e9f);
    ImGuiWindow* w = ImGui::FindWindowByName(window.c_str());
    for (const ImDrawCmd& cmd : w->DrawList->CmdBuffer) {
        if (cmd.TextureId != texture) continue;
        for (unsigned i = 0; i < cmd.ElemCount; ++i) {
            const ImDrawVert& v =
                w->DrawList->VtxBuffer[int(cmd.VtxOffset + w->DrawList->IdxBuffer[int(cmd.IdxOffset + i)])];
            r.Add(v.pos);
        }
    }
    return r;
}

TEST_F(MenuScreensTest, TheHowToPlayPictureIsHalfTheDisplayAndFollowsItsSize) {
    D3D11_TEXTURE2D_DESC desc{
        1, 1, 1, 1, DXGI_FORMAT_R8G8B8A8_UNORM, {1, 0}, D3D11_USAGE_DEFAULT, D3D11_BIND_SHADER_RESOURCE,
        0, 0};
    const uint32_t white = 0xFFFFFFFF;
    D3D11_SUBRESOURCE_DATA data{&white, 4, 0};
    ID3D11Texture2D* texture = nullptr;
    ASSERT_EQ(mDevice->GetD3DDevice()->CreateTexture2D(&desc, &data, &texture), S_OK);
    ASSERT_EQ(mDevice->GetD3DDevice()->CreateShaderResourceView(texture, nullptr, &PictureView()), S_OK);
    texture->Release();
    SetGuiTextureLookup(Picture);
    Open(MENU_HOWTOPLAY);
    ImRect r = TexturedRect("How To Play", Picture(nullptr, "controlScreen.png"));
    EXPECT_EQ(r.GetWidth(), 800.0f);
    EXPECT_EQ(r.GetHeight(), 450.0f);
    SDL_SetWindowSize(static_cast<SDL_Window*>(GuiBackend().window), 1280, 720);
    Frame();
    r = TexturedRect("How To Play", Picture(nullptr, "controlScreen.png"));
    EXPECT_EQ(r.GetWidth(), 640.0f);
    EXPECT_EQ(r.GetHeight(), 360.0f);
    Show(MENU_ALL, false);
    Frame();
    PictureView()->Release();
    PictureView() = nullptr;
}

TEST_F(MenuScreensTest, EveryScreenIsCentredOnBlackWithBlueButtons) {
    const std::pair<eMENUTYPE, const char*> screens[] = {
        {MENU_MAIN, "Main Menu"},
        {MENU_LOBBY, "Join Lobby"},
        {MENU_OPTIONS, "Options"},
        {MENU_HOWTOPLAY, "How To Play"},
        {MENU_CREDITS, "Credits"},
        {MENU_PAUSE, "Pause Menu"},
        {MENU_CONFIRM_MAIN, "Confirmation"},
        {MENU_CONFIRM_EXIT, "Confirmation"},
        {MENU_CONFIRM_RESTART, "Confirmation"},
        {MENU_RESULTS, "Results"},
        {MENU_CONFIRM_EXIT_RESULTS, "Confirmation"},
    };
    const std::map<eMENUTYPE, const char*> buttons = {
        {MENU_MAIN, "Exit"},
        {MENU_LOBBY, "Start Game"},
        {MENU_OPTIONS, "Back"},
        {MENU_HOWTOPLAY, "Back"},
        {MENU_CREDITS, "Back"},
        {MENU_PAUSE, "Quit Game"},
        {MENU_CONFIRM_MAIN, "No"},
        {MENU_CONFIRM_EXIT, "No"},
        {MENU_CONFIRM_RESTART, "No"},
        {MENU_RESULTS, "Quit Game"},
        {MENU_CONFIRM_EXIT_RESULTS, "No"},
    };
    for (const auto& [type, name] : screens) {
        Open(type);
        ImGuiWindow* w = Window(name);
        ASSERT_NE(w, nullptr) << name;
        EXPECT_NEAR(w->Pos.x, 800 - w->Size.x / 2, 1.0) << name;
        EXPECT_NEAR(w->Pos.y, 450 - w->Size.y / 2, 1.0) << name;
        const std::vector<uint32_t> pixels = BackBuffer();
        // Just inside the window's top left corner: the black fill, also at the default fill alpha.
        EXPECT_TRUE(Near(At(pixels, int(w->Pos.x) + 2, int(w->Pos.y) + 2), 0, 0, 0, 0))
            << name << " " << Describe(At(pixels, int(w->Pos.x) + 2, int(w->Pos.y) + 2));
        const MenuWidgetRect button = MenuWidgetRects().at(buttons.at(type));
        const uint32_t face = At(pixels, int(button.min.x) + 3, int(button.max.y) - 3);
        EXPECT_TRUE(Near(face, 0, 128, 255, 0)) << name << " " << Describe(face);
    }
}

TEST_F(MenuScreensTest, APauseMenuUnderAHiddenCursorStillTakesClicksAndTheGuiDrawsNoCursor) {
    Engine::ImmediateMessage(std::make_shared<DisplayCursorMessage>(L"GameLogic", false));
    Open(MENU_PAUSE);
    EXPECT_EQ(Click("Resume Game"), (std::vector<std::string>{"Graphics pause 1 0", kClick}));
    EXPECT_FALSE(ImGui::GetIO().MouseDrawCursor);
}

TEST_F(MenuScreensTest, BadInputSendsNothingTwiceAndNeverFails) {
    // Types outside the screens: nothing drawn.
    Show(eMENUTYPE(11));
    Show(eMENUTYPE(-1));
    Frame();
    for (const Menus::Record& r : TheMenus().mRecords)
        EXPECT_FALSE(r.visible);
    // Clicks outside every window.
    Open(MENU_PAUSE);
    ImGui::GetIO().MouseDown[0] = true;
    Frame();
    ImGui::GetIO().MouseDown[0] = false;
    Frame();
    EXPECT_TRUE(mLog->Take().empty());
    // A press and a release within one frame: the library sees neither, and nothing is sent twice.
    MoveTo("Resume Game");
    mLog->Take();
    ImGui::GetIO().MouseDown[0] = true;
    ImGui::GetIO().MouseDown[0] = false;
    Frame(2);
    EXPECT_TRUE(mLog->Take().empty());
    // Two screens at once: both drawn, the one shown last in front.
    Show(MENU_OPTIONS);
    Frame(3);
    ASSERT_NE(Window("Pause Menu"), nullptr);
    ASSERT_NE(Window("Options"), nullptr);
    EXPECT_EQ(GImGui->Windows.back()->Name, std::string("Options"));
    // A display of 0 x 0.
    SDL_SetWindowSize(static_cast<SDL_Window*>(GuiBackend().window), 0, 0);
    Frame(2);
}

} // namespace

namespace {

TEST_F(MenuScreensTest, DownAndUpMoveTheKeyboardNavigation) {
    Open(MENU_PAUSE);
    const auto press = [this](int virtualKey) {
        ImGui::GetIO().KeysDown[virtualKey] = true;
        Frame();
        ImGui::GetIO().KeysDown[virtualKey] = false;
        Frame();
        return GImGui->NavId;
    };
    const ImGuiID first = press(VK_DOWN);
    const ImGuiID second = press(VK_DOWN);
    EXPECT_NE(first, 0u);
    EXPECT_NE(second, 0u);
    EXPECT_NE(first, second);
    EXPECT_EQ(press(VK_UP), first);
}

} // namespace

namespace {

// The menus are clicked: with the navigation on a button, no key works it.
TEST_F(MenuScreensTest, NoKeyWorksAMenuButton) {
    for (const eMENUTYPE screen : {MENU_PAUSE, MENU_MAIN, MENU_CONFIRM_EXIT, MENU_OPTIONS}) {
        SCOPED_TRACE(int(screen));
        Open(screen);
        for (const int key : {VK_ESCAPE, VK_DOWN, VK_SPACE, VK_RETURN, VK_SPACE}) {
            ImGui::GetIO().KeysDown[key] = true;
            Frame();
            ImGui::GetIO().KeysDown[key] = false;
            Frame();
        }
        EXPECT_NE(GImGui->NavId, 0u) << "the navigation is on a button";
        // The arrows move the highlight, which is heard as a hover; nothing else is sent.
        std::vector<std::string> sent = mLog->Take();
        std::erase(sent, kHover);
        EXPECT_EQ(sent, std::vector<std::string>{});
    }
}

} // namespace

namespace {

// Each volume label stands clear of its first button, and each arrow button holds its whole caption.
TEST_F(MenuScreensTest, VolumeRowsKeepTheirLabelsApartAndTheirCaptionsWhole) {
    Open(MENU_OPTIONS);
    ImGuiWindow* options = Window("Options");
    ASSERT_NE(options, nullptr);
    const float fontSize = options->CalcFontSize();
    const ImVec2 padding = ImGui::GetStyle().FramePadding;
    const auto& rects = MenuWidgetRects();
    for (const auto& [label, first] : {std::pair{"Music Volume", "<--"}, std::pair{"SFX Volume  ", "<=="}}) {
        ASSERT_TRUE(rects.count(label) && rects.count(first)) << label;
        EXPECT_GE(rects.at(first).min.x - rects.at(label).max.x, fontSize / 4) << label;
    }
    for (const char* caption : {"<--", "-->", "<==", "==>"}) {
        ASSERT_TRUE(rects.count(caption)) << caption;
        const MenuWidgetRect& r = rects.at(caption);
        const ImVec2 text = GImGui->Font->CalcTextSizeA(fontSize, FLT_MAX, 0.0f, caption);
        EXPECT_GE(r.max.x - r.min.x, text.x + 2 * padding.x) << caption;
        EXPECT_GE(r.max.y - r.min.y, text.y + 2 * padding.y) << caption;
    }
}

} // namespace

namespace {

// Every button of every screen lies inside the window, at the smallest size the window can take and
// at the game's own size.
TEST_F(MenuScreensTest, EveryButtonOfEveryScreenIsInsideTheSmallestWindow) {
    auto* window = static_cast<SDL_Window*>(GuiBackend().window);
    MakePlayer(1);
    for (const auto& [w, h] : {std::pair{1, 1}, std::pair{1600, 900}}) {
        SDL_SetWindowSize(window, w, h);
        int width = 0, height = 0;
        SDL_GetWindowSize(window, &width, &height);
        if (w == 1) {
            EXPECT_EQ(width, WindowSystem::kMinimumWidth);
            EXPECT_EQ(height, WindowSystem::kMinimumHeight);
        }
        for (int screen = MENU_MAIN; screen <= MENU_CONFIRM_EXIT_RESULTS; ++screen) {
            SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(height) + ", screen " +
                         std::to_string(screen));
            ClearMenuWidgetRects();
            Open(eMENUTYPE(screen));
            EXPECT_FALSE(MenuWidgetRects().empty());
            for (const auto& [label, r] : MenuWidgetRects()) {
                EXPECT_GE(r.min.x, 0.0f) << label;
                EXPECT_GE(r.min.y, 0.0f) << label;
                EXPECT_LE(r.max.x, float(width)) << label;
                EXPECT_LE(r.max.y, float(height)) << label;
            }
        }
    }
}

} // namespace
