// The real game on a desktop: the executable of this build, started from its Bin/Release as
// scripts/run starts it, on an X server of its own (xvfb-run, 1920 x 1080 x 24, no window manager),
// played with xdotool, watched through screenshots of the whole screen and heard through SDL's disk
// audio driver, which stands in for the sound card.
#include "DiskAudio.h"
#include "Pictures.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using e2e::Picture;
using e2e::Rect;

constexpr auto kDeadline = std::chrono::seconds(120);
// How often an outside state (a file, the screen) is looked at while the game gets there.
constexpr auto kLookAgain = std::chrono::milliseconds(100);
constexpr double kMenuMusicHz = 220, kClickHz = 2000;

bool OnPath(const std::string& tool) {
    return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

// Runs a shell command; its standard output, or nothing when it failed.
std::optional<std::string> Output(const std::string& command) {
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return std::nullopt;
    std::string out;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe))
        out += buffer;
    if (pclose(pipe) != 0) return std::nullopt;
    while (!out.empty() && (out.back() == '\n' || out.back() == ' '))
        out.pop_back();
    return out;
}

// A face of the menus' buttons found on the screen: the block of its rows, and its columns.
struct Face {
    Rect rect;
    int blue = 0; // its pixels of the unlit face
};

// Blocks of rows that hold a wide stretch of button blue, each split into its side-by-side faces.
std::vector<Face> FindFaces(const Picture& screen) {
    std::vector<Face> faces;
    const Rect all{0, 0, screen.width, screen.height};
    for (const e2e::Run& rows : e2e::RowRuns(screen, all, 150, e2e::IsButtonBlue)) {
        if (rows.end - rows.start < 20) continue;
        const Rect band{0, rows.start, screen.width, rows.end - rows.start};
        for (const e2e::Run& columns :
             e2e::ColumnRuns(screen, band, (rows.end - rows.start) / 3, e2e::IsButtonBlue)) {
            if (columns.end - columns.start < 100) continue;
            Face face;
            face.rect = Rect{columns.start, rows.start, columns.end - columns.start, rows.end - rows.start};
            face.blue = e2e::Count(screen, face.rect, e2e::IsButtonBlue);
            faces.push_back(face);
        }
    }
    return faces;
}

// Whether a tenth of the screen differs: the game has moved on from that picture.
bool Changed(const Picture& before, const Picture& now) {
    if (before.width != now.width || before.height != now.height) return !now.Empty();
    std::size_t differing = 0;
    for (std::size_t i = 0; i + 2 < now.rgb.size(); i += 3)
        if (std::abs(int(now.rgb[i]) - int(before.rgb[i])) +
                std::abs(int(now.rgb[i + 1]) - int(before.rgb[i + 1])) +
                std::abs(int(now.rgb[i + 2]) - int(before.rgb[i + 2])) >
            48)
            ++differing;
    return differing * 10 > now.rgb.size() / 3;
}

class Desktop {
public:
    explicit Desktop(const fs::path& captures)
        : mCaptures(captures), mSound(captures / "desktop-sound.raw"), mStart(Clock::now()) {}
    ~Desktop() {
        // Whatever happened, nothing of ours stays behind: the game, its X server and xvfb-run. Asked
        // first, so that the server removes its lock file; killed when it does not go.
        if (mPid <= 0) return;
        kill(-mPid, SIGTERM);
        const auto until = Clock::now() + std::chrono::seconds(5);
        while (waitpid(mPid, nullptr, WNOHANG) == 0 && Clock::now() < until)
            std::this_thread::sleep_for(kLookAgain);
        kill(-mPid, SIGKILL);
        waitpid(mPid, nullptr, WNOHANG);
    }

    std::size_t Played() const { return e2e::DiskAudioFrames(mSound); }
    std::vector<float> Heard() const { return e2e::DiskAudioLeft(mSound); }

    bool TimeLeft() const { return Clock::now() - mStart < kDeadline; }
    double Seconds() const { return std::chrono::duration<double>(Clock::now() - mStart).count(); }

