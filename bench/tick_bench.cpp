// Tick pacing of the running engine: an almost empty game prints a time stamp at
// the start of every tick; from those come the interval statistics of the 60 Hz
// schedule, the back-to-back catch-up ticks after a 100 ms stall injected into
// one tick, and, from the engine's spam-level pool line, the stream allocations
// per frame in the steady state (the target is zero).
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int warmup_ticks = 60;
constexpr int steady_ticks = 300;
constexpr int stall_tick = 420;
constexpr int last_tick = 600;
constexpr double period_ms = 1000.0 / 60.0;

const char *bench_game =
    "def tick args\n"
    "  now = Time.now\n"
    "  puts \"T #{args.state.tick_count} #{now.to_i} #{now.usec}\"\n"
    "  if args.state.tick_count == STALL_TICK\n"
    "    start = Time.now\n"
    "    while Time.now - start < 0.1\n"
    "    end\n"
    "  end\n"
    "  $kor.request_quit if args.state.tick_count == LAST_TICK\n"
    "end\n";

std::string quote(const std::string &text)
{
    std::string quoted = "'";
    for (char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

bool write_file(const std::string &path, const std::string &text)
{
    FILE *file = fopen(path.c_str(), "wb");
    if (!file) {
        return false;
    }
    bool ok = fwrite(text.data(), 1, text.size(), file) == text.size();
    return fclose(file) == 0 && ok;
}

std::string replace_all(std::string text, const std::string &from, const std::string &to)
{
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

double percentile(std::vector<double> values, double fraction)
{
    std::sort(values.begin(), values.end());
    size_t index = static_cast<size_t>(std::ceil(fraction * static_cast<double>(values.size())));
    return values[index > 0 ? index - 1 : 0];
}

struct PoolSample {
    unsigned long long allocations;
    int global_tick;
};

} // namespace

int main()
{
    char pattern[] = "/tmp/korvane-tick-bench-XXXXXX";
    if (!mkdtemp(pattern)) {
        perror("mkdtemp");
        return 1;
    }
    std::string root = pattern;
    std::string game = root + "/game";
    std::string source = replace_all(replace_all(bench_game, "STALL_TICK", std::to_string(stall_tick)),
                                     "LAST_TICK", std::to_string(last_tick));
    mkdir(game.c_str(), 0700);
    mkdir((game + "/app").c_str(), 0700);
    mkdir((game + "/metadata").c_str(), 0700);
    if (!write_file(game + "/app/main.rb", source) ||
        !write_file(game + "/metadata/game_metadata.txt",
                    "devid=bench\ndevtitle=Bench\ngameid=benchgame\ngametitle=Tick Bench\nversion=1\n")) {
        fprintf(stderr, "cannot write the bench game under %s\n", root.c_str());
        return 1;
    }
    // The engine runs from a private copy so its logs stay in the temporary root.
    std::string executable = KORVANE_EXECUTABLE;
    std::string build_dir = executable.substr(0, executable.find_last_of('/'));
    std::string setup = "cp " + quote(executable) + " " + quote(root + "/korvane") + " && (cp " +
                        quote(build_dir + "/font.ttf") + " " + quote(root) + " 2>/dev/null || true)";
    if (system(setup.c_str()) != 0) {
        fprintf(stderr, "cannot copy the engine\n");
        return 1;
    }

    std::string command = "SDL_VIDEODRIVER=offscreen SDL_AUDIODRIVER=dummy KORVANE_NO_DIALOGS=1 " +
                          quote(root + "/korvane") + " " + quote(game) + " --set log.level spam 2>&1";
    FILE *engine = popen(command.c_str(), "r");
    if (!engine) {
        perror("popen");
        return 1;
    }
    std::vector<double> start_ms(last_tick + 1, -1.0);
    std::vector<PoolSample> pool;
    char line[4096];
    while (fgets(line, sizeof line, engine)) {
        int tick = 0;
        long long seconds = 0, micros = 0;
        unsigned long long allocations = 0;
        int global_tick = 0;
        if (sscanf(line, "T %d %lld %lld", &tick, &seconds, &micros) == 3 && tick >= 0 && tick <= last_tick) {
            start_ms[static_cast<size_t>(tick)] = static_cast<double>(seconds) * 1000.0 + micros / 1000.0;
        } else if (const char *at = strstr(line, "Stream pool allocations: ");
                   at && sscanf(at, "Stream pool allocations: %llu (global tick %d)", &allocations, &global_tick) == 2) {
            pool.push_back({allocations, global_tick});
        }
    }
    int status = pclose(engine);
    system(("rm -rf " + quote(root)).c_str());
    if (status != 0) {
        fprintf(stderr, "the engine ended with status %d\n", status);
        return 1;
    }
    for (int tick = 0; tick <= last_tick; tick++) {
        if (start_ms[static_cast<size_t>(tick)] < 0) {
            fprintf(stderr, "tick %d was not reported\n", tick);
            return 1;
        }
    }

    std::vector<double> deviations;
    for (int tick = warmup_ticks + 1; tick <= warmup_ticks + steady_ticks; tick++) {
        double interval = start_ms[static_cast<size_t>(tick)] - start_ms[static_cast<size_t>(tick - 1)];
        deviations.push_back(std::fabs(interval - period_ms));
    }
    printf("tick interval over %d ticks, deviation from %.3f ms: median %.3f ms, 99th percentile %.3f ms\n",
           steady_ticks, period_ms, percentile(deviations, 0.5), percentile(deviations, 0.99));

    // The stalled tick's successor starts late; the ones after it run back to
    // back (well under half a period apart) until the schedule is met again.
    int catch_up = 0;
    for (int tick = stall_tick + 2; tick <= last_tick; tick++) {
        double interval = start_ms[static_cast<size_t>(tick)] - start_ms[static_cast<size_t>(tick - 1)];
        if (interval >= period_ms / 2) {
            break;
        }
        catch_up++;
    }
    printf("after a 100 ms stall: %.1f ms to the next tick, then %d back-to-back catch-up ticks (about 5 expected)\n",
           start_ms[stall_tick + 1] - start_ms[stall_tick], catch_up);

    // Steady state: the pool samples between warm-up and the stall.
    const PoolSample *first = nullptr;
    const PoolSample *last = nullptr;
    for (const PoolSample &sample : pool) {
        if (sample.global_tick >= warmup_ticks && sample.global_tick < stall_tick) {
            if (!first) {
                first = &sample;
            }
            last = &sample;
        }
    }
    if (first && last && last->global_tick > first->global_tick) {
        unsigned long long grown = last->allocations - first->allocations;
        int frames = last->global_tick - first->global_tick;
        printf("stream pool allocations in the steady state: %llu over %d frames (%.3f per frame, target 0)\n", grown,
               frames, static_cast<double>(grown) / frames);
    } else {
        printf("stream pool allocations: too few samples (%zu)\n", pool.size());
    }
    return 0;
}
