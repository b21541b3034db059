#pragma once

#include "Core/Base/Memory.h"

#include <algorithm>
#include <vector>

// A zeroed, 16-byte-aligned float array for the signal kernels.
class AlignedBuffer {
public:
    explicit AlignedBuffer(unsigned size)
        : m_data(static_cast<float*>(Harbend::Memory::allocate((size + 4) * sizeof(float)))), m_size(size)
    {
        std::fill(m_data, m_data + size + 4, 0.0f);
    }
    explicit AlignedBuffer(const std::vector<float>& values) : AlignedBuffer(unsigned(values.size()))
    {
        std::copy(values.begin(), values.end(), m_data);
    }
    ~AlignedBuffer() { Harbend::Memory::free(m_data); }
    AlignedBuffer(const AlignedBuffer&) = delete;
    AlignedBuffer& operator=(const AlignedBuffer&) = delete;

    float* data() { return m_data; }
    float& operator[](unsigned i) { return m_data[i]; }
    unsigned size() const { return m_size; }
    std::vector<float> values() const { return std::vector<float>(m_data, m_data + m_size); }

private:
    float* m_data;
    unsigned m_size;
};
