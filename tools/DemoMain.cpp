// quorvane-demo: a small kitchen whose threads hand work to each other and trace every step in
// nested scopes, so that a viewer shows indented, interleaved traces at once.

#include <getopt.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "quorvane/Trace.h"
#include "tools/common/NumberArgument.h"
#include "tools/common/StandardOutput.h"
#include "tools/common/StopRequest.h"
#include "tools/common/ToolCommandLine.h"

namespace {

constexpr const char* kProgram = "quorvane-demo";
constexpr int kExitFailure = 1;
constexpr std::uint32_t kDefaultSeconds = 5;
// Pace of one step: slow enough to read in the viewer, fast enough to fill it quickly.
constexpr int kMinStepMs = 40;
constexpr int kMaxStepMs = 160;
constexpr auto kStopCheckPeriod = std::chrono::milliseconds(100);

enum LongOnlyOption { kOptionForever = 256, kOptionVersion };

std::atomic<bool> g_stop{false};

bool stopping() {
    return g_stop.load() || stopRequested();
}

const char* const kDishes[] = {"omelette", "soup", "risotto", "pancakes", "salad", "curry"};

// A hand-over point between two threads; pop() gives up when the kitchen closes.
template <typename T>
class Handover {
  public:
    void push(T item) {
        {
            std::lock_guard lock(m_mutex);
            m_items.push_back(std::move(item));
        }
        m_ready.notify_one();
    }

    std::optional<T> pop() {
        std::unique_lock lock(m_mutex);
        while (m_items.empty()) {
            if (stopping()) return std::nullopt;
            m_ready.wait_for(lock, kStopCheckPeriod);
        }
        T item = std::move(m_items.front());
        m_items.pop_front();
        return item;
    }

  private:
    std::mutex m_mutex;
    std::condition_variable m_ready;
    std::deque<T> m_items;
};

struct Order {
    int table;
    const char* dish;
};

class Kitchen {
  public:
    void waiter() {
        int table = 0;
        while (!stopping()) {
            table = table % 8 + 1;
            QUORVANE_SCOPE("serveTable", "table=%d", table);
            const Order order = takeOrder(table);
            m_orders.push(order);
            pause();
            carryPlate();
        }
    }

    void chef() {
        while (std::optional<Order> order = m_orders.pop()) {
            QUORVANE_SCOPE("cook", "table=%d dish=%s", order->table, order->dish);
            prepare(order->dish);
            {
                QUORVANE_SCOPE("plate", "dish=%s", order->dish);
                pause();
            }
            m_dirtyPans.push(order->dish);
        }
    }

    void dishwasher() {
        while (std::optional<const char*> pan = m_dirtyPans.pop()) {
            QUORVANE_SCOPE("washPan", "after=%s", *pan);
            pause();
            quorvane::trace("rinse", "water=%dC", 40 + randomMs() % 20);
            pause();
        }
    }

  private:
    Order takeOrder(int table) {
        QUORVANE_SCOPE("takeOrder", "table=%d", table);
        const char* dish = kDishes[randomMs() % std::size(kDishes)];
        quorvane::trace("noteDish", "%s", dish);
        pause();
        return {table, dish};
    }

    void carryPlate() {
        QUORVANE_SCOPE("carryPlate");
        pause();
    }

    void prepare(const char* dish) {
        QUORVANE_SCOPE("prepare", "%s", dish);
        {
            QUORVANE_SCOPE("chop", "onions=%d", 1 + randomMs() % 3);
            pause();
        }
        {
            QUORVANE_SCOPE("season");
            quorvane::trace("taste", "salt ok");
            pause();
        }
    }

    int randomMs() {
        thread_local std::minstd_rand generator(std::random_device{}());
        return std::uniform_int_distribution<int>(kMinStepMs, kMaxStepMs)(generator);
    }

    void pause() { std::this_thread::sleep_for(std::chrono::milliseconds(randomMs())); }

    Handover<Order> m_orders;
    Handover<const char*> m_dirtyPans;
};

void printHelp() {
    std::printf(
        "Usage: quorvane-demo [OPTION]...\n"
        "Trace a small kitchen: a waiter, a chef and a dishwasher thread hand work to\n"
        "each other and trace every step in nested scopes. Start the viewer (or\n"
        "quorvane-tail) first to watch the indented traces arrive.\n"
        "\n"
        "  -s, --seconds=N   run for N seconds (default: %u)\n"
        "      --forever     run until interrupted\n"
        "  -h, --help        display this help and exit\n"
        "      --version     output version information and exit\n"
        "\n"
        "The mailbox is named by the environment variable QUORVANE_MAILBOX (default:\n"
        "QuorvaneTraceMailbox).\n"
        "\n"
        "Exit status: 0 when traces were posted, 1 when the mailbox could not be opened,\n"
        "2 for a usage error.\n",
        kDefaultSeconds);
}

}  // namespace

int main(int argc, char** argv) {
    static const option kOptions[] = {
        {"seconds", required_argument, nullptr, 's'},
        {"forever", no_argument, nullptr, kOptionForever},
        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, kOptionVersion},
        {nullptr, 0, nullptr, 0},
    };
    std::uint32_t seconds = kDefaultSeconds;
    bool forever = false;
    for (;;) {
        const int option = getopt_long(argc, argv, "s:h", kOptions, nullptr);
        if (option == -1) break;
        switch (option) {
            case 's':
                if (!parseUnsigned32(optarg, seconds))
                    usageError(kProgram, "invalid number of seconds '%s'", optarg);
                break;
            case kOptionForever:
                forever = true;
                break;
            case 'h':
                exitWithHelp(kProgram, printHelp);
            case kOptionVersion:
                exitWithVersion(kProgram);
            default:
                usageHint(kProgram);  // getopt has said what is wrong
        }
    }
    if (optind < argc) usageError(kProgram, "extra operand '%s'", argv[optind]);

    if (!quorvane::tracingEnabled()) {
        std::fprintf(stderr, "quorvane-demo: %s\n", quorvane::disabledReason());
        return kExitFailure;
    }

    installStopRequest();

    Kitchen kitchen;
    {
        std::vector<std::jthread> staff;
        staff.emplace_back([&kitchen] { kitchen.waiter(); });
        staff.emplace_back([&kitchen] { kitchen.chef(); });
        staff.emplace_back([&kitchen] { kitchen.dishwasher(); });

        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (!stopping() && (forever || std::chrono::steady_clock::now() < end)) {
            std::this_thread::sleep_for(kStopCheckPeriod);
        }
        g_stop = true;
    }

    std::fprintf(stderr, "quorvane-demo: posted %llu records to mailbox \"%s\"",
                 static_cast<unsigned long long>(quorvane::postedCount()),
                 quorvane::defaultTracer().mailboxName().c_str());
    if (const std::uint64_t dropped = quorvane::droppedCount(); dropped > 0) {
        std::fprintf(stderr, ", dropped %llu (the mailbox was full)",
                     static_cast<unsigned long long>(dropped));
    }
    std::fprintf(stderr, "\n");
    return EXIT_SUCCESS;
}
