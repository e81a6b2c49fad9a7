#include "bench_common.h"

#include <QByteArray>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace bench {

namespace {
// Nearest-rank, so a reported percentile is always a value that was measured.
double rank(const std::vector<double>& sorted, double fraction) {
    const auto index = static_cast<std::size_t>(std::ceil(fraction * double(sorted.size())));
    return sorted[std::min(sorted.size() - 1, index == 0 ? 0 : index - 1)];
}
}  // namespace

Summary summarize(std::vector<double> samples) {
    Summary s;
    if (samples.empty()) {
        return s;
    }
    std::sort(samples.begin(), samples.end());
    s.n = samples.size();
    s.min = samples.front();
    s.max = samples.back();
    s.median = rank(samples, 0.5);
    s.p99 = rank(samples, 0.99);
    return s;
}

void printSummary(const std::string& key, const Summary& s) {
    std::printf("RESULT %s n=%zu median=%.3f p99=%.3f min=%.3f max=%.3f\n", key.c_str(), s.n,
                s.median, s.p99, s.min, s.max);
    std::fflush(stdout);
}

void printValue(const std::string& key, double value) {
    std::printf("RESULT %s value=%.3f\n", key.c_str(), value);
    std::fflush(stdout);
}

double numberOption(int argc, char** argv, const std::string& name, double fallback) {
    for (int i = 1; i + 1 < argc; ++i) {
        if (name == argv[i]) {
            return std::strtod(argv[i + 1], nullptr);
        }
    }
    return fallback;
}

void preferOffscreenPlatform() {
    if (qgetenv("QT_QPA_PLATFORM").isEmpty()) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
}

void runEventLoop(int ms, const std::function<bool()>& done) {
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    QTimer check;
    if (done) {
        QObject::connect(&check, &QTimer::timeout, &loop, [&] {
            if (done()) {
                loop.quit();
            }
        });
        check.start(20);
    }
    loop.exec();
}

}  // namespace bench