    // Starts xvfb-run with the game as its client, from the game's own folder.
    void Start(const fs::path& game) {
        const fs::path where = mCaptures / "desktop-display.txt";
        fs::remove(where);
        fs::remove(mSound);
        const fs::path log = mCaptures / "desktop-game.log";
        mPid = fork();
        ASSERT_GE(mPid, 0);
        if (mPid == 0) {
            setpgid(0, 0);
            if (chdir(game.parent_path().c_str()) != 0) _exit(101);
            const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (out >= 0) {
                dup2(out, 1);
                dup2(out, 2);
            }
            // The tests run headless; this one has a display of its own.
            unsetenv("SDL_VIDEODRIVER");
            setenv("SDL_AUDIODRIVER", "disk", 1);
            setenv("SDL_DISKAUDIOFILE", mSound.c_str(), 1);
            // The client tells where its server is, so that xdotool and import can reach it.
            const std::string client = "printf '%s\\n%s\\n' \"$DISPLAY\" \"$XAUTHORITY\" > '" +
                                       where.string() + "' && exec ./" + game.filename().string();
            execlp("xvfb-run", "xvfb-run", "-a", "-s", "-screen 0 1920x1080x24 -nolisten tcp", "sh", "-c",
                   client.c_str(), static_cast<char*>(nullptr));
            _exit(102);
        }
        setpgid(mPid, mPid);
        std::string display, authority;
        while (TimeLeft() && display.empty()) {
            std::ifstream in(where);
            std::getline(in, display);
            std::getline(in, authority);
            if (!in) display.clear();
            if (display.empty()) std::this_thread::sleep_for(kLookAgain);
        }
        ASSERT_FALSE(display.empty()) << "xvfb-run did not start the game";
        setenv("DISPLAY", display.c_str(), 1);
        setenv("XAUTHORITY", authority.c_str(), 1);
        std::printf("desktop: the game runs on display %s\n", display.c_str());
    }

    bool Exited(int& status) {
        int raw = 0;
        const pid_t done = waitpid(mPid, &raw, WNOHANG);
        if (done != mPid) return false;
        mPid = -1;
        status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
        return true;
    }

    // The whole screen; saved under `name` when one is given.
    Picture Screen(const std::string& name = "") {
        const fs::path path = mCaptures / (name.empty() ? "desktop-latest.png" : "desktop-" + name + ".png");
        if (std::system(("import -window root '" + path.string() + "' 2>/dev/null").c_str()) != 0) return {};
        return e2e::LoadPicture(path.string());
    }

    bool Tool(const std::string& arguments) {
        return std::system(("timeout 30 xdotool " + arguments + " >/dev/null 2>&1").c_str()) == 0;
    }

    // Looks at the screen until `found` holds, for at most `seconds`.
    template <typename Found> bool Watch(double seconds, Found found) {
        const auto until = Clock::now() + std::chrono::duration<double>(seconds);
        while (TimeLeft() && Clock::now() < until) {
            if (found(Screen())) return true;
            std::this_thread::sleep_for(kLookAgain);
        }
        return false;
    }

    // Clicks a face: points at it until it lights up, presses until it turns white, then lets go.
    void Click(const Face& face, const char* what) {
        const int x = face.rect.x + face.rect.w / 2, y = face.rect.y + face.rect.h / 2;
        ASSERT_TRUE(Tool("mousemove --sync " + std::to_string(x) + " " + std::to_string(y))) << what;
        const int half = face.blue / 2;
        ASSERT_TRUE(
            Watch(10, [&](const Picture& s) { return e2e::Count(s, face.rect, e2e::IsHoveredBlue) > half; }))
            << what << " never lit up under the pointer";
        ASSERT_TRUE(Tool("mousedown 1")) << what;
        const bool pressed = Watch(10, [&](const Picture& s) {
            return e2e::Count(s, face.rect,
                              [](const e2e::Rgb& c) { return c.r > 240 && c.g > 240 && c.b > 240; }) > half;
        });
        ASSERT_TRUE(Tool("mouseup 1")) << what;
        ASSERT_TRUE(pressed) << what << " never showed as pressed";
    }

private:
    fs::path mCaptures;
    fs::path mSound;
    Clock::time_point mStart;
    pid_t mPid = -1;
};

