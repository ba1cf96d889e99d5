// Real X input reaching a running game: xdotool presses keys, types text, moves
// the mouse, clicks and turns the wheel on the engine's window (scaled to half
// size with bands above and below), and the game writes what args.inputs
// reported in every tick to a file that the test reads.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "e2e/e2e_fixture.h"

using kvn_e2e::Installation;
using kvn_test::Process;

namespace {

constexpr int wait_ms = 30000;

// One line per tick: "tick down=... held=... up=... text=... mouse=x,y click=x,y
// mup=0|1 wheel=y size=window/output/scale" (the size for failure messages).
const char *input_game = R"RUBY(
def names keys
  keys.truthy_keys.map(&:to_s).sort.join(",")
end

def tick args
  i = args.inputs
  k = i.keyboard
  m = i.mouse
  click = m.click ? "#{m.click.x},#{m.click.y}" : ""
  wheel = m.wheel ? m.wheel[:y].to_s : ""
  g = args.grid
  size = "#{g.allscreen_w_pt}x#{g.allscreen_h_pt}/#{g.allscreen_w_px}x#{g.allscreen_h_px}/#{g.texture_scale}"
  line = "#{args.state.tick_count} down=#{names(k.key_down)} held=#{names(k.key_held)} up=#{names(k.key_up)} " \
         "text=#{i.text.join} mouse=#{m.x},#{m.y} click=#{click} mup=#{m.up ? 1 : 0} wheel=#{wheel} size=#{size}\n"
  $kor.ffi_file.append("inputs.txt", line)
  puts "e2e ready" if args.state.tick_count == 2
end
)RUBY";

// HD with a fixed scale ladder: a 640 x 480 window shows the 1280 x 720 game at
// half size with 60-pixel bands above and below, and the engine maps positions
// through that scale and offset itself.
const char *hd_metadata = "devid=e2edev\ndevtitle=E2E Developer\ngameid=inputgame\ngametitle=Input Game\n"
                          "version=1.0\nhd=true\nhd_max_scale=100\n";

struct TickLine {
    std::string down, held, up, text, mouse, click, wheel, size;
    bool mouse_up = false;
};

