// Janitor job threads: sizing, queue routing and order, the main-thread queue, the
// inline fallback without workers, and shutdown.
#include "net/janitor.h"
#include "stream/sdl_alloc_failure.h"

#include <gtest/gtest.h>

#include <SDL.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

int current_nice() { return getpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid))); }

std::string current_thread_name() {
    char name[32] = {};
    pthread_getname_np(pthread_self(), name, sizeof name);
    return name;
}

// What a job saw of the thread it ran on.
struct Probe {
    std::string thread_name;
    int nice = 0;
    SDL_threadID thread = 0;
    std::atomic<int> runs{0};
};

void probe_job(void *arg) {
    auto *p = static_cast<Probe *>(arg);
    p->thread_name = current_thread_name();
    p->nice = current_nice();
    p->thread = SDL_ThreadID();
    p->runs++;
}

void count_job(void *arg) { ++*static_cast<std::atomic<int> *>(arg); }

// Jobs that append their tag to a shared log, to check order.
struct OrderLog {
    std::mutex mutex;
    std::string text;
};
struct Tagged {
    OrderLog *log;
    char tag;
};
void tag_job(void *arg) {
    auto *t = static_cast<Tagged *>(arg);
    std::lock_guard<std::mutex> lock(t->log->mutex);
    t->log->text += t->tag;
}

// Holds a worker until released (bounded, so a broken test cannot hang).
struct Gate {
    SDL_sem *entered = SDL_CreateSemaphore(0);
    SDL_sem *release = SDL_CreateSemaphore(0);
    ~Gate() {
        SDL_DestroySemaphore(entered);
        SDL_DestroySemaphore(release);
    }
};
void gate_job(void *arg) {
    auto *g = static_cast<Gate *>(arg);
    SDL_SemPost(g->entered);
    SDL_SemWaitTimeout(g->release, 5000);
}

class JanitorTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { // SDL's own lazy set-up, before counting
        SDL_GetTicks();
        SDL_ClearError();
    }
    void TearDown() override { janitor_quit(); }
};

TEST_F(JanitorTest, SizedFromProcessorCount) {
    struct Case {
        int cpus;
        int workers;
    };
    const Case cases[] = {{1, 1}, {2, 1}, {4, 1}, {5, 2}, {6, 3}, {7, 4}, {8, 4}, {64, 4}};
    const int normal_nice = current_nice();
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.cpus) + " cpus");
        ASSERT_EQ(janitor_init_for_cpus(c.cpus), 1);
        EXPECT_EQ(janitor_thread_count(), c.workers);

        // The last worker runs at low priority, the others at normal priority.
        Probe last, first;
        ASSERT_EQ(janitor_queue_job(probe_job, &last, janitor_queue_last, 0), 1);
        ASSERT_EQ(janitor_queue_job(probe_job, &first, 1, 0), 1);
        janitor_wait_until_idle(janitor_queue_last);
        janitor_wait_until_idle(1);
        EXPECT_EQ(last.thread_name, "janitor" + std::to_string(c.workers));
        EXPECT_GT(last.nice, normal_nice);
        EXPECT_EQ(first.thread_name, "janitor1");
        if (c.workers > 1) {
            EXPECT_EQ(first.nice, normal_nice);
        }
        janitor_quit();
        EXPECT_EQ(janitor_thread_count(), 0);
    }
}

TEST_F(JanitorTest, SelectorsRouteToTheirWorker) {
    ASSERT_EQ(janitor_init_for_cpus(8), 1);
    ASSERT_EQ(janitor_thread_count(), 4);
    struct Case {
        int selector;
        const char *thread; // null: any worker
    };
    const Case cases[] = {{1, "janitor1"}, {2, "janitor2"}, {3, "janitor3"}, {4, "janitor4"},
                          {-1, "janitor4"}, {0, nullptr},     {5, nullptr},    {-2, nullptr},
                          {1000, nullptr}};
    for (const Case &c : cases) {
        SCOPED_TRACE("selector " + std::to_string(c.selector));
        Probe p;
        ASSERT_EQ(janitor_queue_job(probe_job, &p, c.selector, 0), 1);
        janitor_wait_until_idle(c.selector);
        ASSERT_EQ(p.runs.load(), 1);
        if (c.thread) {
            EXPECT_EQ(p.thread_name, c.thread);
        } else {
            EXPECT_EQ(p.thread_name.rfind("janitor", 0), 0u) << p.thread_name;
        }
    }
}

