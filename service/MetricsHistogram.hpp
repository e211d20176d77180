#pragma once

// A latency histogram in the Prometheus text format's terms: cumulative counts per upper bound
// in seconds, a sum and a count. Not thread-safe: its owner guards it.

#include <array>
#include <cstdint>
#include <string>

namespace aurelo::service {

class MetricsHistogram {
public:
    static constexpr std::array<double, 12> kBounds = {0.001, 0.005, 0.01, 0.025, 0.05, 0.1,
                                                       0.25,  0.5,   1,    2.5,   5,    10};

    void observe(double seconds) {
        for (std::size_t i = 0; i < kBounds.size(); ++i)
            if (seconds <= kBounds[i])
                ++m_buckets[i];
        m_sum += seconds;
        ++m_count;
    }

    // The _bucket, _sum and _count lines of `name`, `labels` ("route=\"/x\"" or empty) on each.
    std::string render(const std::string& name, const std::string& labels) const {
        std::string text;
        const std::string joined = labels.empty() ? "" : labels + ",";
        char bound[32];
        for (std::size_t i = 0; i < kBounds.size(); ++i) {
            std::snprintf(bound, sizeof bound, "%g", kBounds[i]);
            text += name + "_bucket{" + joined + "le=\"" + bound + "\"} " +
                    std::to_string(m_buckets[i]) + "\n";
        }
        text += name + "_bucket{" + joined + "le=\"+Inf\"} " + std::to_string(m_count) + "\n";
        const std::string braces = labels.empty() ? "" : "{" + labels + "}";
        std::snprintf(bound, sizeof bound, "%.6f", m_sum);
        text += name + "_sum" + braces + " " + bound + "\n";
        text += name + "_count" + braces + " " + std::to_string(m_count) + "\n";
        return text;
    }

private:
    std::array<std::uint64_t, kBounds.size()> m_buckets{};
    double m_sum = 0;
    std::uint64_t m_count = 0;
};

} // namespace aurelo::service
