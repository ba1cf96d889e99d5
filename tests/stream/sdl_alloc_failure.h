// Makes SDL's allocator fail on demand: while an SdlAllocFailure is alive, the first
// `allowed` allocations succeed and every later one returns null. It wraps the real
// functions, so memory from before, during and after stays compatible.
#pragma once

#include <SDL.h>

#include <atomic>

class SdlAllocFailure {
public:
    explicit SdlAllocFailure(long allowed) {
        // SDL allocates this thread's error buffer on first use and recurses without
        // end if that allocation fails: make sure it exists first.
        SDL_ClearError();
        SDL_GetMemoryFunctions(&real_malloc, &real_calloc, &real_realloc, &real_free);
        budget().store(allowed);
        SDL_SetMemoryFunctions(fail_malloc, fail_calloc, fail_realloc, real_free);
    }
    ~SdlAllocFailure() { SDL_SetMemoryFunctions(real_malloc, real_calloc, real_realloc, real_free); }
    SdlAllocFailure(const SdlAllocFailure &) = delete;
    SdlAllocFailure &operator=(const SdlAllocFailure &) = delete;

private:
    static std::atomic<long> &budget() {
        static std::atomic<long> b{0};
        return b;
    }
    static bool take() {
        long b = budget().load();
        while (b > 0) {
            if (budget().compare_exchange_weak(b, b - 1)) {
                return true;
            }
        }
        return false;
    }
    static void *SDLCALL fail_malloc(size_t n) { return take() ? real_malloc(n) : nullptr; }
    static void *SDLCALL fail_calloc(size_t k, size_t n) { return take() ? real_calloc(k, n) : nullptr; }
    static void *SDLCALL fail_realloc(void *p, size_t n) { return take() ? real_realloc(p, n) : nullptr; }

    static inline SDL_malloc_func real_malloc = nullptr;
    static inline SDL_calloc_func real_calloc = nullptr;
    static inline SDL_realloc_func real_realloc = nullptr;
    static inline SDL_free_func real_free = nullptr;
};
