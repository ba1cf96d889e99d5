// Reference-counted locked FIFO of threadstreams. The item count is atomic so the
// render thread can poll it without taking the mutex.
#include "stream/threadstream.h"

threadstreamqueue *threadstreamqueue_create() {
    auto *q = static_cast<threadstreamqueue *>(SDL_calloc(1, sizeof(threadstreamqueue)));
    if (!q) {
        return nullptr;
    }
    q->mutex = SDL_CreateMutex();
    if (!q->mutex) {
        SDL_free(q);
        return nullptr;
    }
    SDL_AtomicSet(&q->count, 0);
    SDL_AtomicSet(&q->refcount, 1);
    return q;
}

void threadstreamqueue_ref(threadstreamqueue *q) {
    if (q) {
        SDL_AtomicAdd(&q->refcount, 1);
    }
}

void threadstreamqueue_unref(threadstreamqueue *q) {
    if (!q || SDL_AtomicAdd(&q->refcount, -1) != 1) {
        return;
    }
    // Last reference: streams still waiting go back to the pool, oldest first.
    threadstream *s = q->head;
    while (s) {
        threadstream *next = s->next;
        s->next = nullptr;
        threadstream_free(s);
        s = next;
    }
    SDL_DestroyMutex(q->mutex);
    SDL_free(q);
}

void threadstreamqueue_putitem(threadstreamqueue *q, threadstream *s) {
    if (!q || !s) {
        return;
    }
    s->next = nullptr;
    SDL_LockMutex(q->mutex);
    if (q->tail) {
        q->tail->next = s;
    } else {
        q->head = s;
    }
    q->tail = s;
    SDL_AtomicAdd(&q->count, 1);
    SDL_UnlockMutex(q->mutex);
}

threadstream *threadstreamqueue_getitem(threadstreamqueue *q) {
    if (!q) {
        return nullptr;
    }
    SDL_LockMutex(q->mutex);
    threadstream *s = q->head;
    if (s) {
        q->head = s->next;
        s->next = nullptr;
        if (!q->head) {
            q->tail = nullptr;
        }
        SDL_AtomicAdd(&q->count, -1);
    } else {
        q->head = nullptr;
        q->tail = nullptr;
    }
    SDL_UnlockMutex(q->mutex);
    return s;
}

int threadstreamqueue_getcount(threadstreamqueue *q) {
    return q ? SDL_AtomicGet(&q->count) : 0;
}
