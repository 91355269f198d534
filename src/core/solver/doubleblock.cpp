#include "doubleblock.h"

#include <cstdint>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace {
// Below this the allocator's own pages serve better.
constexpr size_t kMapFrom = size_t(2) << 20;
// The huge page size of x86-64 and of most arm64 systems.
constexpr size_t kHugePage = size_t(2) << 20;
#if defined(__linux__) && !defined(MADV_POPULATE_WRITE)
#define MADV_POPULATE_WRITE 23
#endif
}

DoubleBlock::DoubleBlock(size_t count) : m_count(count)
{
    if (count == 0)
        return;
    const size_t bytes = count * sizeof(double);
    if (bytes / sizeof(double) != count)
        throw std::bad_alloc();
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    if (bytes >= kMapFrom && bytes <= size_t(-1) / 2) {
        // One huge page more than the block, so that it can start on a huge
        // page boundary: otherwise its first huge page's worth stays on
        // small pages. It ends at its last small page: a last huge page only
        // partly used would cost the whole of it.
        const long pageSize = sysconf(_SC_PAGESIZE);
        const size_t page = pageSize > 0 ? size_t(pageSize) : 4096;
        const size_t length = (bytes + page - 1) / page * page;
        void *p = mmap(nullptr, length + kHugePage, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p != MAP_FAILED) {
            char *raw = static_cast<char *>(p);
            char *start = reinterpret_cast<char *>(
                (reinterpret_cast<uintptr_t>(raw) + kHugePage - 1) & ~uintptr_t(kHugePage - 1));
            if (start > raw)
                munmap(raw, size_t(start - raw));
            if (start + length < raw + length + kHugePage)
                munmap(start + length, size_t(raw + length + kHugePage - (start + length)));
            // Only hints: without huge pages, or on a kernel that cannot
            // populate, the block works the same and its pages come on
            // first touch. Populating here, on one thread, takes the pages
            // in one pass; workers that fault them in side by side while
            // they fill the block stall each other for tens of
            // milliseconds on some systems.
            madvise(start, length, MADV_HUGEPAGE);
            madvise(start, length, MADV_POPULATE_WRITE);
            m_data = reinterpret_cast<double *>(start);
            m_mapped = length;
            return;
        }
    }
#endif
    m_data = new (std::align_val_t(64)) double[count]();
}

DoubleBlock::~DoubleBlock()
{
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    if (m_mapped) {
        munmap(m_data, m_mapped);
        return;
    }
#endif
    if (m_data)
        ::operator delete[](m_data, std::align_val_t(64));
}

size_t DoubleBlock::rowStride(int n)
{
    // Whole lines of eight, and an odd number of them: the same column of
    // many rows (a block of pivot rows read in place) then falls in every
    // set of the cache, not in the few an even stride maps it to.
    const size_t lines = (size_t(n > 0 ? n : 0) + 7) / 8;
    return (lines % 2 == 0 && lines > 0 ? lines + 1 : lines) * 8;
}

RowBlock::RowBlock(int n) : m_block(DoubleBlock::rowStride(n) * size_t(n > 0 ? n : 0))
{
    const int count = n > 0 ? n : 0;
    m_rows = new double *[size_t(count) + 1];
    const size_t stride = DoubleBlock::rowStride(n);
    for (int i = 0; i < count; ++i)
        m_rows[i] = m_block.data() + size_t(i) * stride;
}

RowBlock::~RowBlock()
{
    delete[] m_rows;
}