TEST_F(JanitorTest, OneWorkerServesItsOwnAndTheSharedQueue) {
    ASSERT_EQ(janitor_init_for_cpus(2), 1);
    Probe p;
    ASSERT_EQ(janitor_queue_job(probe_job, &p, janitor_queue_shared, 0), 1);
    janitor_wait_until_idle(janitor_queue_shared);
    EXPECT_EQ(p.thread_name, "janitor1");
}

TEST_F(JanitorTest, WorkerRunsItsQueueInOrderWithAtFront) {
    ASSERT_EQ(janitor_init_for_cpus(2), 1);
    Gate gate;
    OrderLog log;
    Tagged a{&log, 'A'}, b{&log, 'B'}, c{&log, 'C'}, d{&log, 'D'};
    ASSERT_EQ(janitor_queue_job(gate_job, &gate, 1, 0), 1);
    ASSERT_EQ(SDL_SemWaitTimeout(gate.entered, 5000), 0);
    janitor_queue_job(tag_job, &a, 1, 0);
    janitor_queue_job(tag_job, &b, 1, 0);
    janitor_queue_job(tag_job, &c, 1, 1);
    janitor_queue_job(tag_job, &d, 1, 0);
    SDL_SemPost(gate.release);
    janitor_wait_until_idle(1);
    EXPECT_EQ(log.text, "CABD");
}

TEST_F(JanitorTest, MainThreadQueueRunsOnlyInTickOnTheInitThread) {
    ASSERT_EQ(janitor_init_for_cpus(4), 1);
    OrderLog log;
    Tagged a{&log, 'A'}, b{&log, 'B'}, c{&log, 'C'};
    Probe p;
    ASSERT_EQ(janitor_queue_job(tag_job, &a, janitor_queue_main, 0), 1);
    ASSERT_EQ(janitor_queue_job(tag_job, &b, janitor_queue_main, 0), 1);
    ASSERT_EQ(janitor_queue_job(tag_job, &c, janitor_queue_main, 1), 1);
    ASSERT_EQ(janitor_queue_job(probe_job, &p, janitor_queue_main, 0), 1);

    std::thread([] { janitor_tick(); }).join(); // a tick on another thread runs nothing
    EXPECT_EQ(log.text, "");

    janitor_tick();
    EXPECT_EQ(log.text, "CAB");
    EXPECT_EQ(p.thread, SDL_ThreadID());
    janitor_tick();
    EXPECT_EQ(p.runs.load(), 1) << "a job runs once";
}

// A job that queues its successor on the main-thread queue: each tick runs one
// generation, so a self-requeueing job cannot hold up the render loop.
struct Chain {
    int remaining;
    int runs = 0;
};
void chain_job(void *arg) {
    auto *c = static_cast<Chain *>(arg);
    c->runs++;
    if (--c->remaining > 0) {
        janitor_queue_job(chain_job, c, janitor_queue_main, 0);
    }
}

TEST_F(JanitorTest, JobsQueuedDuringTickWaitForTheNextTick) {
    ASSERT_EQ(janitor_init_for_cpus(2), 1);
    Chain chain{3};
    janitor_queue_job(chain_job, &chain, janitor_queue_main, 0);
    janitor_tick();
    EXPECT_EQ(chain.runs, 1);
    janitor_wait_until_idle(janitor_queue_main);
    EXPECT_EQ(chain.runs, 3);
}

