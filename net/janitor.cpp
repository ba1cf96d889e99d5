// Janitor: worker threads for fire-and-forget jobs. Record 0 is the shared queue
// that every worker drains when its own queue is empty; records 1..N belong to one
// worker each; a separate queue is run by the main thread in janitor_tick.
#include "net/janitor.h"

#include <SDL.h>

#include <atomic>
#include <cstdint>

namespace {

constexpr int max_workers = 4;
constexpr size_t worker_stack_size = 512 * 1024;
constexpr Uint32 idle_poll_ms = 30;

struct janitor_job {
    janitor_job_fn fn;
    void *arg;
    janitor_job *next;
};

struct janitor_queue {
    std::atomic<int> quit{0};   // set: refuse new jobs (the worker ends when its queue is empty)
    std::atomic<int> users{0};  // producers between their quit check and their last touch
    SDL_Thread *thread;
    SDL_ThreadPriority priority;
    janitor_job *head;
    janitor_job *tail;
    SDL_atomic_t count;         // queued or running jobs
    SDL_mutex *mutex;
    SDL_sem *sem;
};

struct janitor_state {
    janitor_queue main_queue;
    janitor_queue queues[max_workers + 1];
    std::atomic<int> workers{0};
    std::atomic<SDL_threadID> main_thread{0};
};

janitor_state J;

janitor_queue *resolve(int selector) {
    if (selector == janitor_queue_main) {
        return &J.main_queue;
    }
    const int n = J.workers.load();
    if (selector == janitor_queue_last) {
        selector = n;
    }
    if (selector < 0 || selector > n) {
        selector = janitor_queue_shared;
    }
    return &J.queues[selector];
}

janitor_job *pop(janitor_queue &q) {
    SDL_LockMutex(q.mutex);
    janitor_job *job = q.head;
    if (job) {
        q.head = job->next;
        if (!q.head) {
            q.tail = nullptr;
        }
        job->next = nullptr;
    }
    SDL_UnlockMutex(q.mutex);
    return job;
}

void link(janitor_queue &q, janitor_job *job, bool at_front) {
    if (at_front) {
        job->next = q.head;
        q.head = job;
        if (!q.tail) {
            q.tail = job;
        }
    } else {
        job->next = nullptr;
        if (q.tail) {
            q.tail->next = job;
        } else {
            q.head = job;
        }
        q.tail = job;
    }
    SDL_AtomicAdd(&q.count, 1);
}

void run_job(janitor_queue &from, janitor_job *job) {
    job->fn(job->arg);
    SDL_free(job);
    SDL_AtomicAdd(&from.count, -1);
}

// Runs the jobs queued at the moment of the call, in order; false when there were
// none. Jobs they queue in turn wait for the next call, so a job that requeues
// itself cannot spin janitor_tick.
bool run_pending(janitor_queue &q) {
    if (!q.mutex) {
        return false;
    }
    SDL_LockMutex(q.mutex);
    janitor_job *job = q.head;
    q.head = nullptr;
    q.tail = nullptr;
    SDL_UnlockMutex(q.mutex);
    const bool ran = job != nullptr;
    while (job) {
        janitor_job *next = job->next;
        run_job(q, job);
        job = next;
    }
    return ran;
}

// Until the queue is empty, including jobs queued by the jobs themselves.
void run_all(janitor_queue &q) {
    while (run_pending(q)) {
    }
}

void discard_all(janitor_queue &q) {
    janitor_job *job = q.head;
    while (job) {
        janitor_job *next = job->next;
        SDL_free(job);
        job = next;
    }
    q.head = q.tail = nullptr;
}

bool on_main_thread() {
    const SDL_threadID id = J.main_thread.load();
    return id != 0 && id == SDL_ThreadID();
}

int SDLCALL worker_main(void *p) {
    janitor_queue &own = J.queues[reinterpret_cast<intptr_t>(p)];
    janitor_queue &shared = J.queues[janitor_queue_shared];
    if (own.priority != SDL_THREAD_PRIORITY_NORMAL) {
        SDL_SetThreadPriority(own.priority);
    }
    for (;;) {
        // A closed queue takes no new jobs, so draining it ends; shared jobs left
        // behind are run by janitor_quit.
        const bool quitting = own.quit.load() != 0;
        janitor_queue *from = &own;
        janitor_job *job = pop(own);
        if (!job && !quitting) {
            from = &shared;
            job = pop(shared);
        }
        if (job) {
            run_job(*from, job);
            continue;
        }
        if (quitting) {
            break;
        }
        SDL_SemWait(own.sem);
    }
    return 0;
}

// Refuses new jobs, then waits out the producers that passed their quit check
// before it: afterwards nobody touches the queue's mutex or semaphore but us.
void close_queue(janitor_queue &q) {
    q.quit.store(1);
    while (q.users.load() != 0) {
        SDL_Delay(0);
    }
}

// The quit flag stays set, so a producer holding a stale selector is refused.
void destroy_queue(janitor_queue &q) {
    if (q.mutex) {
        SDL_DestroyMutex(q.mutex);
    }
    if (q.sem) {
        SDL_DestroySemaphore(q.sem);
    }
    q.mutex = nullptr;
    q.sem = nullptr;
    q.thread = nullptr;
    q.head = q.tail = nullptr;
    SDL_AtomicSet(&q.count, 0);
}

void open_queue(janitor_queue &q) {
    q.head = q.tail = nullptr;
    SDL_AtomicSet(&q.count, 0);
    q.quit.store(0);
}

bool start_worker(int i, SDL_ThreadPriority priority) {
    janitor_queue &q = J.queues[i];
    q.priority = priority;
    open_queue(q);
    q.mutex = SDL_CreateMutex();
    q.sem = q.mutex ? SDL_CreateSemaphore(0) : nullptr;
    if (q.sem) {
        char name[16];
        SDL_snprintf(name, sizeof name, "janitor%d", i);
        q.thread = SDL_CreateThreadWithStackSize(worker_main, name, worker_stack_size,
                                                 reinterpret_cast<void *>(intptr_t{i}));
    }
    if (!q.thread) {
        destroy_queue(q);
        return false;
    }
    return true;
}

} // namespace

