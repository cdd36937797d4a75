#pragma once

#include "device/InstrumentSimulator.h"
#include "device/USB.h"

#include <gtest/gtest.h>

#include <memory>

// Every test talks to the simulator through the real link module.
class SimulatorTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_EQ(USBInitialize(m_simulator), STATUS_SUCCESS); }
    void TearDown() override { USBFinalize(); }

    std::shared_ptr<TInstrumentSimulator> m_simulator = std::make_shared<TInstrumentSimulator>();
};
