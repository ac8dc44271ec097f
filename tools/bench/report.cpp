#include "bench/report.h"

#include <cstdio>
#include <sstream>
#include <string>

namespace bench {

namespace {

struct Json {
    std::ostringstream s;
    bool first = true;
    void key(const std::string& k) {
        s << (first ? "" : ",") << "\n  \"" << k << "\": ";
        first = false;
    }
    void num(const std::string& k, double v) {
        key(k);
        s << v;
    }
    void raw(const std::string& k, const std::string& v) {
        key(k);
        s << v;
    }
    std::string str() const { return "{" + s.str() + "\n}"; }
};

std::string framingJson(const FramingResult& r) {
    std::ostringstream s;
    s << "{";
    for (int k = 0; k < 4; ++k)
        s << (k ? ", " : "") << "\"pause_" << kPauseMs[k] << "ms\": {\"pauses\": " << r.total[k]
          << ", \"split\": " << r.split[k] << "}";
    s << ", \"generator_jitter_over_0.5ms\": " << r.jitter
      << ", \"split_though_actual_pause_below_9.5ms\": " << r.wrongSplit
      << ", \"joined_though_actual_pause_above_10.5ms\": " << r.wrongJoin
      << ", \"direct_reader_split_below_9.5ms\": " << r.directWrongSplit
      << ", \"direct_reader_joined_above_10.5ms\": " << r.directWrongJoin
      << ", \"rows_per_second\": " << r.rowsPerSecond
      << ", \"relay_added_latency_median_ms\": " << percentile(r.latencyMs, 0.5)
      << ", \"relay_added_latency_p99_ms\": " << percentile(r.latencyMs, 0.99)
      << ", \"relay_latency_samples\": " << r.latencyMs.size()
      << ", \"socat_latency_median_ms\": " << percentile(r.socatMs, 0.5)
      << ", \"socat_latency_p99_ms\": " << percentile(r.socatMs, 0.99) << "}";
    return s.str();
}

std::string flowJson(const FlowResult& r) {
    std::ostringstream s;
    s << "{\"rate_each_way_Bps\": " << r.rate << ", \"sent\": [" << r.sent[0] << ", " << r.sent[1]
      << "], \"received\": [" << r.received[0] << ", " << r.received[1] << "], \"lost\": ["
      << r.lost[0] << ", " << r.lost[1] << "], \"missing_at_end\": [" << r.missing[0] << ", "
      << r.missing[1] << "], \"duplicated_or_reordered\": [" << r.dup[0] << ", " << r.dup[1]
      << "], \"rss_growth_kb\": " << (r.rssEndKb - r.rssStartKb) << "}";
    return s.str();
}

std::string headlessJson(const HeadlessResult& hl) {
    std::ostringstream s;
    s << "{\"startup_to_ports_open_ms\": " << hl.startupMs
      << ", \"idle_cpu_percent_auto_running_no_traffic\": " << hl.idleCpu
      << ", \"relay_added_latency_median_ms\": " << percentile(hl.latencyMs, 0.5)
      << ", \"relay_added_latency_p99_ms\": " << percentile(hl.latencyMs, 0.99)
      << ", \"relay_latency_samples\": " << hl.latencyMs.size()
      << ", \"socat_latency_median_ms\": " << percentile(hl.socatMs, 0.5)
      << ", \"socat_latency_p99_ms\": " << percentile(hl.socatMs, 0.99)
      << ", \"throughput_1MBps_recording_print\": " << flowJson(hl.flow) << "}";
    return s.str();
}

void printJson(const Figures& f) {
    Json j;
    j.raw("window", f.window ? "true" : "false");
    j.num("startup_to_window_ms", f.startupMs);
    j.raw("framing_gap10ms", framingJson(f.framing[0]));
    j.raw("framing_gap10ms_with_2_cpu_hogs", framingJson(f.framing[1]));
    j.raw("framing_gap10ms_with_2_cpu_hogs_and_1000_rows_per_s", framingJson(f.framing[2]));
    j.raw("throughput_1MBps_recording", flowJson(f.flow));
    std::string lad = "[";
    for (std::size_t i = 0; i < f.ladder.size(); ++i)
        lad += (i ? ", " : "") + flowJson(f.ladder[i]);
    j.raw("throughput_ladder", lad + "]");
    j.num("highest_lossless_rate_each_way_Bps", f.highest);
    j.num("idle_cpu_percent_ports_open_stopped", f.idleOpen);
    j.num("idle_cpu_percent_auto_running_no_traffic", f.idleAuto);
    j.raw("headless", headlessJson(f.headless));
    const auto figures = [](const std::vector<double>& v) {
        std::ostringstream s;
        s << "{\"median_ms\": " << percentile(v, 0.5) << ", \"p99_ms\": " << percentile(v, 0.99)
          << ", \"samples\": " << v.size() << "}";
        return s.str();
    };
    const SlowReaderFigures& slow = f.slowReaders;
    j.raw("headless_relay_latency_slow_readers",
          "{\"plain\": " + figures(slow.plainMs) +
              ", \"print_read_at_1KBps\": " + figures(slow.slowPrintMs) +
              ", \"pcap_pipe_never_read\": " + figures(slow.stalledCaptureMs) + "}");
    std::printf("%s\n", j.str().c_str());
}

std::string latency(const std::vector<double>& v) {
    char b[64];
    std::snprintf(b, sizeof b, "%.2f / %.2f", percentile(v, 0.5), percentile(v, 0.99));
    return std::string(b);
}

// The three framing runs side by side, a row for each pause length, then one for each figure.
void printFramingTable(const FramingResult (&runs)[3]) {
    std::printf("%-44s %s\n",
                "framing, gap 10 ms, beside it:", "nothing | 2 CPU hogs | 2 CPU hogs + rows");
    for (int k = 0; k < 4; ++k) {
        std::string cells;
        for (const FramingResult& r : runs)
            cells += (cells.empty() ? "" : " | ") + std::to_string(r.split[k]) + "/" +
                     std::to_string(r.total[k]);
        std::printf("%-44s %s split\n",
                    ("  pauses of " + std::to_string(kPauseMs[k]) + " ms").c_str(), cells.c_str());
    }
    auto row3 = [&](const char* what, auto cell) {
        std::string cells;
        for (const FramingResult& r : runs) cells += (cells.empty() ? "" : " | ") + cell(r);
        std::printf("%-44s %s\n", what, cells.c_str());
    };
    row3("  split <9.5 / joined >10.5 ms (real pause)", [](const FramingResult& r) {
        return std::to_string(r.wrongSplit) + " / " + std::to_string(r.wrongJoin);
    });
    row3("  the same, direct reader beside", [](const FramingResult& r) {
        return std::to_string(r.directWrongSplit) + " / " + std::to_string(r.directWrongJoin);
    });
    row3("  rows written per second",
         [](const FramingResult& r) { return std::to_string(static_cast<long>(r.rowsPerSecond)); });
    row3("relay added latency ms, median / p99",
         [](const FramingResult& r) { return latency(r.latencyMs); });
    row3("socat beside, median / p99", [](const FramingResult& r) { return latency(r.socatMs); });
}

void printTable(const Figures& f) {
    std::printf("\n%-44s %s\n", "figure", "value");
    std::printf("%-44s %.1f ms\n", "start-up to window shown", f.startupMs);
    printFramingTable(f.framing);
    const FlowResult& flow = f.flow;
    std::printf("%-44s lost %zu/%zu, missing %zu/%zu, dup %zu/%zu, RSS +%ld kB\n",
                "1 MB/s each way, recording", flow.lost[0], flow.lost[1], flow.missing[0],
                flow.missing[1], flow.dup[0], flow.dup[1], flow.rssEndKb - flow.rssStartKb);
    std::printf("%-44s %.0f MB/s\n", "highest lossless rate each way", f.highest / 1e6);
    std::printf("%-44s %.2f %% / %.2f %%\n", "idle CPU: open+stopped / auto no traffic", f.idleOpen,
                f.idleAuto);
    const HeadlessResult& hl = f.headless;
    std::printf("%-44s %.1f ms\n", "headless: start-up to ports open", hl.startupMs);
    std::printf("%-44s %.2f %%\n", "headless: idle CPU, auto, no traffic", hl.idleCpu);
    std::printf("%-44s %s (socat %s)\n", "headless: relay added latency ms, median / p99",
                latency(hl.latencyMs).c_str(), latency(hl.socatMs).c_str());
    std::printf("%-44s lost %zu/%zu, missing %zu/%zu, dup %zu/%zu, RSS +%ld kB\n",
                "headless: 1 MB/s each way, record + print", hl.flow.lost[0], hl.flow.lost[1],
                hl.flow.missing[0], hl.flow.missing[1], hl.flow.dup[0], hl.flow.dup[1],
                hl.flow.rssEndKb - hl.flow.rssStartKb);
    const SlowReaderFigures& slow = f.slowReaders;
    std::printf("%-44s %s | %s | %s\n", "headless: relay latency, plain | slow | stalled",
                latency(slow.plainMs).c_str(), latency(slow.slowPrintMs).c_str(),
                latency(slow.stalledCaptureMs).c_str());
}

}  // namespace

void report(const Figures& f) {
    printJson(f);
    printTable(f);
}

}  // namespace bench