int janitor_init() { return janitor_init_for_cpus(SDL_GetCPUCount()); }

int janitor_init_for_cpus(int cpu_count) {
    if (J.main_queue.mutex) {
        return 1; // already running
    }
    open_queue(J.main_queue);
    open_queue(J.queues[janitor_queue_shared]);
    J.main_queue.mutex = SDL_CreateMutex();
    if (!J.main_queue.mutex) {
        return 0;
    }
    // Without a lock the shared queue could take no jobs at all, not even for the
    // main-thread fallback.
    J.queues[janitor_queue_shared].mutex = SDL_CreateMutex();
    if (!J.queues[janitor_queue_shared].mutex) {
        destroy_queue(J.main_queue);
        return 0;
    }
    J.main_thread.store(SDL_ThreadID());

    const int c = SDL_clamp(cpu_count, 1, 7);
    const int planned = (c < 4 ? 4 : c) - 2 - 1;
    for (int i = 1; i <= planned; i++) {
        const SDL_ThreadPriority priority =
            i == planned ? SDL_THREAD_PRIORITY_LOW : SDL_THREAD_PRIORITY_NORMAL;
        if (!start_worker(i, priority)) {
            break;
        }
        J.workers.store(i);
    }
    return 1;
}

int janitor_queue_job(janitor_job_fn fn, void *arg, int queue, int at_front) {
    if (!fn) {
        return 0;
    }
    janitor_queue &q = *resolve(queue);
    // Announced before the quit check: close_queue waits for us, so the queue (and,
    // for the shared queue, every worker's semaphore) outlives this call.
    q.users.fetch_add(1);
    if (q.quit.load() || !q.mutex) {
        q.users.fetch_sub(1);
        return 0;
    }
    auto *job = static_cast<janitor_job *>(SDL_malloc(sizeof(janitor_job)));
    if (!job) {
        q.users.fetch_sub(1);
        return 0;
    }
    job->fn = fn;
    job->arg = arg;
    SDL_LockMutex(q.mutex);
    link(q, job, at_front != 0);
    SDL_UnlockMutex(q.mutex);

    if (&q == &J.queues[janitor_queue_shared]) {
        const int n = J.workers.load();
        for (int i = 1; i <= n; i++) {
            SDL_SemPost(J.queues[i].sem);
        }
    } else if (q.sem) {
        SDL_SemPost(q.sem);
    }
    q.users.fetch_sub(1);
    return 1;
}

void janitor_tick() {
    if (!on_main_thread()) {
        return;
    }
    run_pending(J.main_queue);
    if (J.workers.load() == 0) {
        run_pending(J.queues[janitor_queue_shared]);
    }
}

void janitor_wait_until_idle(int queue) {
    janitor_queue &q = *resolve(queue);
    janitor_tick();
    while (SDL_AtomicGet(&q.count) > 0) {
        SDL_Delay(idle_poll_ms);
        janitor_tick();
    }
}

int janitor_thread_count() { return J.workers.load(); }

void janitor_quit() {
    if (!J.main_queue.mutex) {
        return;
    }
    janitor_queue &shared = J.queues[janitor_queue_shared];
    const bool main = on_main_thread();
    // Closing the shared queue first also keeps its producers off the workers'
    // semaphores, which go below.
    close_queue(shared);
    if (main) {
        run_all(J.main_queue);
    }
    const int n = J.workers.load();
    if (n == 0) {
        run_all(shared);
    }
    for (int i = 1; i <= n; i++) {
        janitor_queue &w = J.queues[i];
        // The worker runs the jobs already queued, then ends; later ones are refused.
        close_queue(w);
        SDL_SemPost(w.sem);
        SDL_WaitThread(w.thread, nullptr);
        w.thread = nullptr;
        run_all(w);
        destroy_queue(w);
    }
    J.workers.store(0);
    // Shared jobs left when the last worker ended, and main-thread jobs that the
    // workers queued meanwhile, are not lost.
    run_all(shared);
    close_queue(J.main_queue);
    if (main) {
        run_all(J.main_queue);
    } else {
        discard_all(J.main_queue); // never run main-thread work on another thread
    }
    destroy_queue(shared);
    destroy_queue(J.main_queue);
    J.main_thread.store(0);
}