TEST_F(JanitorTest, WithoutWorkersJobsRunInlineOnTheMainThread) {
    // Let SDL's allocator fail after k allocations until the set-up starts no worker
    // at all; k = 0 must fail the whole init without leaking.
    bool found = false;
    for (long k = 0; k < 64 && !found; k++) {
        const int before = SDL_GetNumAllocations();
        int ok;
        {
            SdlAllocFailure fail(k);
            ok = janitor_init_for_cpus(8);
        }
        if (k == 0) {
            EXPECT_EQ(ok, 0);
            EXPECT_EQ(SDL_GetNumAllocations(), before);
        }
        if (ok && janitor_thread_count() == 0) {
            found = true;
        } else {
            janitor_quit();
        }
    }
    ASSERT_TRUE(found) << "no allocation budget left the janitor without workers";

    Probe shared, last, out_of_range;
    ASSERT_EQ(janitor_queue_job(probe_job, &shared, janitor_queue_shared, 0), 1);
    ASSERT_EQ(janitor_queue_job(probe_job, &last, janitor_queue_last, 0), 1);
    ASSERT_EQ(janitor_queue_job(probe_job, &out_of_range, 3, 0), 1);
    std::thread([] { janitor_tick(); }).join();
    EXPECT_EQ(shared.runs.load() + last.runs.load() + out_of_range.runs.load(), 0);

    janitor_tick();
    for (Probe *p : {&shared, &last, &out_of_range}) {
        EXPECT_EQ(p->runs.load(), 1);
        EXPECT_EQ(p->thread, SDL_ThreadID());
    }

    // Shutting down runs what is still pending.
    std::atomic<int> ran{0};
    janitor_queue_job(count_job, &ran, janitor_queue_shared, 0);
    janitor_quit();
    EXPECT_EQ(ran.load(), 1);
}

TEST_F(JanitorTest, QueueingFailsWhenTheJobCannotBeAllocated) {
    ASSERT_EQ(janitor_init_for_cpus(2), 1);
    std::atomic<int> ran{0};
    {
        SdlAllocFailure fail(0);
        EXPECT_EQ(janitor_queue_job(count_job, &ran, janitor_queue_shared, 0), 0);
        EXPECT_EQ(janitor_queue_job(count_job, &ran, janitor_queue_main, 0), 0);
    }
    EXPECT_EQ(janitor_queue_job(nullptr, &ran, janitor_queue_shared, 0), 0);
    janitor_tick();
    janitor_wait_until_idle(janitor_queue_shared);
    EXPECT_EQ(ran.load(), 0);
}

struct QuitProbe {
    int result = -1;
};
void try_queue_shared(void *arg) {
    static std::atomic<int> unused{0};
    static_cast<QuitProbe *>(arg)->result = janitor_queue_job(count_job, &unused, janitor_queue_shared, 0);
}

TEST_F(JanitorTest, QueueingIsRefusedOnceQuitBegins) {
    ASSERT_EQ(janitor_init_for_cpus(4), 1);
    // Main-thread jobs run during janitor_quit, after the shared queue closed.
    QuitProbe during;
    ASSERT_EQ(janitor_queue_job(try_queue_shared, &during, janitor_queue_main, 0), 1);
    janitor_quit();
    EXPECT_EQ(during.result, 0);

    std::atomic<int> ran{0};
    for (int selector : {janitor_queue_main, janitor_queue_shared, janitor_queue_last, 1}) {
        EXPECT_EQ(janitor_queue_job(count_job, &ran, selector, 0), 0) << selector;
    }
    janitor_tick();
    janitor_wait_until_idle(janitor_queue_shared);
    EXPECT_EQ(ran.load(), 0);

    // The pool can be started again afterwards.
    ASSERT_EQ(janitor_init_for_cpus(2), 1);
    EXPECT_EQ(janitor_queue_job(count_job, &ran, janitor_queue_shared, 0), 1);
    janitor_wait_until_idle(janitor_queue_shared);
    EXPECT_EQ(ran.load(), 1);
}

