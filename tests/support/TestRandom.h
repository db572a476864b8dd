#pragma once

#include <QByteArray>
#include <QRandomGenerator>

#include <cstdint>

// A random generator for tests that pick random inputs. The seed comes from
// STATION_TEST_SEED when set, so a failing run can be replayed exactly;
// otherwise it is new for every run. Every test that uses it prints its seed.
class TestRandom final
{
public:
    TestRandom();

    quint32 seed() const { return m_seed; }
    QRandomGenerator& generator() { return m_generator; }
    // A number in [low, high).
    int bounded(int low, int high) { return m_generator.bounded(low, high); }
    int bounded(int high) { return m_generator.bounded(high); }

private:
    quint32 m_seed;
    QRandomGenerator m_generator;
};

// Bytes that look random but are the same for a seed on every run, for test
// images whose content is fixed.
inline QByteArray pseudoRandomBytes(int size, uint32_t seed)
{
    QByteArray out(size, '\0');
    for (int i = 0; i < size; ++i) {
        seed = seed * 1664525u + 1013904223u;
        out[i] = char(seed >> 24);
    }
    return out;
}
