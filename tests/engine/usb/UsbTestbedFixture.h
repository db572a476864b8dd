#pragma once

#include "UsbTestbed.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

// Tests on emulated USB devices: skipped where the machine cannot host the
// testbed. A SetUp that adds to this one returns when IsSkipped().
class UsbTestbedFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::string why;
        if (!UsbTestbed::available(&why))
            GTEST_SKIP() << why;
        m_bed = std::make_unique<UsbTestbed>();
    }

    std::unique_ptr<UsbTestbed> m_bed;
};