// Keeps the only worker busy, queueing shared jobs until the janitor refuses them:
// when it stops, janitor_quit has begun and every job queued so far is pending.
struct Staller {
    std::atomic<int> *ran;
    int queued = 0;
    bool refused = false;
};
void stall_job(void *arg) {
    auto *s = static_cast<Staller *>(arg);
    const Uint64 deadline = SDL_GetTicks64() + 5000;
    while (SDL_GetTicks64() < deadline) {
        if (!janitor_queue_job(count_job, s->ran, janitor_queue_shared, 0)) {
            s->refused = true;
            return;
        }
        s->queued++;
        SDL_Delay(1);
    }
}

TEST_F(JanitorTest, JobsQueuedBeforeQuitStillRun) {
    ASSERT_EQ(janitor_init_for_cpus(2), 1);
    std::atomic<int> ran{0};
    Staller staller{&ran};
    ASSERT_EQ(janitor_queue_job(stall_job, &staller, 1, 0), 1);
    constexpr int own = 20, shared = 20, main = 5;
    for (int i = 0; i < own; i++) {
        ASSERT_EQ(janitor_queue_job(count_job, &ran, 1, 0), 1);
    }
    for (int i = 0; i < shared; i++) {
        ASSERT_EQ(janitor_queue_job(count_job, &ran, janitor_queue_shared, 0), 1);
    }
    for (int i = 0; i < main; i++) {
        ASSERT_EQ(janitor_queue_job(count_job, &ran, janitor_queue_main, 0), 1);
    }
    janitor_quit();
    EXPECT_TRUE(staller.refused);
    EXPECT_EQ(ran.load(), own + shared + main + staller.queued);
}

TEST_F(JanitorTest, ManyThreadsQueueConcurrently) {
    ASSERT_EQ(janitor_init_for_cpus(8), 1);
    constexpr int threads = 4, per_thread = 500;
    std::vector<std::atomic<int>> hits(threads * per_thread);
    std::vector<std::thread> producers;
    std::atomic<int> refused{0};
    for (int t = 0; t < threads; t++) {
        producers.emplace_back([&, t] {
            for (int i = 0; i < per_thread; i++) {
                const int selector = i % 6 - 1; // -1 .. 4
                if (!janitor_queue_job(count_job, &hits[t * per_thread + i], selector, i % 7 == 0)) {
                    refused++;
                }
            }
        });
    }
    for (std::thread &p : producers) {
        p.join();
    }
    for (int selector = 0; selector <= 4; selector++) {
        janitor_wait_until_idle(selector);
    }
    EXPECT_EQ(refused.load(), 0);
    int wrong = 0;
    for (std::atomic<int> &h : hits) {
        wrong += h.load() != 1;
    }
    EXPECT_EQ(wrong, 0) << "every job runs exactly once";
}

} // namespace

// Producers keep queueing to the workers' own queues and the shared queue while
// janitor_quit closes and destroys them: every accepted job runs exactly once, and
// no producer touches a destroyed queue (ASan reports that as use after free).
TEST_F(JanitorTest, QueueingDuringQuitIsRunOrRefused) {
    constexpr int cycles = 30;
    const int selectors[] = {1, janitor_queue_last, janitor_queue_shared};
    for (int cycle = 0; cycle < cycles; cycle++) {
        SCOPED_TRACE("cycle " + std::to_string(cycle));
        ASSERT_EQ(janitor_init_for_cpus(8), 1);
        std::atomic<int> ran{0};
        std::atomic<int> accepted{0};
        std::atomic<bool> stop{false};
        std::atomic<int> started{0};
        std::vector<std::thread> producers;
        for (int selector : selectors) {
            producers.emplace_back([&, selector] {
                started++;
                while (!stop.load()) {
                    if (janitor_queue_job(count_job, &ran, selector, 0)) {
                        accepted++;
                    }
                }
            });
        }
        while (started.load() < static_cast<int>(std::size(selectors))) {
            std::this_thread::yield();
        }
        janitor_quit();
        stop = true;
        for (std::thread &t : producers) {
            t.join();
        }
        EXPECT_GT(accepted.load(), 0);
        EXPECT_EQ(ran.load(), accepted.load());
    }
}
