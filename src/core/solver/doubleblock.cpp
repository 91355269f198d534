#include "doubleblock.h"

#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace {
// Below this the allocator's own pages serve better.
constexpr size_t kMapFrom = size_t(2) << 20;
}

DoubleBlock::DoubleBlock(size_t count) : m_count(count)
{
    if (count == 0)
        return;
    const size_t bytes = count * sizeof(double);
    if (bytes / sizeof(double) != count)
        throw std::bad_alloc();
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    if (bytes >= kMapFrom) {
        void *p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p != MAP_FAILED) {
            // Only a hint: without huge pages the block works the same.
            madvise(p, bytes, MADV_HUGEPAGE);
            m_data = static_cast<double *>(p);
            m_mapped = bytes;
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
    const size_t len = n > 0 ? size_t(n) : 0;
    return (len + 7) / 8 * 8;
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
