// Threadstream: the growable byte stream one thread fills with untagged values and
// another reads back in order, recycled through a process-wide free list, and the
// locked FIFO (threadstreamqueue) that carries streams between the simulation and
// render threads. Frame streams and event streams are its two uses.
#pragma once

#include <SDL.h>
#include <cstdint>

struct threadstream {
    uint8_t *data;          // buffer from SDL's allocator
    uint64_t read_pos;      // byte offset of the next read
    uint64_t size;          // bytes written so far; the write position
    uint64_t capacity;      // 1024 * 2^k
    int32_t error;          // 1 once an allocation failed or a read ran past size
    threadstream *next;     // free list / queue link; null while a thread owns it
};

struct threadstreamqueue {
    SDL_mutex *mutex;
    threadstream *head;
    threadstream *tail;
    SDL_atomic_t count;
    SDL_atomic_t refcount;
};

// Pool.
int threadstream_init();
void threadstream_quit();
threadstream *threadstream_allocate();
void threadstream_free(threadstream *s);
// Allocations the pool has made (new stream records and buffer growths) since
// start; a steady state leaves it unchanged.
uint64_t threadstream_allocation_count();

// Writing: 1 on success, 0 when s is null, already in error, or growing failed.
int threadstream_claim_space(threadstream *s, uint64_t n);
int threadstream_pack_int(threadstream *s, int32_t v);
int threadstream_pack_float(threadstream *s, float v);
int threadstream_pack_size_t(threadstream *s, uint64_t v);
int threadstream_pack_buffer(threadstream *s, const void *bytes, uint32_t n);
int threadstream_pack_string(threadstream *s, const char *text);

// Reading: past the end sets error and yields 0 / 0.0 / "".
int threadstream_eos(const threadstream *s);
int32_t threadstream_unpack_int(threadstream *s);
float threadstream_unpack_float(threadstream *s);
uint64_t threadstream_unpack_size_t(threadstream *s);
const char *threadstream_unpack_buffer(threadstream *s, uint32_t *out_len);
const char *threadstream_unpack_string(threadstream *s, uint32_t *out_len);

// Queue.
threadstreamqueue *threadstreamqueue_create();
void threadstreamqueue_ref(threadstreamqueue *q);
void threadstreamqueue_unref(threadstreamqueue *q);
void threadstreamqueue_putitem(threadstreamqueue *q, threadstream *s);
threadstream *threadstreamqueue_getitem(threadstreamqueue *q);
int threadstreamqueue_getcount(threadstreamqueue *q);

// Render-stream helpers: the shared base time of frame time stamps, and the
// hand-back of the last drawn stream at shutdown.
uint32_t renderstream_tick_offset();
int renderstream_init();
void renderstream_quit();
int renderstream_queue_scene(threadstream *s);
