// Janitor: a small pool of worker threads for fire-and-forget jobs (a function and
// one pointer), a queue whose jobs run on the main thread in janitor_tick, and an
// inline fallback when no worker could be started. The log is published through it.
#pragma once

typedef void (*janitor_job_fn)(void *arg);

constexpr int janitor_queue_main = -3;   // run by the main thread in janitor_tick
constexpr int janitor_queue_shared = 0;  // any worker; the main thread without workers
constexpr int janitor_queue_last = -1;   // the last worker (low priority)

int janitor_init();
// As janitor_init, sized for the given processor count instead of SDL_GetCPUCount().
int janitor_init_for_cpus(int cpu_count);
int janitor_queue_job(janitor_job_fn fn, void *arg, int queue, int at_front);
void janitor_tick();
void janitor_wait_until_idle(int queue);
int janitor_thread_count();
void janitor_quit();
