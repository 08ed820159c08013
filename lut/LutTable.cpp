#include "lut/LutTable.h"

#include "lut/LutMemory.h"

#include <utility>

namespace {

// Fresh memory comes zeroed from the system, so a large table costs nothing
// until it is written; reused memory is cleared.
float *allocateZeroed(std::size_t floats)
{
    return static_cast<float *>(LutMemory::allocateZeroed(floats * sizeof(float)));
}

void release(float *data, std::size_t floats)
{
    LutMemory::release(data, floats * sizeof(float));
}

std::size_t floats3D(int n)
{
    return std::size_t(n) * std::size_t(n) * std::size_t(n) * 3;
}

} // namespace

LutTable3D::LutTable3D(LutTable3D &&other) noexcept
    : m_data(std::exchange(other.m_data, nullptr)), m_size(std::exchange(other.m_size, 0))
{
}

LutTable3D &LutTable3D::operator=(LutTable3D &&other) noexcept
{
    if (this != &other) {
        reset();
        m_data = std::exchange(other.m_data, nullptr);
        m_size = std::exchange(other.m_size, 0);
    }
    return *this;
}

bool LutTable3D::allocate(int n)
{
    reset();
    if (n < 1 || n > kMaxCubeSize)
        return false;
    m_data = allocateZeroed(floats3D(n));
    if (!m_data)
        return false;
    m_size = n;
    return true;
}

void LutTable3D::reset()
{
    release(m_data, floats3D(m_size));
    m_data = nullptr;
    m_size = 0;
}

LutTable1D::LutTable1D(LutTable1D &&other) noexcept
    : m_data(std::exchange(other.m_data, nullptr)), m_size(std::exchange(other.m_size, 0))
{
}

LutTable1D &LutTable1D::operator=(LutTable1D &&other) noexcept
{
    if (this != &other) {
        reset();
        m_data = std::exchange(other.m_data, nullptr);
        m_size = std::exchange(other.m_size, 0);
    }
    return *this;
}

bool LutTable1D::allocate(int n)
{
    reset();
    if (n < 1 || n > kMax1DSize)
        return false;
    m_data = allocateZeroed(std::size_t(n) * 3);
    if (!m_data)
        return false;
    m_size = n;
    return true;
}

void LutTable1D::reset()
{
    release(m_data, std::size_t(m_size) * 3);
    m_data = nullptr;
    m_size = 0;
}
