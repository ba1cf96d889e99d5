// Threadstream pool, writers and readers. Streams are recycled through a LIFO free
// list and keep their grown buffer, so a steady state allocates nothing.
#include "stream/threadstream.h"

#include <atomic>
#include <cstring>

namespace {

constexpr uint64_t initial_capacity = 1024;
constexpr uint32_t null_string_length = 0xFFFFFFFFu;

struct threadstream_pool {
    SDL_mutex *mutex = nullptr;
    void *free_head = nullptr;   // most recently released stream; guarded by mutex
    std::atomic<uint64_t> allocations{0};
};

threadstream_pool pool;

uint64_t round_up4(uint64_t v) { return (v + 3) & ~uint64_t{3}; }

// Makes room for `need` bytes in total. On failure the stream keeps its old buffer
// and its error flag is set, so every later write is a no-op.
bool ensure_capacity(threadstream *s, uint64_t need) {
    if (need <= s->capacity) {
        return true;
    }
    uint64_t candidate = s->capacity ? s->capacity : initial_capacity;
    while (candidate < need) {
        if (candidate > UINT64_MAX / 2) {
            s->error = 1;
            return false;
        }
        candidate *= 2;
    }
    void *grown = SDL_realloc(s->data, static_cast<size_t>(candidate));
    if (!grown) {
        s->error = 1;
        return false;
    }
    pool.allocations.fetch_add(1, std::memory_order_relaxed);
    s->data = static_cast<uint8_t *>(grown);
    s->capacity = candidate;
    return true;
}

bool writable(threadstream *s) { return s && !s->error; }

template <typename T>
int pack_value(threadstream *s, T v) {
    if (!writable(s) || !ensure_capacity(s, s->size + sizeof(T))) {
        return 0;
    }
    std::memcpy(s->data + s->size, &v, sizeof(T));
    s->size += sizeof(T);
    return 1;
}

uint64_t remaining(const threadstream *s) {
    return s->size > s->read_pos ? s->size - s->read_pos : 0;
}

template <typename T>
T unpack_value(threadstream *s) {
    if (!s) {
        return T{};
    }
    if (remaining(s) < sizeof(T)) {
        s->error = 1;
        return T{};
    }
    T v;
    std::memcpy(&v, s->data + s->read_pos, sizeof(T));
    s->read_pos += sizeof(T);
    return v;
}

} // namespace

int threadstream_init() {
    threadstream_quit(); // a second init starts from an empty pool, leaking nothing
    pool.mutex = SDL_CreateMutex();
    if (!pool.mutex) {
        return 0;
    }
    SDL_AtomicSetPtr(&pool.free_head, nullptr);
    pool.allocations.store(0, std::memory_order_relaxed);
    return 1;
}

void threadstream_quit() {
    if (!pool.mutex) {
        return;
    }
    SDL_LockMutex(pool.mutex);
    auto *s = static_cast<threadstream *>(SDL_AtomicGetPtr(&pool.free_head));
    SDL_AtomicSetPtr(&pool.free_head, nullptr);
    SDL_UnlockMutex(pool.mutex);
    while (s) {
        threadstream *next = s->next;
        SDL_free(s->data);
        SDL_free(s);
        s = next;
    }
    SDL_DestroyMutex(pool.mutex);
    pool.mutex = nullptr;
}

threadstream *threadstream_allocate() {
    if (pool.mutex) {
        SDL_LockMutex(pool.mutex);
        auto *s = static_cast<threadstream *>(SDL_AtomicGetPtr(&pool.free_head));
        if (s) {
            SDL_AtomicSetPtr(&pool.free_head, s->next);
            s->next = nullptr;
        }
        SDL_UnlockMutex(pool.mutex);
        if (s) {
            return s;
        }
    }
    auto *s = static_cast<threadstream *>(SDL_calloc(1, sizeof(threadstream)));
    if (!s) {
        return nullptr;
    }
    s->data = static_cast<uint8_t *>(SDL_malloc(initial_capacity));
    if (!s->data) {
        SDL_free(s);
        return nullptr;
    }
    s->capacity = initial_capacity;
    pool.allocations.fetch_add(2, std::memory_order_relaxed);
    return s;
}

