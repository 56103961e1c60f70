#include "ResourceTestSupport.h"

#include <resources/DXTexture.h>
#include <resources/ResourceHub.h>

namespace {

class DXTextureTest : public restest::ResourceTest {};

TEST_F(DXTextureTest, UnreadableFilesKeepASamplerAndAreFoundByName) {
    WriteResource("Textures", "zero.png", "");
    ResourceHub hub(mDevice.get(), 0);
    struct Case {
        const char* name;
        const char* text; // the HRESULT's system text
    };
    const Case cases[] = {{"absent.png", ""}, {"zero.png", ""}};
    for (const Case& c : cases) {
        ::testing::internal::CaptureStdout();
        hub.LoadResource(c.name, RESOURCE_TEXTURE);
        const std::string out = ::testing::internal::GetCapturedStdout();
        const std::string head = "LOADING TEXTURE: " + std::string(c.name) +
                                 "\nFAILED TO LOAD TEXTURE: ..\\..\\Resources\\Textures\\" + c.name + "\n";
        EXPECT_EQ(out.rfind(head, 0), 0u) << out;
        // Then one line of the HRESULT's text.
        const std::string rest = out.substr(head.size());
        EXPECT_GT(rest.size(), 1u) << out;
        EXPECT_EQ(rest.find('\n'), rest.size() - 1) << out;
        auto* texture = dynamic_cast<DXTexture*>(hub.mTextureManager->GetResource(c.name));
        ASSERT_NE(texture, nullptr) << c.name;
        EXPECT_EQ(texture->mName, c.name);
        EXPECT_EQ(texture->mView, nullptr);
        EXPECT_NE(texture->mSampler, nullptr);
    }
    EXPECT_TRUE(Reports().empty());
}

TEST_F(DXTextureTest, TwoTexturesOfOneFileAreTwoViewsWithTheGamesSampler) {
    d3d11test::RecordCalls(true);
    DXTexture a("a"), b("b");
    a.LoadTextureFromFile(mDevice.get(), "..\\..\\Resources\\Textures\\keyHUDicon.png");
    b.LoadTextureFromFile(mDevice.get(), "..\\..\\Resources\\Textures\\keyHUDicon.png");
    ASSERT_NE(a.mView, nullptr);
    ASSERT_NE(b.mView, nullptr);
    EXPECT_NE(a.mView, b.mView);
    EXPECT_EQ(d3d11test::ReadPixel(a.mView, 1, 1), d3d11test::ReadPixel(b.mView, 1, 1));
    const auto samplers = Named(d3d11test::TakeCalls(), "CreateSamplerState");
    ASSERT_EQ(samplers.size(), 2u);
    // Filter, three addresses, bias, anisotropy, comparison, min and max level of detail.
    const std::vector<double> expected = {0x15, 1, 1, 1, 0, 0, 1, 0, double(D3D11_FLOAT32_MAX)};
    EXPECT_EQ(samplers[0].args, expected);
}

} // namespace
