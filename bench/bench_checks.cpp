// How long a reply check can hold the loop: a 1 MiB reply against runaway
// patterns (backtracking; a scan of the whole reply at every step), with
// PCRE2's JIT and with its interpreter, beside an everyday check. Prints the slowest and the median
// of several runs; exits 1 when a runaway check takes 50 ms or more.
#include "sequencing/reply_checks.h"

#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int kRuns = 20;
constexpr double kBudgetMs = 50;

struct TTimes {
    double slowest;
    double median;
};

TTimes TimeJudge(const QByteArray& checks, const QByteArray& reply, QByteArray* why) {
    const TReplyChecks rules = TReplyChecks::Parse(checks, QStringLiteral("bench"), {"T"});
    std::vector<double> ms;
    for (int i = 0; i < kRuns; ++i) {
        QElapsedTimer clock;
        clock.start();
        *why = rules.Judge("T", reply, 0).why;
        ms.push_back(double(clock.nsecsElapsed()) / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    return {ms.back(), ms[ms.size() / 2]};
}

} // namespace

int main() {
    const QByteArray runaway = QByteArray(1024 * 1024 - 1, 'a') + "]";
    struct TCase {
        const char* name;
        QByteArray checks;
        QByteArray reply;
        bool budgeted;
    };
    const TCase cases[] = {
        {"1 MiB against (a+)+$, JIT", "[T]\nmatch = '(a+)+$'", runaway, true},
        {"1 MiB against (a+)+$, interpreter", "[T]\nmatch = '(*NO_JIT)(a+)+$'", runaway, true},
        {"1 MiB against (?:(?=a+)a)+$, JIT", "[T]\nmatch = '(?:(?=a+)a)+$'", runaway, true},
        {"temperature in range", "[T]\nmatch = '\\[0A!rt=(-?\\d+(?:\\.\\d+)?)\\]'\nmax = 60",
         "[0A!rt=38.5]", false},
    };
    bool withinBudget = true;
    for (const TCase& c : cases) {
        QByteArray why;
        const TTimes times = TimeJudge(c.checks, c.reply, &why);
        std::printf("%-36s slowest %8.3f ms  median %8.3f ms  (%s)\n", c.name, times.slowest,
                    times.median, why.isEmpty() ? "pass" : why.constData());
        if (c.budgeted && times.slowest >= kBudgetMs)
            withinBudget = false;
    }
    return withinBudget ? 0 : 1;
}