void threadstream_free(threadstream *s) {
    if (!s) {
        return;
    }
    s->error = 0;
    s->read_pos = 0;
    s->size = 0;
    if (!pool.mutex) {
        // No pool to return it to (never initialised or already shut down).
        SDL_free(s->data);
        SDL_free(s);
        return;
    }
    SDL_LockMutex(pool.mutex);
    s->next = static_cast<threadstream *>(SDL_AtomicGetPtr(&pool.free_head));
    SDL_AtomicSetPtr(&pool.free_head, s);
    SDL_UnlockMutex(pool.mutex);
}

uint64_t threadstream_allocation_count() {
    return pool.allocations.load(std::memory_order_relaxed);
}

int threadstream_claim_space(threadstream *s, uint64_t n) {
    if (!writable(s) || n > UINT64_MAX - s->size) {
        return 0;
    }
    return ensure_capacity(s, s->size + n) ? 1 : 0;
}

int threadstream_pack_int(threadstream *s, int32_t v) { return pack_value(s, v); }

int threadstream_pack_float(threadstream *s, float v) { return pack_value(s, v); }

int threadstream_pack_size_t(threadstream *s, uint64_t v) { return pack_value(s, v); }

int threadstream_pack_buffer(threadstream *s, const void *bytes, uint32_t n) {
    if (!writable(s)) {
        return 0;
    }
    if (!bytes) {
        return pack_value(s, null_string_length);
    }
    if (n == null_string_length) {
        // Its length word would read back as the null string and the bytes after
        // it as values: refuse, and drop the frame like any failed write.
        s->error = 1;
        return 0;
    }
    if (!ensure_capacity(s, s->size + n + 5)) {
        return 0;
    }
    uint8_t *at = s->data + s->size;
    std::memcpy(at, &n, 4);
    if (n) {
        std::memcpy(at + 4, bytes, n);
    }
    at[4 + n] = 0;
    s->size = round_up4(s->size + 4 + n + 1);
    return 1;
}

int threadstream_pack_string(threadstream *s, const char *text) {
    if (!text) {
        return threadstream_pack_buffer(s, nullptr, 0);
    }
    size_t n = SDL_strlen(text);
    if (n >= null_string_length) {
        if (s) {
            s->error = 1;
        }
        return 0;
    }
    return threadstream_pack_buffer(s, text, static_cast<uint32_t>(n));
}

int threadstream_eos(const threadstream *s) {
    return (!s || s->error || s->read_pos >= s->size) ? 1 : 0;
}

int32_t threadstream_unpack_int(threadstream *s) { return unpack_value<int32_t>(s); }

float threadstream_unpack_float(threadstream *s) { return unpack_value<float>(s); }

uint64_t threadstream_unpack_size_t(threadstream *s) { return unpack_value<uint64_t>(s); }

const char *threadstream_unpack_buffer(threadstream *s, uint32_t *out_len) {
    static const char empty[] = "";
    if (out_len) {
        *out_len = 0;
    }
    if (!s) {
        return empty;
    }
    if (remaining(s) < 4) {
        s->error = 1;
        return empty;
    }
    uint32_t n;
    std::memcpy(&n, s->data + s->read_pos, 4);
    s->read_pos += 4;
    if (n == null_string_length) {
        return nullptr;
    }
    if (remaining(s) < uint64_t{n} + 1) {
        s->error = 1;
        return empty;
    }
    const char *bytes = reinterpret_cast<const char *>(s->data + s->read_pos);
    s->read_pos = round_up4(s->read_pos + n + 1);
    if (out_len) {
        *out_len = n;
    }
    return bytes;
}

const char *threadstream_unpack_string(threadstream *s, uint32_t *out_len) {
    return threadstream_unpack_buffer(s, out_len);
}
