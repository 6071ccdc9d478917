// Records a PulseAudio source through parec and tells, in wall-clock time,
// when sound started and when it stopped for good.
//
//   soundprobe record --device SRC --seconds S --out FILE [--ready FILE]
//       writes one line per 20 ms window: its start (ms since the epoch) and
//       its RMS level in dBFS. Ends early, writing what it has, on SIGTERM.
//       Creates the ready file once sound data flows: a null sink may take up
//       to two seconds to deliver the first block to a new recording.
//   soundprobe analyze --in FILE [--floor DB] [--due-ms T] [--stop-ms T]
//       prints onset_ms (first window above the floor at or after T - 500 ms,
//       relative to T) and silent_ms (start of the final quiet stretch,
//       relative to the stop moment).
//   soundprobe tone --out FILE --mib N
//       writes a 16-bit stereo 48 kHz WAV of N MiB of sample data, a
//       440 Hz tone, a block at a time.
//
// Each sample's wall-clock time comes from the arrivals: a chunk arrives no
// earlier than its last sample was rendered, so the smallest (arrival - samples
// so far / rate) over all chunks is the tightest start time consistent with
// every arrival. That removes parec's start-up and buffering from the figures.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

namespace {

constexpr int kRate = 16000;
constexpr int kWindow = kRate / 50; // 20 ms

volatile sig_atomic_t g_stop = 0;

void onSignal(int)
{
    g_stop = 1;
}

double nowEpochMs()
{
    return std::chrono::duration<double, std::milli>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string arg(int argc, char **argv, const char *name, const char *fallback = nullptr)
{
    for (int i = 2; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], name) == 0)
            return argv[i + 1];
    if (!fallback) {
        std::fprintf(stderr, "soundprobe: %s is required\n", name);
        std::exit(2);
    }
    return fallback;
}

int record(int argc, char **argv)
{
    const std::string device = arg(argc, argv, "--device", "roustabell_null.monitor");
    const double seconds = std::atof(arg(argc, argv, "--seconds", "10").c_str());
    const std::string out = arg(argc, argv, "--out");
    const std::string ready = arg(argc, argv, "--ready", "");

    int pipeFds[2];
    if (pipe(pipeFds) != 0) {
        std::perror("soundprobe: pipe");
        return 1;
    }
    const pid_t parec = fork();
    if (parec == 0) {
        dup2(pipeFds[1], 1);
        close(pipeFds[0]);
        close(pipeFds[1]);
        const std::string dev = "--device=" + device;
        execlp("parec", "parec", dev.c_str(), "--format=s16le", "--rate=16000", "--channels=1",
               "--latency-msec=10", "--raw", static_cast<char *>(nullptr));
        std::perror("soundprobe: parec");
        _exit(127);
    }
    close(pipeFds[1]);
    struct sigaction sa
    {
    };
    sa.sa_handler = onSignal;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);

    std::vector<int16_t> samples;
    samples.reserve(static_cast<size_t>(kRate * (seconds + 2)));
    double anchor = std::numeric_limits<double>::infinity();
    const double begun = nowEpochMs();
    const double until = begun + seconds * 1000.0;
    double firstArrival = 0, lastArrival = 0;
    char buffer[4096];
    size_t carry = 0; // a byte of a sample split across reads
    char half = 0;
    while (!g_stop && nowEpochMs() < until) {
        const ssize_t n = read(pipeFds[0], buffer, sizeof buffer);
        const double arrival = nowEpochMs();
        if (n <= 0) {
            if (n < 0 && errno == EINTR)
                continue;
            break;
        }
        if (samples.empty() && !carry) {
            firstArrival = arrival;
            if (!ready.empty())
                if (std::FILE *r = std::fopen(ready.c_str(), "w"))
                    std::fclose(r);
        }
        lastArrival = arrival;
        size_t i = 0;
        if (carry) {
            const char bytes[2] = {half, buffer[0]};
            int16_t s;
            std::memcpy(&s, bytes, 2);
            samples.push_back(s);
            i = 1;
            carry = 0;
        }
        for (; i + 1 < static_cast<size_t>(n); i += 2) {
            int16_t s;
            std::memcpy(&s, buffer + i, 2);
            samples.push_back(s);
        }
        if (i < static_cast<size_t>(n)) {
            half = buffer[i];
            carry = 1;
        }
        anchor = std::min(anchor, arrival - 1000.0 * static_cast<double>(samples.size()) / kRate);
    }
    kill(parec, SIGTERM);
    close(pipeFds[0]);
    waitpid(parec, nullptr, 0);
    if (samples.size() < static_cast<size_t>(kWindow)) {
        std::fprintf(stderr, "soundprobe: nothing recorded from %s\n", device.c_str());
        return 1;
    }

    // Samples arriving slower than real time would mean drops: say so.
    std::fprintf(stderr,
                 "soundprobe: first data %.0f ms after the start; %.0f ms of sound arrived over "
                 "%.0f ms; first sample at %+.0f ms\n",
                 firstArrival - begun, 1000.0 * static_cast<double>(samples.size()) / kRate,
                 lastArrival - firstArrival, anchor - begun);
    std::FILE *f = std::fopen(out.c_str(), "w");
    if (!f) {
        std::perror("soundprobe: out");
        return 1;
    }
    for (size_t start = 0; start + kWindow <= samples.size(); start += kWindow) {
        double sum = 0;
        for (size_t k = start; k < start + kWindow; ++k)
            sum += static_cast<double>(samples[k]) * samples[k];
        const double rms = std::sqrt(sum / kWindow) / 32768.0;
        const double db = rms > 0 ? 20.0 * std::log10(rms) : -200.0;
        std::fprintf(f, "%.1f %.1f\n", anchor + 1000.0 * static_cast<double>(start) / kRate, db);
    }
    std::fclose(f);
    return 0;
}

