#include <MouseLook.h>

#include <Callable.h>
#include <Engine.h>
#include <GameState.h>
#include <Messages.h>
#include <win32_user_testing.h>

#include <SDL.h>
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

// The window's client area starts at screen (100, 100) and is 1600 x 900: centre (800, 450).
constexpr int kLeft = 100;
constexpr int kTop = 100;

class MouseLookTest : public ::testing::Test {
protected:
    void SetUp() override {
        win32usertest::UseFakeInput();
        ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_VIDEO), 0) << SDL_GetError();
        window = SDL_CreateWindow("Torvik", kLeft, kTop, 1600, 900, SDL_WINDOW_HIDDEN);
        ASSERT_NE(window, nullptr) << SDL_GetError();
        Engine::RegisterListener(MessageType::ControllerID, Callable(this, &MouseLookTest::OnMessage));
        GameState::SetState(GameState::IDLE);
    }
    void TearDown() override {
        Engine::Release();
        if (window) SDL_DestroyWindow(window);
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
        win32usertest::UseRealInput();
        GameState::SetState(GameState::IDLE);
    }
    void OnMessage(const std::shared_ptr<Message>& message) {
        const auto& id = dynamic_cast<const ControllerIDMessage&>(*message);
        EXPECT_EQ(id.GetSender(), L"Mouse");
        EXPECT_EQ(id.GetPlayerNumber(), 0u);
        const auto& look = dynamic_cast<const MouseLookMessage&>(*id.GetWrappedMessage());
        EXPECT_EQ(look.GetSender(), L"Mouse");
        EXPECT_EQ(look.GetPlayerNumber(), 0u);
        looks.push_back({look.GetX(), look.GetY()});
    }
    // Puts the cursor at a client position and runs one update; returns what it sent.
    std::vector<std::pair<float, float>> At(int x, int y, bool enabled = true, HWND handle = nullptr) {
        win32usertest::SetCursorScreenPos(kLeft + x, kTop + y);
        look.Update(enabled, handle ? handle : window);
        Engine::RunFrames(1, 0.0f); // delivers what was relayed
        std::vector<std::pair<float, float>> out;
        out.swap(looks);
        return out;
    }
    static std::vector<std::pair<float, float>> Sent(float x, float y) { return {{x, y}}; }

    SDL_Window* window = nullptr;
    MouseLook look;
    std::vector<std::pair<float, float>> looks;
};

TEST_F(MouseLookTest, OutsidePlayingTheCursorIsOnlyFollowed) {
    EXPECT_TRUE(At(10, 20).empty());
    EXPECT_EQ(look.GetPosition().x, 10);
    EXPECT_EQ(look.GetPosition().y, 20);
    EXPECT_TRUE(At(0, 0).empty()); // at the edge, but nothing is moved
    EXPECT_TRUE(win32usertest::TakeCursorMoves().empty());

    // The first playing frame measures from the last position read before it.
    GameState::SetState(GameState::PLAYING);
    EXPECT_EQ(At(3, 4), Sent(0.6f, -0.8f)); // 3 right and 4 down of (0, 0)
}

TEST_F(MouseLookTest, SendsTheDirectionOfMovementWithUpAndRightPositive) {
    At(800, 450);
    GameState::SetState(GameState::PLAYING);
    struct Case {
        int x, y;
        float sentX, sentY;
    };
    const Case cases[] = {
        {803, 454, 0.6f, -0.8f}, // 3 right, 4 down
        {803, 454, 0.0f, 0.0f},  // still: no direction, and no division by zero
        {703, 454, -1.0f, 0.0f}, {703, 354, 0.0f, 1.0f}, {706, 350, 0.6f, 0.8f},
    };
    for (const Case& c : cases) {
        const auto sent = At(c.x, c.y);
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_FLOAT_EQ(sent[0].first, c.sentX) << c.x << "," << c.y;
        EXPECT_FLOAT_EQ(sent[0].second, c.sentY) << c.x << "," << c.y;
        if (c.sentX == 0.0f && c.sentY == 0.0f) {
            EXPECT_FALSE(std::signbit(sent[0].first)) << "a still mouse sends +0";
            EXPECT_FALSE(std::signbit(sent[0].second)) << "a still mouse sends +0";
        }
    }
    EXPECT_TRUE(win32usertest::TakeCursorMoves().empty());
}

