// The program with the instrument simulator plugged in instead of a real instrument:
// a dozen realistic measurements and a display picture, for trying the program out.

#include "app/Application.h"
#include "device/InstrumentSimulator.h"

#include <cmath>

namespace {

void SetPixel(TScreenReply& screen, int column, int row)
{
    screen[static_cast<std::size_t>((row / 8) * DISPLAY_WIDTH + column)]
        |= static_cast<std::uint8_t>(1u << (row % 8));
}

// A framed contraction curve rising and levelling off, as the instrument draws a run.
TScreenReply DemoScreen()
{
    TScreenReply screen{};
    for (int c = 0; c < DISPLAY_WIDTH; ++c) {
        SetPixel(screen, c, 0);
        SetPixel(screen, c, DISPLAY_HEIGHT - 1);
    }
    for (int r = 0; r < DISPLAY_HEIGHT; ++r) {
        SetPixel(screen, 0, r);
        SetPixel(screen, DISPLAY_WIDTH - 1, r);
    }
    for (int c = 8; c < DISPLAY_WIDTH - 8; ++c) {
        const double t = (c - 8) / 112.0;
        const int r = 56 - static_cast<int>(std::lround(44.0 * (1.0 - std::exp(-3.5 * t))));
        SetPixel(screen, c, r);
    }
    for (int r = 8; r < 57; ++r)
        SetPixel(screen, 8, r);
    for (int c = 8; c < DISPLAY_WIDTH - 8; ++c)
        SetPixel(screen, c, 56);
    return screen;
}

std::shared_ptr<TUSBBackend> DemoInstrument()
{
    auto simulator = std::make_shared<TInstrumentSimulator>();
    TSimulatedInstrument instrument = MakeRealisticInstrument(12, 20261208);
    instrument.Screen = DemoScreen();
    simulator->Plug(std::move(instrument));
    return simulator;
}

} // namespace

int main(int argc, char** argv)
{
    TProgramOptions options;
    options.Backend = DemoInstrument;
    return RunProgram(argc, argv, options);
}