int analyze(int argc, char **argv)
{
    const std::string in = arg(argc, argv, "--in");
    const double floorDb = std::atof(arg(argc, argv, "--floor", "-50").c_str());
    const double dueMs = std::atof(arg(argc, argv, "--due-ms", "0").c_str());
    const double stopMs = std::atof(arg(argc, argv, "--stop-ms", "0").c_str());
    std::ifstream f(in);
    std::vector<std::pair<double, double>> windows;
    double t, db;
    while (f >> t >> db)
        windows.emplace_back(t, db);
    if (windows.empty()) {
        std::fprintf(stderr, "soundprobe: no windows in %s\n", in.c_str());
        return 1;
    }
    const double windowMs = 1000.0 * kWindow / kRate;
    std::printf("recorded_from_ms=%.1f\nrecorded_to_ms=%.1f\n", windows.front().first,
                windows.back().first + windowMs);
    double peak = -200;
    for (const auto &[start, level] : windows)
        peak = std::max(peak, level);
    std::printf("peak_dbfs=%.1f\n", peak);
    int rc = 0;
    if (dueMs > 0) {
        // Sound well before the due moment would be a false alarm, not an onset.
        bool found = false;
        for (const auto &[start, level] : windows) {
            if (start + windowMs >= dueMs - 500 && level > floorDb) {
                std::printf("onset_ms=%.1f\n", start - dueMs);
                found = true;
                break;
            }
        }
        if (!found) {
            std::printf("onset_ms=none\n");
            rc = 1;
        }
    }
    if (stopMs > 0) {
        double quietFrom = -1;
        for (auto it = windows.rbegin(); it != windows.rend(); ++it) {
            if (it->second > floorDb) {
                quietFrom = it->first + windowMs;
                break;
            }
        }
        if (quietFrom < 0) {
            std::printf("silent_ms=none\n");
            rc = 1;
        } else if (quietFrom >= windows.back().first) {
            std::printf("silent_ms=never\n");
            rc = 1;
        } else {
            std::printf("silent_ms=%.1f\n", quietFrom - stopMs);
        }
    }
    return rc;
}

void putLe(std::string &to, uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        to.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

int tone(int argc, char **argv)
{
    std::string out;
    long mib = 0;
    for (int i = 2; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--out") == 0)
            out = argv[i + 1];
        else if (std::strcmp(argv[i], "--mib") == 0)
            mib = std::atol(argv[i + 1]);
    }
    // The RIFF sizes are 32 bits.
    if (out.empty() || mib < 1 || mib > 4000) {
        std::fprintf(stderr, "soundprobe tone: --out FILE --mib N (1 to 4000)\n");
        return 2;
    }
    const uint32_t data = static_cast<uint32_t>(mib) << 20;
    std::string head = "RIFF";
    putLe(head, 36 + data, 4);
    head += "WAVEfmt ";
    putLe(head, 16, 4);
    putLe(head, 1, 2);         // PCM
    putLe(head, 2, 2);         // channels
    putLe(head, 48000, 4);     // rate
    putLe(head, 48000 * 4, 4); // bytes a second
    putLe(head, 4, 2);         // block
    putLe(head, 16, 2);        // bits
    head += "data";
    putLe(head, data, 4);
    // A second holds 440 whole periods, so the blocks join without a click.
    std::string block;
    for (int i = 0; i < 48000; ++i) {
        const double v = 0.3 * std::sin(2 * M_PI * 440.0 * i / 48000.0);
        const auto sample = static_cast<uint32_t>(static_cast<int16_t>(std::lround(v * 32767)));
        putLe(block, sample, 2);
        putLe(block, sample, 2);
    }
    std::FILE *f = std::fopen(out.c_str(), "wb");
    if (f == nullptr) {
        std::perror(out.c_str());
        return 1;
    }
    bool ok = std::fwrite(head.data(), 1, head.size(), f) == head.size();
    for (uint64_t left = data; ok && left > 0;) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(left, block.size()));
        ok = std::fwrite(block.data(), 1, n, f) == n;
        left -= n;
    }
    ok = std::fclose(f) == 0 && ok;
    if (!ok)
        std::perror(out.c_str());
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc >= 2 && std::strcmp(argv[1], "record") == 0)
        return record(argc, argv);
    if (argc >= 2 && std::strcmp(argv[1], "analyze") == 0)
        return analyze(argc, argv);
    if (argc >= 2 && std::strcmp(argv[1], "tone") == 0)
        return tone(argc, argv);
    std::fprintf(stderr, "usage: soundprobe record --device SRC --seconds S --out FILE "
                         "[--ready FILE]\n"
                         "       soundprobe analyze --in FILE [--floor DB] [--due-ms T] "
                         "[--stop-ms T]\n"
                         "       soundprobe tone --out FILE --mib N\n");
    return 2;
}
