#include "calc/LutCalc.h"

#include "lut/Read_LUTFile.h"

#include <cmath>
#include <cstddef>

void LutCalc::sampleCube(const float point[3], float result[3], const Read_LUTFile *source)
{
    const LutTable3D &table = source->table3D;
    // Never index beyond the table actually allocated.
    const int n = source->size3D < table.size() ? source->size3D : table.size();
    if (n <= 0) {
        result[0] = result[1] = result[2] = 0.0f;
        return;
    }
    int lower[3];
    int upper[3];
    float f[3];
    for (int c = 0; c < 3; ++c) {
        const float scale = (1.0f / (source->domainMax3D[c] - source->domainMin3D[c])) * float(n - 1);
        float x = (point[c] - source->domainMin3D[c]) * scale;
        if (x > float(n - 1))
            x = float(n - 1);
        // Below the domain, and a coordinate that is not a number, sample
        // the first lattice plane; floor() of a NaN has no integer value.
        if (!(x >= 0.0f)) {
            lower[c] = upper[c] = 0;
            f[c] = 0.0f;
        } else {
            lower[c] = int(std::floor(x));
            upper[c] = int(std::ceil(x));
            f[c] = x - float(lower[c]);
        }
    }

    const float *p000 = table[lower[0]][lower[1]][lower[2]];
    const float *p111 = table[upper[0]][upper[1]][upper[2]];
    const double f0 = f[0], f1 = f[1], f2 = f[2];

    // Pick the tetrahedron, its two middle corners and the four weights.
    const float *pA;
    const float *pB;
    double w0, wA, wB, w1;
    if (f0 > f1) {
        if (f1 > f2) { // f0 > f1 > f2
            pA = table[upper[0]][lower[1]][lower[2]];
            pB = table[upper[0]][upper[1]][lower[2]];
            w0 = 1 - f0; wA = f0 - f1; wB = f1 - f2; w1 = f2;
        } else if (f0 > f2) { // f0 > f2 >= f1
            pA = table[upper[0]][lower[1]][lower[2]];
            pB = table[upper[0]][lower[1]][upper[2]];
            w0 = 1 - f0; wA = f0 - f2; wB = f2 - f1; w1 = f1;
        } else { // f2 >= f0 > f1
            pA = table[lower[0]][lower[1]][upper[2]];
            pB = table[upper[0]][lower[1]][upper[2]];
            w0 = 1 - f2; wA = f2 - f0; wB = f0 - f1; w1 = f1;
        }
    } else {
        if (f2 > f1) { // f2 > f1 >= f0
            pA = table[lower[0]][lower[1]][upper[2]];
            pB = table[lower[0]][upper[1]][upper[2]];
            w0 = 1 - f2; wA = f2 - f1; wB = f1 - f0; w1 = f0;
        } else if (f2 > f0) { // f1 >= f2 > f0
            pA = table[lower[0]][upper[1]][lower[2]];
            pB = table[lower[0]][upper[1]][upper[2]];
            w0 = 1 - f1; wA = f1 - f2; wB = f2 - f0; w1 = f0;
        } else { // f1 >= f0 >= f2
            pA = table[lower[0]][upper[1]][lower[2]];
            pB = table[upper[0]][upper[1]][lower[2]];
            w0 = 1 - f1; wA = f1 - f0; wB = f0 - f2; w1 = f2;
        }
    }
    for (int ch = 0; ch < 3; ++ch)
        result[ch] = float(w0 * p000[ch] + wA * pA[ch] + wB * pB[ch] + w1 * p111[ch]);
}

bool LutCalc::resampleCube(const Read_LUTFile *source, Read_LUTFile *destination)
{
    const int m = destination->size3D;
    if (source->size3D <= 0 || source->table3D.isNull() || m < 2 || destination->table3D.size() != m)
        return false;
    float point[3];
    for (int i = 0; i < m; ++i) {
        point[0] = float(i) / float(m - 1);
        for (int j = 0; j < m; ++j) {
            point[1] = float(j) / float(m - 1);
            for (int k = 0; k < m; ++k) {
                point[2] = float(k) / float(m - 1);
                sampleCube(point, destination->table3D[i][j][k], source);
            }
        }
    }
    return true;
}

float LutCalc::sample1D(const float *entries, int n, int channel, double t)
{
    if (n < 2)
        return n == 1 ? entries[channel] : 0.0f;
    double position = t * double(n - 1);
    if (!(position > 0.0))
        position = 0.0;
    if (position > double(n - 1))
        position = double(n - 1);
    int i = int(std::floor(position));
    if (i > n - 2)
        i = n - 2;
    const double f = position - double(i);
    const double a = entries[3 * std::ptrdiff_t(i) + channel];
    const double b = entries[3 * std::ptrdiff_t(i + 1) + channel];
    return float(a + (b - a) * f);
}

bool LutCalc::resample1D(const Read_LUTFile *source, Read_LUTFile *destination)
{
    const int n = source->size1D;
    const int m = destination->size1D;
    if (n <= 0 || source->table1D.size() != n || m < 2 || destination->table1D.size() != m)
        return false;
    for (int i = 0; i < m; ++i) {
        for (int c = 0; c < 3; ++c)
            destination->table1D[i][c] = sample1D(source->table1D.data(), n, c, double(i) / double(m - 1));
    }
    return true;
}
