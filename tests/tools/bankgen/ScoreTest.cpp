// Scores: what a malformed one is told, and the loops' seam.
#include <bankgen/Score.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace bankgen {
namespace {

TEST(Score, AMalformedScoreIsRefusedWithItsReason) {
    const struct {
        const char* json;
        const char* reason;
    } cases[] = {
        {"[1, 2]", "not a JSON object"},
        {"{\"seconds\": 1}", "no \"layers\""},
        {"{\"seconds\": 0, \"layers\": [{\"noise\": 1}]}", "\"seconds\" is outside"},
        {"{\"layers\": [{\"notes\": [[0, 1, 0]]}]}", "no \"partials\""},
        {"{\"layers\": [{\"partials\": [[0, 1]], \"notes\": [[0, 1, 0]]}]}", "a partial is not"},
        {"{\"layers\": [{\"partials\": [[1, 1]]}]}", "no \"notes\""},
        {"{\"layers\": [{\"partials\": [[1, 1]], \"notes\": [[0, 1]]}]}", "a note is not"},
        {"{\"layers\": [{\"partials\": [[1, 1]], \"notes\": [[-1, 1, 0]]}]}", "starts before 0"},
        {"{\"layers\": [{\"noise\": -3}]}", "not a seed"},
        {"{\"layers\": [{\"noise\": 3, \"gain\": 2}]}", "\"gain\" is outside"},
        {"{\"loop\": 1, \"layers\": [{\"noise\": 3}]}", "\"loop\" is not"},
    };
    for (const auto& c : cases) {
        Score score;
        std::string error;
        EXPECT_FALSE(ParseScore(c.json, score, error)) << c.json;
        EXPECT_NE(error.find(c.reason), std::string::npos) << c.json << ": " << error;
    }
}

// The largest sample-to-sample change of a loop played twice: within it, and where it starts again.
std::pair<double, double> Steps(const std::vector<float>& loop) {
    double within = 0;
    for (std::size_t n = 1; n < loop.size(); ++n)
        within = std::max(within, double(std::abs(loop[n] - loop[n - 1])));
    return {within, std::abs(loop.front() - loop.back())};
}

// A loop ends where it begins: a held note of a frequency that does not fit the loop is tuned to one
// that does, a note ringing past the end goes on at the start, and filtered noise is periodic.
TEST(Score, ALoopRunsFromItsEndIntoItsStartWithoutAStep) {
    const char* cases[] = {
        // 1001.3 Hz would leave a third of a cycle over at the end.
        R"({"seconds": 0.5, "root": 1001.3, "loop": true,
            "layers": [{"partials": [[1, 1]], "gain": 0.5, "notes": [[0, 1, 0]]}]})",
        // A note held into the end with a slow release.
        R"({"seconds": 0.5, "tempo": 60, "root": 440, "loop": true,
            "layers": [{"partials": [[1, 1]], "gain": 0.5, "release": 0.2, "notes": [[0.2, 0.3, 0]]}]})",
        R"({"seconds": 0.5, "loop": true, "layers": [{"noise": 5, "low": 50, "high": 200, "gain": 0.2}]})",
    };
    for (const char* json : cases) {
        Score score;
        std::string error;
        ASSERT_TRUE(ParseScore(json, score, error)) << error;
        const std::vector<float> samples = RenderScore(score, 48000);
        ASSERT_EQ(samples.size(), 24000u);
        const auto [within, seam] = Steps(samples);
        EXPECT_GT(within, 0.0) << json;
        EXPECT_LE(seam, 1.01 * within) << json;
    }
}

} // namespace
} // namespace bankgen
