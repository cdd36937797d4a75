// Writes the seed corpora: fuzz_make_seeds CORPUS_DIR makes CORPUS_DIR/<target>/<seed>.
// Blobs come from the tests' record builder and the encoder, replies from the simulator
// over the real link, so the seeds follow the formats when those change.

#include "app/DisplaySettings.h"
#include "device/DeviceProtocol.h"
#include "device/InstrumentSimulator.h"
#include "device/ScreenFrame.h"
#include "device/USB.h"
#include "fuzz/FuzzedReplyBackend.h"
#include "store/MsrResult.h"
#include "tests/compute/RecordBuilder.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using TBytes = std::vector<std::uint8_t>;

[[noreturn]] void Die(const std::string& message)
{
    std::fprintf(stderr, "fuzz_make_seeds: %s\n", message.c_str());
    std::exit(1);
}

std::filesystem::path CorpusDir;

void Write(const std::string& target, const std::string& name, std::span<const std::uint8_t> bytes)
{
    const std::filesystem::path dir = CorpusDir / target;
    std::filesystem::create_directories(dir);
    std::ofstream out(dir / name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        Die("cannot write " + (dir / name).string());
}

void WriteBlob(const std::string& name, const std::string& blob)
{
    Write(
        "fuzz_msr_result", name, std::span(reinterpret_cast<const std::uint8_t*>(blob.data()), blob.size()));
}

// A download input: the selector, then the reply.
void WriteReply(const std::string& target, const std::string& name, std::size_t records,
    std::optional<std::size_t> record, const TBytes& reply)
{
    TBytes input{ReplySelector(records, record)};
    input.insert(input.end(), reply.begin(), reply.end());
    Write(target, name, input);
}

// What the instrument answers, however long: asked for more than it sends, a reply ends early.
TBytes Exchange(std::uint32_t command)
{
    TBytes reply(DEVICE_MSR_DATA_SIZE + 64);
    std::uint32_t received = 0;
    const TUSBStatus status = USBExchange(command, nullptr, 0, reply.data(),
        command == CMD_START_READ ? 0 : static_cast<std::uint32_t>(reply.size()), &received);
    if (status != STATUS_SUCCESS)
        Die("command " + std::to_string(command) + " failed");
    reply.resize(received);
    return reply;
}

// Every reply of a download from `instrument`, in the order the worker asks for them.
struct TReplies
{
    TBytes Info;
    TBytes Name;
    std::vector<TBytes> Headers;
    std::vector<TBytes> Blocks;
    TBytes Screen;
};

TReplies Download(const TSimulatedInstrument& instrument)
{
    const auto simulator = std::make_shared<TInstrumentSimulator>();
    simulator->Plug(instrument);
    if (USBInitialize(simulator) != STATUS_SUCCESS)
        Die("the simulator did not open");
    TReplies replies;
    replies.Info = Exchange(CMD_DEVICE_INFO);
    replies.Name = Exchange(CMD_DEVICE_NAME);
    Exchange(CMD_START_READ);
    for (std::size_t i = 0; i < instrument.Measurements.size(); ++i) {
        replies.Headers.push_back(Exchange(CMD_RECORD_HEADER));
        replies.Blocks.push_back(Exchange(CMD_RECORD_DATA));
    }
    replies.Screen = Exchange(CMD_SCREEN);
    USBFinalize();
    return replies;
}

TSimulatedInstrument Changed(std::size_t records, const std::function<void(TSimulatedInstrument&)>& change)
{
    TSimulatedInstrument instrument = FuzzInstrument(records);
    change(instrument);
    return instrument;
}

void MakeBlobSeeds()
{
    WriteBlob(
        "record-30s", EncodeMsrResult(MakeRecord(30, 10, StepCurve(1, 0.5f, 0.75f, 1.0f), Constant(20.0f))));
    // Three hours at a 30 s period: big inputs slow every mutation down.
    WriteBlob("record-3h",
        EncodeMsrResult(MakeRecord(10800, 30, StepCurve(120, 2.0f, 2.4f, 4.1f), Constant(21.5f))));
    WriteBlob("header-only", EncodeMsrResult(MakeRecord(60, 0, Constant(1.0f), Constant(20.0f))));

    TMsrResult twoArrays = MakeRecord(600, 60, StepCurve(3, 1.0f, 1.5f, 2.0f), Constant(19.5f));
    twoArrays.Data.resize(2);
    const std::string two = EncodeMsrResult(twoArrays);
    WriteBlob("two-arrays-and-a-cut-one", two + two.substr(MSR_HEADER_SIZE, 7));
    WriteBlob("cut-header", two.substr(0, 40));

    const TSimulatedMeasurement& measurement = FuzzInstrument(1).Measurements[0];
    const TBytes block = SimulatedSampleBlock(measurement);
    TMsrResult downloaded;
    BuildMsrResult(measurement.Header,
        std::span<const std::uint8_t, DEVICE_MSR_DATA_SIZE>(block.data(), block.size()), downloaded);
    WriteBlob("downloaded", EncodeMsrResult(downloaded));
}

void MakeReplySeeds()
{
    for (std::size_t records = 1; records <= FUZZ_MAX_RECORDS; ++records) {
        const TReplies replies = Download(FuzzInstrument(records));
        WriteReply("fuzz_reply_info", "info-" + std::to_string(records), records, std::nullopt, replies.Info);
        if (records == 1) {
            WriteReply("fuzz_reply_name", "name", records, std::nullopt, replies.Name);
            WriteReply(
                "fuzz_reply_samples", "samples-every-record", records, std::nullopt, replies.Blocks[0]);
            Write("fuzz_reply_screen", "test-picture", replies.Screen);
            Write("fuzz_reply_screen", "top-bands",
                TBytes(replies.Screen.begin(), replies.Screen.begin() + 300));
        } else if (records == 2) {
            WriteReply("fuzz_reply_header", "header-every-record", records, std::nullopt, replies.Headers[0]);
        } else {
            WriteReply("fuzz_reply_header", "header-2-of-3", records, 1, replies.Headers[1]);
            WriteReply("fuzz_reply_samples", "samples-2-of-3", records, 1, replies.Blocks[1]);
        }
    }

    const auto info = [](const std::string& name, std::size_t records, auto change) {
        WriteReply("fuzz_reply_info", name, records, std::nullopt, Download(Changed(records, change)).Info);
    };
    info("info-no-name", 1, [](TSimulatedInstrument& i) { i.NameLength = 0; });
    info("info-more-counted", 2, [](TSimulatedInstrument& i) { i.RecordCount = 5; });
    info("info-other-version", 1, [](TSimulatedInstrument& i) { i.DataVersion = 0x00010001; });

    const auto name = [](const std::string& seed, auto change) {
        WriteReply("fuzz_reply_name", seed, 2, std::nullopt, Download(Changed(2, change)).Name);
    };
    name("name-other", [](TSimulatedInstrument& i) { i.Name = "CEMENT-VORKAST-1.1"; });
    name("name-trailing-zero", [](TSimulatedInstrument& i) { i.NameLength = 20; });

    const auto header = [](const std::string& seed, auto change) {
        WriteReply("fuzz_reply_header", seed, 1, 0, Download(Changed(1, change)).Headers[0]);
    };
    header("header-period-zero", [](TSimulatedInstrument& i) { i.Measurements[0].Header.Period = 0; });
    header("header-no-samples", [](TSimulatedInstrument& i) { i.Measurements[0].Header.Duration = 30; });

    // A laboratory's three-hour run fills a third of the block.
    TSimulatedInstrument realistic = FuzzInstrument(1);
    realistic.Measurements = MakeRealisticInstrument(1, 7).Measurements;
    WriteReply("fuzz_reply_samples", "samples-three-hours", 1, 0, Download(realistic).Blocks[0]);

    TSimulatedInstrument blank = FuzzInstrument(1);
    blank.Screen.fill(0);
    Write("fuzz_reply_screen", "blank", Download(blank).Screen);
}

void MakeSettingsSeeds()
{
    const auto write = [](const std::string& name, std::string_view text) {
        Write("fuzz_settings", name,
            std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    };
    // As the program writes it.
    const std::filesystem::path file
        = std::filesystem::temp_directory_path() / ("cementlab-seed-" + std::to_string(::getpid()) + ".ini");
    TDisplaySettings settings;
    settings.VorkastGraphicType = 2;
    settings.SeriesColor[0] = 0x0000FF;
    SaveDisplaySettings(file.string(), settings);
    std::ifstream in(file, std::ios::binary);
    std::ostringstream saved;
    saved << in.rdbuf();
    std::filesystem::remove(file);
    write("saved", saved.str());
    write("edited",
        "; kept by the program\n[graphics]\n  vorkastgraphictype = $3 \nOther=x\n\n"
        "[Window]\nLeft=-10\n[DEVICESCREENSHOT]\nPenColor=0x00FF00\nBackgroundColor=-1\n");
    write("odd",
        "[]\nPenColor=1\n[ Graphics ]\r\r\nSeriesColor0=+2147483647\n=5\n[DeviceScreenShot\n"
        "BackgroundColor=2147483648\nPenColor=$123456789");
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_make_seeds CORPUS_DIR\n");
        return 2;
    }
    CorpusDir = argv[1];
    MakeBlobSeeds();
    MakeReplySeeds();
    MakeSettingsSeeds();
    return 0;
}
