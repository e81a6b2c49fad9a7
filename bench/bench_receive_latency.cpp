// From the last byte of a device message written to the line to its line appearing in the
// window's log, with the window's own 100 ms receive timer doing the polling.
#include <QApplication>
#include <QPlainTextEdit>
#include <QTest>
#include <QTextBlock>
#include <atomic>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench_common.h"
#include "bench_window.h"
#include "remote/key_table.h"

namespace {

struct Message {
    std::string bytes;
    QString line;  // what the log should show
};

std::vector<Message> makeMessages(int count) {
    std::vector<const remote::RemoteKey*> keys;
    for (const remote::RemoteKey& key : remote::RemoteKeyTable) {
        if (!key.isReserved()) {
            keys.push_back(&key);
        }
    }
    std::vector<Message> messages;
    for (int i = 0; i < count; ++i) {
        if (i % 5 == 4) {
            // Every fifth is a key report: one byte, logged by the key's name.
            const remote::RemoteKey& key = *keys[static_cast<std::size_t>(i) % keys.size()];
            messages.push_back(
                {std::string(1, char(key.code->value)),
                 QString::fromLatin1(key.receivedName.data(), qsizetype(key.receivedName.size()))});
        } else {
            const std::string text = "status " + std::to_string(i) + " ok";
            messages.push_back({text, QString::fromStdString(text)});
        }
    }
    return messages;
}

}  // namespace

int main(int argc, char** argv) {
    bench::preferOffscreenPlatform();
    QApplication application(argc, argv);
    const int count = static_cast<int>(bench::numberOption(argc, argv, "--messages", 100));

    bench::WindowOnPty window;
    if (!window.open()) {
        return 1;
    }
    const std::vector<Message> messages = makeMessages(count);
    auto written = std::make_unique<std::atomic<bench::Clock::rep>[]>(std::size_t(count));

    std::vector<double> latencies;
    int wrong = 0;
    QPlainTextEdit* log = window.log();
    QObject::connect(log, &QPlainTextEdit::textChanged, [&] {
        const auto now = bench::Clock::now();
        const std::size_t k = latencies.size() + std::size_t(wrong);
        if (k >= messages.size()) {
            return;
        }
        const QString line = log->document()->lastBlock().text();
        if (line != messages[k].line) {
            ++wrong;
            std::fprintf(stderr, "message %zu logged as \"%s\"\n", k, qPrintable(line));
            return;
        }
        const bench::Clock::time_point sent{bench::Clock::duration(written[k].load())};
        latencies.push_back(bench::msBetween(sent, now));
    });

    // Gaps longer than two polls keep messages apart; their irregularity spreads the moment a
    // message lands over the whole poll period.
    std::thread device([&] {
        std::mt19937 random(4242);
        std::uniform_int_distribution<int> gapUs(220'000, 420'000);
        auto next = bench::Clock::now() + std::chrono::milliseconds(300);
        for (int i = 0; i < count; ++i) {
            std::this_thread::sleep_until(next);
            window.device.send(messages[std::size_t(i)].bytes);
            written[std::size_t(i)] = bench::Clock::now().time_since_epoch().count();
            next += std::chrono::microseconds(gapUs(random));
        }
    });

    bench::runEventLoop(500 * count + 5000,
                        [&] { return latencies.size() + std::size_t(wrong) >= messages.size(); });
    device.join();

    std::printf("messages: %d, logged as sent: %zu, logged otherwise or missing: %zu\n", count,
                latencies.size(), messages.size() - latencies.size());
    bench::printSummary("last_byte_to_log_line_ms", bench::summarize(latencies));
    bench::printValue("receive_messages_not_logged", double(messages.size() - latencies.size()));
    return 0;
}