TEST_F(MouseLookTest, AtAnEdgeTheCursorGoesBackToTheCentreLine) {
    At(800, 450);
    GameState::SetState(GameState::PLAYING);
    struct Case {
        int x, y;
        std::vector<POINT> moves; // screen positions
    };
    const Case cases[] = {
        {0, 300, {{kLeft + 800, kTop + 300}}},
        {-40, 300, {{kLeft + 800, kTop + 300}}},
        {1599, 300, {{kLeft + 800, kTop + 300}}},
        {1598, 300, {}},
        {500, 0, {{kLeft + 500, kTop + 450}}},
        {500, 899, {{kLeft + 500, kTop + 450}}},
        {500, 898, {}},
        // Both edges: the last move wins, at (x read, centre y).
        {1600, -3, {{kLeft + 800, kTop - 3}, {kLeft + 1600, kTop + 450}}},
    };
    for (const Case& c : cases) {
        At(800, 450);
        win32usertest::TakeCursorMoves();
        At(c.x, c.y);
        const auto moves = win32usertest::TakeCursorMoves();
        ASSERT_EQ(moves.size(), c.moves.size()) << c.x << "," << c.y;
        for (std::size_t i = 0; i < moves.size(); ++i) {
            EXPECT_EQ(moves[i].x, c.moves[i].x) << c.x << "," << c.y;
            EXPECT_EQ(moves[i].y, c.moves[i].y) << c.x << "," << c.y;
        }
        // The stored position is the one read, not the re-centred one.
        EXPECT_EQ(look.GetPosition().x, c.x);
        EXPECT_EQ(look.GetPosition().y, c.y);
    }
}

TEST_F(MouseLookTest, TheFrameAfterARecentringReportsTheWayBack) {
    At(10, 450);
    GameState::SetState(GameState::PLAYING);
    EXPECT_EQ(At(0, 450), Sent(-1.0f, 0.0f));
    // The fake cursor now sits where SetCursorPos put it: on the centre line.
    look.Update(true, window);
    Engine::RunFrames(1, 0.0f);
    ASSERT_EQ(looks.size(), 1u);
    EXPECT_FLOAT_EQ(looks[0].first, 1.0f);
    EXPECT_FLOAT_EQ(looks[0].second, 0.0f);
}

TEST_F(MouseLookTest, DisabledItStillKeepsTheCursorInsideButSendsNothing) {
    At(800, 450);
    GameState::SetState(GameState::PLAYING);
    EXPECT_TRUE(At(0, 450, false).empty());
    EXPECT_EQ(win32usertest::TakeCursorMoves().size(), 1u);
    EXPECT_EQ(look.GetDelta().x, 800);
    EXPECT_EQ(look.GetDelta().y, 0);
}

TEST_F(MouseLookTest, ANullHandleMeansTheForegroundWindow) {
    win32usertest::SetCursorScreenPos(kLeft + 800, kTop + 450);
    look.Update(true, nullptr);
    EXPECT_EQ(look.GetPosition().x, 800);
    GameState::SetState(GameState::PLAYING);
    win32usertest::SetCursorScreenPos(kLeft + 1599, kTop + 450);
    look.Update(true, nullptr);
    EXPECT_EQ(look.GetCentre().x, 800);
    EXPECT_EQ(look.GetCentre().y, 450);
    EXPECT_EQ(win32usertest::TakeCursorMoves().size(), 1u);
}

} // namespace
