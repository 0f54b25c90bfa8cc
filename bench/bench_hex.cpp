// Throughput of the firmware-image reader against srec_cat converting the same file.
//
// The file is a 4 MB synthetic image: 16-byte program records across upper address words 0x0000
// upwards (all folding into one 64 KB program image), with random contents, CR LF line ends.
#include "firmware/HexImage.h"
#include "firmware/HexWriter.h"
#include "protocol/Status.h"
#include "tests/support/TempDir.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;

namespace
{
constexpr std::size_t TARGET_SIZE = 4 * 1024 * 1024;

// The benchmark file, written once per run and removed at exit.
class CBenchImage
{
public:
    CBenchImage()
    {
        std::mt19937 rng(2024);
        CHexWriter writer("\r\n");
        std::uint8_t byData[16];
        for (std::uint32_t nAddress = 0; writer.Text().size() < TARGET_SIZE; nAddress += 16)
        {
            for (std::uint8_t& by : byData)
            {
                by = static_cast<std::uint8_t>(rng());
            }
            writer.Data(nAddress, byData, sizeof byData);
        }
        writer.End();
        m_strText = writer.Text();
        m_strPath = m_dir.Write(m_strText);
    }

    const std::string& Path() const { return m_strPath; }
    const std::string& Text() const { return m_strText; }

private:
    CTempDir m_dir;
    std::string m_strPath;
    std::string m_strText;
};

const CBenchImage& Image()
{
    static const CBenchImage image;
    return image;
}

void SetThroughput(benchmark::State& state)
{
    const double dBytes = static_cast<double>(Image().Text().size());
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(Image().Text().size()));
    // Decimal megabytes, shown per second.
    state.counters["MB"] =
        benchmark::Counter(dBytes / 1e6, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["file_MB"] = dBytes / 1e6;
}

// Both passes with their file reads, as an update runs them.
void BM_LoadHexFile(benchmark::State& state)
{
    CHexImage loader;
    for (auto _ : state)
    {
        if (loader.LoadFile(Image().Path()) != EStatus::Ok)
        {
            state.SkipWithError("LoadHexFile failed");
            return;
        }
        benchmark::DoNotOptimize(loader.m_pProgramImage.get());
    }
    SetThroughput(state);
}
BENCHMARK(BM_LoadHexFile)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same passes over text already in memory: the parsing alone.
void BM_LoadHexText(benchmark::State& state)
{
    CHexImage loader;
    for (auto _ : state)
    {
        if (loader.LoadText(Image().Text()) != EStatus::Ok)
        {
            state.SkipWithError("LoadHexText failed");
            return;
        }
        benchmark::DoNotOptimize(loader.m_pProgramImage.get());
    }
    SetThroughput(state);
}
BENCHMARK(BM_LoadHexText)->Unit(benchmark::kMillisecond)->UseRealTime();

std::string FindProgram(const char* pszName)
{
    std::istringstream path(std::getenv("PATH") ? std::getenv("PATH") : "");
    for (std::string strDir; std::getline(path, strDir, ':');)
    {
        const fs::path candidate = fs::path(strDir) / pszName;
        if (access(candidate.c_str(), X_OK) == 0)
        {
            return candidate.string();
        }
    }
    return {};
}

// Reference: srec_cat reading the same file and writing the binary to /dev/null, as a child
// process; the figure includes its start-up, which is small against 4 MB.
void BM_SrecCat(benchmark::State& state)
{
    std::string strSrecCat = FindProgram("srec_cat");
    if (strSrecCat.empty())
    {
        state.SkipWithError("srec_cat (Debian package srecord) is not installed");
        return;
    }
    std::vector<std::string> args{strSrecCat, Image().Path(), "-intel",
                                  "-o",       "/dev/null",    "-binary"};
    std::vector<char*> argv;
    for (std::string& str : args)
    {
        argv.push_back(str.data());
    }
    argv.push_back(nullptr);
    for (auto _ : state)
    {
        pid_t pid = 0;
        int nWait = 0;
        if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0 ||
            waitpid(pid, &nWait, 0) != pid || !WIFEXITED(nWait) || WEXITSTATUS(nWait) != 0)
        {
            state.SkipWithError("srec_cat failed");
            return;
        }
    }
    SetThroughput(state);
}
BENCHMARK(BM_SrecCat)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
} // namespace

BENCHMARK_MAIN();
