#include "SceneTestSupport.h"

namespace {

using scenetest::SceneTest;
using scenetest::Vector3;

class Viewports : public SceneTest {};

struct Rect {
    float x, y, w, h;
    bool operator==(const Rect&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Rect& r) {
    return out << "(" << r.x << ", " << r.y << ", " << r.w << ", " << r.h << ")";
}
Rect Of(const D3D11_VIEWPORT& v) {
    return {v.TopLeftX, v.TopLeftY, v.Width, v.Height};
}

// One row per window size: the one-player box, the two halves, the three- and four-player quadrants.
TEST_F(Viewports, LayoutTable) {
    struct Case {
        unsigned w, h;
        Rect one, twoFirst, twoSecond;
        Rect three[3];
        Rect four[4];
    };
    const Case cases[] = {
        {1600,
         900,
         {0, 0, 1600, 900},
         {192, 0, 1215, 449},
         {192, 450, 1215, 449},
         {{401, 0, 798, 449}, {0, 451, 798, 449}, {802, 451, 798, 449}},
         {{0, 0, 798, 449}, {802, 0, 798, 449}, {0, 451, 798, 449}, {802, 451, 798, 449}}},
        // 16:9 exactly.
        {1920,
         1080,
         {0, 0, 1920, 1080},
         {231, 0, 1458, 538},
         {231, 540, 1458, 538},
         {{481, 0, 958, 538}, {0, 542, 958, 538}, {962, 542, 958, 538}},
         {{0, 0, 958, 538}, {962, 0, 958, 538}, {0, 542, 958, 538}, {962, 542, 958, 538}}},
        // Taller: letterboxed to 1280 x 720 at y 152; the halves are 27:20 of the width.
        {1280,
         1024,
         {0, 152, 1280, 720},
         {0, 39, 1280, 473},
         {0, 513, 1280, 473},
         {{321, 152, 638, 359}, {0, 513, 638, 359}, {642, 513, 638, 359}},
         {{0, 152, 638, 359}, {642, 152, 638, 359}, {0, 513, 638, 359}, {642, 513, 638, 359}}},
        // Wider: pillarboxed, 1600 wide centred at 480.
        {2560,
         900,
         {480, 0, 1600, 900},
         {672, 0, 1215, 449},
         {672, 450, 1215, 449},
         {{881, 0, 798, 449}, {480, 451, 798, 449}, {1282, 451, 798, 449}},
         {{480, 0, 798, 449}, {1282, 0, 798, 449}, {480, 451, 798, 449}, {1282, 451, 798, 449}}},
        // Within the 0.01 test of 16:9 (a = 100.5625, b = 100.556): the whole window.
        {1609,
         905,
         {0, 0, 1609, 905},
         {194, 0, 1221, 451},
         {194, 452, 1221, 451},
         {{403, 0, 802, 451}, {0, 454, 802, 451}, {807, 454, 802, 451}},
         {{0, 0, 802, 451}, {807, 0, 802, 451}, {0, 454, 802, 451}, {807, 454, 802, 451}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.w) + " x " + std::to_string(c.h));
        mDevice->LayoutViewports(c.w, c.h);
        EXPECT_EQ(Of(mDevice->ViewportRecord(0)), (Rect{0, 0, float(c.w), float(c.h)}));
        EXPECT_EQ(Of(mDevice->ViewportRecord(1)), c.one);
        EXPECT_EQ(Of(mDevice->ViewportRecord(2)), c.twoFirst);
        EXPECT_EQ(Of(mDevice->ViewportRecord(3)), c.twoSecond);
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(Of(mDevice->ViewportRecord(4 + i)), c.three[i]) << "three, " << i;
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(Of(mDevice->ViewportRecord(7 + i)), c.four[i]) << "four, " << i;
    }
}

TEST_F(Viewports, PlayerViewportPerCount) {
    struct Case {
        unsigned count;
        int records[6]; // players 0 to 5: the record index, -1 for none
    };
    const Case cases[] = {
        {0, {-1, -1, -1, -1, -1, -1}}, {1, {-1, 1, -1, -1, -1, -1}}, {2, {3, 2, 3, 3, 3, 3}},
        {3, {-1, 4, 5, 6, -1, -1}},    {4, {-1, 7, 8, 9, 10, -1}},   {5, {-1, -1, -1, -1, -1, -1}},
    };
    for (const Case& c : cases) {
        mDevice->SetPlayerCount(c.count);
        for (unsigned n = 0; n < 6; ++n) {
            const D3D11_VIEWPORT* v = mDevice->GetPlayerViewport(n);
            if (c.records[n] < 0)
                EXPECT_EQ(v, nullptr) << c.count << " players, n " << n;
            else
                EXPECT_EQ(v, &mDevice->ViewportRecord(c.records[n])) << c.count << " players, n " << n;
        }
    }
}

TEST_F(Viewports, CameraSizesFollowSlotAndCount) {
    std::shared_ptr<Camera> cameras[5];
    for (unsigned slot = 0; slot < 5; ++slot) {
        cameras[slot] = AddCamera(Vector3(0, 0, float(slot)));
        mDevice->SetPlayerCamera(cameras[slot], slot);
    }
    struct Case {
        unsigned count;
        unsigned sizes[5][2];
    };
    const Case cases[] = {
        {1, {{1600, 900}, {1600, 900}, {798, 449}, {798, 449}, {798, 449}}},
        {2, {{1600, 900}, {1215, 449}, {1215, 449}, {798, 449}, {798, 449}}},
        {3, {{1600, 900}, {798, 449}, {798, 449}, {798, 449}, {798, 449}}},
        {0, {{1600, 900}, {1600, 900}, {798, 449}, {798, 449}, {798, 449}}},
    };
    for (const Case& c : cases) {
        mDevice->SetPlayerCount(c.count);
        for (unsigned slot = 0; slot < 5; ++slot) {
            EXPECT_EQ(cameras[slot]->GetCameraWidth(), c.sizes[slot][0])
                << c.count << " players, slot " << slot;
            EXPECT_EQ(cameras[slot]->GetCameraHeight(), c.sizes[slot][1])
                << c.count << " players, slot " << slot;
        }
    }
}

// Slots outside 0 to 4 store nothing; a camera without a target is not given a slot.
TEST_F(Viewports, SlotsOutsideTheTableAreRefused) {
    auto camera = AddCamera(Vector3(0, 0, 5));
    for (unsigned player : {5u, 100u, unsigned(-1)}) {
        ::testing::internal::CaptureStdout();
        mDevice->SetPlayerCamera(camera, player);
        EXPECT_EQ(::testing::internal::GetCapturedStdout(),
                  "No player slot " + std::to_string(player) + ": player cameras go in slots 0 to 4\n");
    }
    for (unsigned slot = 0; slot < 5; ++slot)
        EXPECT_EQ(mDevice->PlayerSlot(slot), nullptr);
    auto object = MakeObject(Vector3(0, 0, 0));
    auto stray = Give<Camera>(object, "Camera");
    mDevice->SetPlayerCamera(stray, 1);
    EXPECT_EQ(mDevice->PlayerSlot(1), nullptr);
    mDevice->SetPlayerCamera(camera, 1);
    EXPECT_EQ(mDevice->PlayerSlot(1), camera.get());
    // Removing it clears its slot; removing a camera never added does nothing.
    mDevice->RemoveCamera(stray);
    mDevice->RemoveCamera(camera);
    EXPECT_EQ(mDevice->PlayerSlot(1), nullptr);
    EXPECT_TRUE(mDevice->CameraTargets().empty());
}

} // namespace
