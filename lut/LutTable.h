#pragma once

#include <cstddef>
#include <cstdint>

// Upper bounds on table sizes. A file that asks for more is refused by its
// reader: a 256-point cube already takes 200 MB, and real 1D LUTs stop well
// short of a million entries (131,072 is the largest seen in practice).
constexpr int kMaxCubeSize = 256;
constexpr int kMax1DSize = 1048576;

// A 3D table of N x N x N entries of three floats, held in one zero-filled
// block so that a 256-point cube costs its raw size (no pointer arrays).
// Addressing is the nested-array form every reader, writer and the resampler
// use: table[a][b][c][channel], with c varying fastest in memory.
//
// The table behaves like the pointer it replaces: it is "null" until
// allocated, it compares with nullptr, and it is released by reset().
class LutTable3D
{
public:
    class Row
    {
    public:
        explicit Row(float *row) : m_row(row) {}
        float *operator[](int c) const { return m_row + 3 * std::ptrdiff_t(c); }
    private:
        float *m_row;
    };

    class Plane
    {
    public:
        Plane(float *plane, int size) : m_plane(plane), m_size(size) {}
        Row operator[](int b) const { return Row(m_plane + 3 * std::ptrdiff_t(b) * m_size); }
    private:
        float *m_plane;
        int m_size;
    };

    LutTable3D() = default;
    LutTable3D(std::nullptr_t) {}
    LutTable3D(LutTable3D &&other) noexcept;
    LutTable3D &operator=(LutTable3D &&other) noexcept;
    LutTable3D &operator=(std::nullptr_t) { reset(); return *this; }
    LutTable3D(const LutTable3D &) = delete;
    LutTable3D &operator=(const LutTable3D &) = delete;
    ~LutTable3D() { reset(); }

    // Allocates a zero-filled table of n points per axis, replacing (and
    // freeing) any table held before. False when n is outside 1..kMaxCubeSize
    // or the memory cannot be had; the table is then null.
    bool allocate(int n);
    void reset();

    Plane operator[](int a) const
    {
        return Plane(m_data + 3 * std::ptrdiff_t(a) * m_size * m_size, m_size);
    }

    // True when (a, b, c) addresses an entry of the table.
    bool contains(int a, int b, int c) const
    {
        return unsigned(a) < unsigned(m_size) && unsigned(b) < unsigned(m_size)
            && unsigned(c) < unsigned(m_size);
    }

    int size() const { return m_size; }
    float *data() const { return m_data; }
    bool isNull() const { return m_data == nullptr; }
    explicit operator bool() const { return m_data != nullptr; }
    bool operator==(std::nullptr_t) const { return m_data == nullptr; }
    bool operator!=(std::nullptr_t) const { return m_data != nullptr; }

private:
    float *m_data = nullptr;
    int m_size = 0;
};

// A 1D table of n entries of three floats in one zero-filled block,
// addressed table[i][channel].
class LutTable1D
{
public:
    LutTable1D() = default;
    LutTable1D(std::nullptr_t) {}
    LutTable1D(LutTable1D &&other) noexcept;
    LutTable1D &operator=(LutTable1D &&other) noexcept;
    LutTable1D &operator=(std::nullptr_t) { reset(); return *this; }
    LutTable1D(const LutTable1D &) = delete;
    LutTable1D &operator=(const LutTable1D &) = delete;
    ~LutTable1D() { reset(); }

    // Allocates n zero-filled entries, freeing any table held before. False
    // when n is outside 1..kMax1DSize or the memory cannot be had.
    bool allocate(int n);
    void reset();

    float *operator[](int i) const { return m_data + 3 * std::ptrdiff_t(i); }
    bool contains(int i) const { return unsigned(i) < unsigned(m_size); }

    int size() const { return m_size; }
    float *data() const { return m_data; }
    bool isNull() const { return m_data == nullptr; }
    explicit operator bool() const { return m_data != nullptr; }
    bool operator==(std::nullptr_t) const { return m_data == nullptr; }
    bool operator!=(std::nullptr_t) const { return m_data != nullptr; }

private:
    float *m_data = nullptr;
    int m_size = 0;
};