std::string field(const std::string &line, const std::string &name)
{
    size_t at = line.find(" " + name + "=");
    if (at == std::string::npos) {
        return "";
    }
    at += name.size() + 2;
    size_t end = line.find(' ', at);
    return line.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

bool has_name(const std::string &list, const std::string &name)
{
    std::stringstream stream(list);
    std::string item;
    while (std::getline(stream, item, ',')) {
        if (item == name) {
            return true;
        }
    }
    return false;
}

int xdotool(const std::vector<std::string> &arguments)
{
    kvn_test::ProcessOptions options;
    options.program = "/usr/bin/xdotool";
    options.args = {"xdotool"};
    options.args.insert(options.args.end(), arguments.begin(), arguments.end());
    return kvn_test::run_process(options, 10000).exit_status;
}

unsigned long find_window(pid_t pid)
{
    kvn_test::ProcessOptions options;
    options.program = "/usr/bin/xdotool";
    options.args = {"xdotool", "search", "--onlyvisible", "--pid", std::to_string(pid)};
    for (int attempt = 0; attempt < 100; attempt++) {
        auto result = kvn_test::run_process(options, 10000);
        if (result.exit_status == 0 && !result.out.empty()) {
            return std::stoul(result.out);
        }
        usleep(100 * 1000);
    }
    return 0;
}

class InputXdotool : public testing::Test {
protected:
    void SetUp() override
    {
        if (!kvn_test::os_file_exists("/usr/bin/xdotool")) {
            GTEST_SKIP() << "xdotool is not installed";
        }
        // A display of its own: windows other tests open on a shared display
        // take the input focus away from the game.
        if (kvn_test::os_file_exists("/usr/bin/Xvfb")) {
            kvn_test::ProcessOptions options;
            options.program = "/usr/bin/Xvfb";
            options.args = {"Xvfb", "-displayfd", "1", "-screen", "0", "1280x720x24", "-nolisten", "tcp"};
            x_server_ = std::make_unique<kvn_test::Process>(options);
            ASSERT_TRUE(x_server_->wait_for_output("\n", wait_ms)) << x_server_->err();
            std::string number = x_server_->out().substr(0, x_server_->out().find('\n'));
            setenv("DISPLAY", (":" + number).c_str(), 1);
        }
        if (!getenv("DISPLAY") || !*getenv("DISPLAY")) {
            GTEST_SKIP() << "no X display and no Xvfb to start one";
        }
    }

    std::unique_ptr<kvn_test::Process> x_server_;

    std::vector<TickLine> lines() const
    {
        std::vector<TickLine> result;
        std::stringstream stream(kvn_test::read_os_file(log_path_));
        std::string text;
        while (std::getline(stream, text)) {
            TickLine line;
            line.down = field(text, "down");
            line.held = field(text, "held");
            line.up = field(text, "up");
            line.text = field(text, "text");
            line.mouse = field(text, "mouse");
            line.click = field(text, "click");
            line.wheel = field(text, "wheel");
            line.size = field(text, "size");
            line.mouse_up = field(text, "mup") == "1";
            result.push_back(line);
        }
        return result;
    }

    // Waits until some tick written from index `from` on satisfies the test;
    // returns its index, or -1 when the time is up.
    int wait_for(size_t from, const std::function<bool(const TickLine &)> &test) const
    {
        for (int waited = 0; waited < wait_ms; waited += 20) {
            std::vector<TickLine> all = lines();
            for (size_t i = from; i < all.size(); i++) {
                if (test(all[i])) {
                    return static_cast<int>(i);
                }
            }
            usleep(20 * 1000);
        }
        return -1;
    }

    size_t tick_count() const { return lines().size(); }

    // The last ticks written, for failure messages.
    std::string tail() const
    {
        std::string text = kvn_test::read_os_file(log_path_);
        size_t cut = text.size() > 1500 ? text.find('\n', text.size() - 1500) : 0;
        return "\n--- last ticks:\n" + text.substr(cut == std::string::npos ? 0 : cut);
    }

    std::string last_mouse() const
    {
        std::vector<TickLine> all = lines();
        return all.empty() ? "(no tick written)" : all.back().mouse;
    }

    // Waits until n more ticks were written.
    void wait_ticks(size_t n) const
    {
        size_t target = tick_count() + n;
        for (int waited = 0; waited < wait_ms && tick_count() < target; waited += 10) {
            usleep(10 * 1000);
        }
    }

    std::string log_path_;
};

TEST_F(InputXdotool, KeysTextMouseAndWheelReachTheGameTickByTick)
{
    Installation install;
    std::string game = install.write_game("game", input_game, {}, hd_metadata);
    log_path_ = game + "/inputs.txt";
    auto options = install.options({game});
    options.unset_env = {"SDL_VIDEODRIVER"};
    Process engine(options);
    ASSERT_TRUE(engine.wait_for_output("e2e ready", wait_ms)) << engine.out() << engine.err();

    unsigned long window_id = find_window(engine.pid());
    ASSERT_NE(window_id, 0u) << "no window found for the engine";
    std::string window = std::to_string(window_id);
    ASSERT_EQ(xdotool({"windowsize", "--sync", window, "640", "480"}), 0);
    ASSERT_EQ(xdotool({"windowfocus", "--sync", window}), 0);
    // SDL converts a motion it reads together with the resize through the old
    // renderer size, so the pointer moves only once the game has the new one.
    ASSERT_GE(wait_for(0, [](const TickLine &l) { return l.size == "640x480/640x480/0.5"; }), 0) << tail();

    // Mouse: window pixels are halved, less the 60-pixel band on top, and y is
    // flipped to the grid: window (480, 360) is logical (960, 600), grid (960, 120).
    size_t start = tick_count();
    ASSERT_EQ(xdotool({"mousemove", "--window", window, "480", "360"}), 0);
    int at = wait_for(start, [](const TickLine &l) { return l.mouse == "960,120"; });
    ASSERT_GE(at, 0) << "the mouse never reached (960, 120); last: " << last_mouse() << tail();
    ASSERT_EQ(xdotool({"mousemove", "--window", window, "160", "120"}), 0);
    at = wait_for(at, [](const TickLine &l) { return l.mouse == "320,600"; });
    ASSERT_GE(at, 0) << "the mouse never reached (320, 600); last: " << last_mouse() << tail();

    ASSERT_EQ(xdotool({"click", "1"}), 0);
    int clicked = wait_for(at, [](const TickLine &l) { return !l.click.empty(); });
    ASSERT_GE(clicked, 0) << tail();
    EXPECT_EQ(lines()[clicked].click, "320,600");
    EXPECT_GE(wait_for(clicked, [](const TickLine &l) { return l.mouse_up; }), clicked);

    ASSERT_EQ(xdotool({"click", "4"}), 0);  // X button 4: the wheel turned up
    int wheel = wait_for(clicked, [](const TickLine &l) { return !l.wheel.empty(); });
    ASSERT_GE(wheel, 0) << tail();
    EXPECT_EQ(lines()[wheel].wheel, "1");

    // A held key: down in one tick, held in the following ones, up once.
    start = tick_count();
    ASSERT_EQ(xdotool({"keydown", "a"}), 0);
    int down = wait_for(start, [](const TickLine &l) { return has_name(l.down, "a"); });
    ASSERT_GE(down, 0) << "the key press never arrived" << tail();
    wait_ticks(4);
    ASSERT_EQ(xdotool({"keyup", "a"}), 0);
    int up = wait_for(down, [](const TickLine &l) { return has_name(l.up, "a"); });
    ASSERT_GE(up, 0) << "the key release never arrived" << tail();
    std::vector<TickLine> all = lines();
    EXPECT_FALSE(has_name(all[down].held, "a"));
    for (int i = down + 1; i < up; i++) {
        EXPECT_FALSE(has_name(all[i].down, "a")) << "tick " << i << ": pressed again while held";
        EXPECT_TRUE(has_name(all[i].held, "a")) << "tick " << i;
    }
    EXPECT_GE(up - down, 4);
    wait_ticks(2);
    all = lines();
    for (size_t i = up + 1; i < all.size(); i++) {
        EXPECT_FALSE(has_name(all[i].down, "a") || has_name(all[i].held, "a") || has_name(all[i].up, "a"));
    }

    // Shift names: shift+1 presses the exclamation point and the one.
    start = tick_count();
    ASSERT_EQ(xdotool({"keydown", "shift"}), 0);
    ASSERT_EQ(xdotool({"keydown", "1"}), 0);
    int shifted = wait_for(start, [](const TickLine &l) { return has_name(l.down, "exclamation_point"); });
    ASSERT_GE(shifted, 0) << tail();
    EXPECT_TRUE(has_name(lines()[shifted].down, "one"));
    ASSERT_EQ(xdotool({"keyup", "1"}), 0);
    int released = wait_for(shifted, [](const TickLine &l) { return has_name(l.up, "exclamation_point"); });
    ASSERT_GE(released, 0) << tail();
    EXPECT_TRUE(has_name(lines()[released].up, "one"));
    EXPECT_TRUE(has_name(lines()[released].held, "shift"));
    ASSERT_EQ(xdotool({"keyup", "shift"}), 0);

    // Typed text arrives in order.
    start = tick_count();
    ASSERT_EQ(xdotool({"type", "--delay", "40", "hi!"}), 0);
    ASSERT_GE(wait_for(start, [](const TickLine &l) { return l.text.find('!') != std::string::npos; }), 0) << tail();
    std::string typed;
    for (const TickLine &line : lines()) {
        typed += line.text;
    }
    EXPECT_NE(typed.find("hi!"), std::string::npos) << typed;

    engine.send_signal(SIGINT);
    auto result = engine.wait(wait_ms);
    EXPECT_EQ(result.exit_status, 0) << kvn_e2e::describe(result);
}

} // namespace
