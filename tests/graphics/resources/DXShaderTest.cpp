#include "ResourceTestSupport.h"

#include <resources/DXShader.h>

#include <cstdio>

namespace {

using restest::Report;

class DXShaderTest : public restest::ResourceTest {};

// Each broken file: the console line per failed compile, the compiler's text to the debugger, the
// fatal report, and the objects made from the blobs that exist. (A file that only warns needs a real
// compiler, which the stand-in is not.)
TEST_F(DXShaderTest, BrokenFilesAreReportedThreeWays) {
    WriteResource("Shaders", "emptyshader.fx", "");
    // The stem picks the built-in program, so the broken file keeps a known name in a folder of its own.
    WriteResource("Shaders/vsonly", "defaultshader.fx",
                  "float4 VS(float4 p : POSITION) : SV_POSITION { return p; }\n");
    struct Case {
        const char* file;
        bool vertexBlob;
        std::string console;
        std::string debugger;
        std::vector<Report> reports;
    };
    const std::string dir = "..\\..\\Resources\\Shaders\\";
    const std::string missing = dir + "missingshader.fx";
    const std::string empty = dir + "emptyshader.fx";
    const std::string vsOnly = dir + "vsonly\\defaultshader.fx";
    const std::string notFound = std::to_string(long(HRESULT(0x80070002)));
    const std::string fail = std::to_string(long(E_FAIL));
    const std::string entryText = [&](const char* entry) {
        return "../../Resources/Shaders/emptyshader.fx(1,1): error X3501: '" + std::string(entry) +
               "': entrypoint not found\n";
    }("VS");
    const Case cases[] = {
        {"missingshader.fx",
         false,
         "FAILED TO LOAD SHADER: " + missing + ", code: " + notFound,
         "\n\n",
         {{"", true, "DXShader::LoadShaderFromFile", "DXShader", 95},
          {"", true, "DXShader::LoadShaderFromFile", "DXShader", 129}}},
        {"emptyshader.fx",
         false,
         "FAILED TO LOAD SHADER: " + empty + ", code: " + fail,
         "entrypoint not found",
         {{entryText, true, "DXShader::LoadShaderFromFile", "DXShader", 95},
          {"../../Resources/Shaders/emptyshader.fx(1,1): error X3501: 'PS': entrypoint not found\n", true,
           "DXShader::LoadShaderFromFile", "DXShader", 129}}},
        {"vsonly\\defaultshader.fx",
         true,
         "FAILED TO LOAD SHADER: " + vsOnly + ", code: " + fail,
         "'PS': entrypoint not found\n\n",
         {{"../../Resources/Shaders/vsonly/defaultshader.fx(1,1): error X3501: 'PS': entrypoint not found\n",
           true, "DXShader::LoadShaderFromFile", "DXShader", 129}}},
    };
    for (const Case& c : cases) {
        mErrors.clear();
        DXShader shader("s");
        ::testing::internal::CaptureStdout();
        ::testing::internal::CaptureStderr();
        shader.LoadShaderFromFile(mDevice.get(), dir + c.file);
        const std::string out = ::testing::internal::GetCapturedStdout();
        const std::string err = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(out.rfind(c.console, 0), 0u) << out;
        // The console line has no line end of its own: the HRESULT's text follows at once.
        EXPECT_NE(out[c.console.size()], '\n') << out;
        EXPECT_NE(err.find(c.debugger), std::string::npos) << err;
        EXPECT_EQ(Reports(), c.reports) << c.file;
        EXPECT_EQ(shader.mVertexBlob != nullptr, c.vertexBlob) << c.file;
        EXPECT_EQ(shader.mVertexShader != nullptr, c.vertexBlob) << c.file;
        EXPECT_EQ(shader.mInputLayout != nullptr, c.vertexBlob) << c.file;
        EXPECT_EQ(shader.mPixelBlob, nullptr);
        EXPECT_EQ(shader.mPixelShader, nullptr);
    }
}

TEST_F(DXShaderTest, CompilesBothStagesAndMakesTheSevenElementLayout) {
    d3d11test::RecordCalls(true);
    DXShader shader("textureshader");
    shader.LoadShaderFromFile(mDevice.get(), "..\\..\\Resources\\Shaders\\textureshader.fx");
    const auto calls = d3d11test::TakeCalls();
    const auto compiles = Named(calls, "D3DX11CompileFromFileW");
    ASSERT_EQ(compiles.size(), 2u);
    EXPECT_EQ(compiles[0].text, "..\\..\\Resources\\Shaders\\textureshader.fx|VS|vs_5_0");
    EXPECT_EQ(compiles[1].text, "..\\..\\Resources\\Shaders\\textureshader.fx|PS|ps_5_0");
    for (const auto& c : compiles)
        EXPECT_EQ(c.args, (std::vector<double>{0x48010, 0}));
    const auto layouts = Named(calls, "CreateInputLayout");
    ASSERT_EQ(layouts.size(), 1u);
    EXPECT_EQ(layouts[0].text, "POSITION,COLOR,NORMAL,TEXCOORD,BLENDINDICES,BLENDWEIGHT,TEXTUREINDEX");
    const double formats[] = {2, 2, 6, 16, 3, 2, 42};
    const double offsets[] = {0, 16, 32, 44, 52, 68, 84};
    const auto& a = layouts[0].args;
    ASSERT_EQ(a.size(), 1u + 7 * 4);
    EXPECT_EQ(a[0], 7);
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(a[1 + 4 * i], formats[i]) << i;
        EXPECT_EQ(a[2 + 4 * i], 0) << i;
        EXPECT_EQ(a[3 + 4 * i], offsets[i]) << i;
        EXPECT_EQ(a[4 + 4 * i], 0) << i;
    }
    EXPECT_NE(shader.mVertexShader, nullptr);
    EXPECT_NE(shader.mPixelShader, nullptr);
    EXPECT_NE(shader.mInputLayout, nullptr);
    EXPECT_TRUE(Reports().empty());
}

} // namespace