TEST(EndToEnd, Desktop) {
    for (const char* tool : {"xvfb-run", "xauth", "xdotool", "import"})
        ASSERT_TRUE(OnPath(tool)) << tool << " is missing: scripts/bootstrap installs it";
    const fs::path game = TORVIK_GAME;
    ASSERT_TRUE(fs::exists(game)) << game;
    const fs::path captures = TORVIK_CAPTURES;
    fs::create_directories(captures);
    fs::remove(captures / "desktop-summary.txt");

    Desktop desktop(captures);
    desktop.Start(game);
    if (testing::Test::HasFatalFailure()) return;
    const auto window = Output("timeout 60 xdotool search --sync --name '^Torvik$' | head -n 1");
    ASSERT_TRUE(window && !window->empty()) << "no window titled \"Torvik\" appeared";
    ASSERT_TRUE(desktop.Tool("windowfocus --sync " + *window));

    // The game reads its keys once a frame, so each key is held until its effect shows. Enter skips
    // the splash: the picture changes (a later splash would change it too, and is skipped by
    // Escape below). Escape then opens the pause menu; during a splash it only skips, so it is
    // pressed again until the menu shows.
    // Focused, the game enters full screen and its window grows: the splash is taken once it has
    // settled.
    Picture splash;
    const bool settled = desktop.Watch(30, [&](const Picture& screen) {
        const bool same = !splash.Empty() && !screen.Empty() && !Changed(splash, screen);
        splash = screen;
        return same;
    });
    ASSERT_TRUE(settled) << "the splash never settled";
    desktop.Screen("splash");
    ASSERT_TRUE(desktop.Tool("keydown Return"));
    const bool skipped = desktop.Watch(30, [&](const Picture& screen) { return Changed(splash, screen); });
    ASSERT_TRUE(desktop.Tool("keyup Return"));
    ASSERT_TRUE(skipped) << "the splash stayed";
    std::vector<Face> faces;
    const auto pauseShown = [&](const Picture& screen) {
        faces = FindFaces(screen);
        return faces.size() == 5;
    };
    bool paused = false;
    for (int tries = 0; tries < 5 && !paused && desktop.TimeLeft(); ++tries) {
        ASSERT_TRUE(desktop.Tool("keydown Escape"));
        paused = desktop.Watch(10, pauseShown);
        ASSERT_TRUE(desktop.Tool("keyup Escape"));
    }
    ASSERT_TRUE(paused) << "no pause menu of five blue faces appeared";
    desktop.Screen("pause");
    const std::size_t pausedAt = desktop.Played();

    // "Quit Game" is the lowest face; "Yes" the left one of the two side by side.
    desktop.Click(faces.back(), "\"Quit Game\"");
    if (testing::Test::HasFatalFailure()) return;
    const bool asked = desktop.Watch(10, [&](const Picture& screen) {
        faces = FindFaces(screen);
        return faces.size() == 2 && faces[0].rect.y == faces[1].rect.y;
    });
    ASSERT_TRUE(asked) << "no confirmation with two faces appeared";
    desktop.Screen("confirmation");
    desktop.Click(faces[0].rect.x < faces[1].rect.x ? faces[0] : faces[1], "\"Yes\"");
    if (testing::Test::HasFatalFailure()) return;

    int status = -1;
    bool exited = false;
    while (!(exited = desktop.Exited(status)) && desktop.TimeLeft())
        std::this_thread::sleep_for(kLookAgain);
    ASSERT_TRUE(exited) << "the game did not end within " << kDeadline.count() << " s; it is killed";
    // What a player hears: the menu music of the splash, gone with the level's stop all and the pause,
    // and then the click on "Quit Game" (a short sound over 2 kHz). The music's held root is 0.13
    // in its score, 0.09 at the centre pan.
    const std::vector<float> left = desktop.Heard();
    const double music = e2e::LoudestTone(left, 0, pausedAt, kMenuMusicHz, 8192).level;
    const double click = e2e::LoudestTone(left, pausedAt, left.size(), kClickHz, 2048).level;
    EXPECT_GT(music, 0.07) << "no menu music before the pause";
    EXPECT_GT(click, 0.15) << "no click after the pause";
    char summary[256];
    std::snprintf(
        summary, sizeof summary,
        "desktop: the game exited with status %d after %.1f s; it played %zu sample frames, the menu "
        "music at %.3f and the click at %.3f\n",
        status, desktop.Seconds(), left.size(), music, click);
    std::printf("%s", summary);
    std::ofstream(captures / "desktop-summary.txt") << summary;
    EXPECT_EQ(status, 0);
}

} // namespace
