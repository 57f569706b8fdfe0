// Allocation counting for the "no allocation in a clean render pass" checks.
#include "alloc_counter.h"

#include <atomic>
#include <cstddef>

namespace {
std::atomic<bool> m_Counting{false};
// 32 bits: the board's ARMv5 core has no 64-bit atomic instructions, and a
// counted stretch of code makes far fewer allocations than that.
std::atomic<uint32_t> m_Count{0};

void counted() {
    if (m_Counting.load(std::memory_order_relaxed)) {
        m_Count.fetch_add(1, std::memory_order_relaxed);
    }
}
} // namespace

#if defined(__SANITIZE_ADDRESS__)

extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*malloc_hook)(const volatile void *,
                                                                             size_t),
                                                         void (*free_hook)(const volatile void *));

namespace {
void onMalloc(const volatile void *, size_t) {
    counted();
}
void onFree(const volatile void *) {}
bool m_Installed = false;
} // namespace

void allocCounterStart() {
    if (!m_Installed) {
        m_Installed = __sanitizer_install_malloc_and_free_hooks(onMalloc, onFree) != 0;
    }
    m_Count = 0;
    m_Counting = true;
}

#else

extern "C" void *__libc_malloc(size_t size);
extern "C" void *__libc_calloc(size_t count, size_t size);
extern "C" void *__libc_realloc(void *p, size_t size);

extern "C" void *malloc(size_t size) {
    counted();
    return __libc_malloc(size);
}

extern "C" void *calloc(size_t count, size_t size) {
    counted();
    return __libc_calloc(count, size);
}

extern "C" void *realloc(void *p, size_t size) {
    counted();
    return __libc_realloc(p, size);
}

void allocCounterStart() {
    m_Count = 0;
    m_Counting = true;
}

#endif

uint64_t allocCounterStop() {
    m_Counting = false;
    return m_Count.load();
}
