#ifndef DOUBLEBLOCK_H
#define DOUBLEBLOCK_H

#include <cstddef>

// One zero-filled block of doubles for the solver's big arrays (the working
// copy of the system, the ratio store). A big block comes straight from the
// system as fresh pages, which are zero already, starting on a huge page and
// on huge pages where the system has them, all taken at once when the block
// is made: filling a big system then costs a few hundred page faults instead
// of a few hundred thousand, and no worker waits for its pages while others
// wait for it. Throws std::bad_alloc like new when there is no memory.
class DoubleBlock
{
public:
    DoubleBlock() = default;
    explicit DoubleBlock(size_t count);
    ~DoubleBlock();
    DoubleBlock(const DoubleBlock &) = delete;
    DoubleBlock &operator=(const DoubleBlock &) = delete;

    double *data() const { return m_data; }
    size_t size() const { return m_count; }

    // Row stride (in doubles) for rows of n values: an odd number of eights,
    // so that every row starts on a 64-byte line of an aligned block.
    static size_t rowStride(int n);

private:
    double *m_data = nullptr;
    size_t m_count = 0;
    size_t m_mapped = 0; // bytes mapped from the system, 0 when from new
};

// Room for the working copy of an n x n system: n zero rows in one
// DoubleBlock.
class RowBlock
{
public:
    explicit RowBlock(int n);
    double **rows() { return m_rows; }
    ~RowBlock();
    RowBlock(const RowBlock &) = delete;
    RowBlock &operator=(const RowBlock &) = delete;

private:
    DoubleBlock m_block;
    double **m_rows = nullptr;
};

#endif
