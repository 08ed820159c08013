#include "lut/LutTable.h"

#include <cstdlib>
#include <utility>

namespace {

// calloc hands out zeroed pages lazily, so a large table costs nothing until
// it is written, and the zero-filling the tables promise comes for free.
float *allocateZeroed(std::size_t floats)
{
    return static_cast<float *>(std::calloc(floats, sizeof(float)));
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
    const std::size_t count = std::size_t(n) * std::size_t(n) * std::size_t(n) * 3;
    m_data = allocateZeroed(count);
    if (!m_data)
        return false;
    m_size = n;
    return true;
}

void LutTable3D::reset()
{
    std::free(m_data);
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
    std::free(m_data);
    m_data = nullptr;
    m_size = 0;
}
