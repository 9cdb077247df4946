#include "runner/status_page.h"

#include "base/text.h"

#include <QDateTime>

#include <algorithm>
#include <numeric>

namespace {

// Bytes from a file or a controller as HTML text, decoded as the window
// shows them.
QByteArray Html(const QByteArray& bytes) {
    const QByteArray text = DisplayText(bytes).toUtf8();
    QByteArray html;
    html.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '&':
            html.append("&amp;");
            break;
        case '<':
            html.append("&lt;");
            break;
        case '>':
            html.append("&gt;");
            break;
        case '"':
            html.append("&quot;");
            break;
        case '\'':
            html.append("&#39;");
            break;
        default:
            html.append(c);
        }
    }
    return html;
}

QByteArray Time(qint64 ms) {
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString("yyyy-MM-dd hh:mm:ss").toLatin1() +
           " UTC";
}

QByteArray StateText(const TControllerView& controller) {
    switch (controller.state) {
    case TControllerState::Connecting:
        return "connecting";
    case TControllerState::Up:
        return "up";
    case TControllerState::Down:
        return "down since " + Time(controller.stateSinceMs);
    case TControllerState::GivenUp:
        return "given up at " + Time(controller.stateSinceMs);
    }
    return {};
}

const char* StateClass(TControllerState state) {
    switch (state) {
    case TControllerState::Connecting:
        return "connecting";
    case TControllerState::Up:
        return "up";
    case TControllerState::Down:
        return "down";
    case TControllerState::GivenUp:
        return "given-up";
    }
    return "";
}

// The places of the controllers the page lists, in the order it lists them.
std::vector<size_t> ListedControllers(const std::vector<TControllerView>& controllers) {
    std::vector<size_t> order(controllers.size());
    std::iota(order.begin(), order.end(), size_t(0));
    const size_t listed = std::min(order.size(), kStatusPageControllers);
    std::partial_sort(order.begin(), order.begin() + std::ptrdiff_t(listed), order.end(),
                      [&](size_t a, size_t b) {
                          const TControllerView& x = controllers[a];
                          const TControllerView& y = controllers[b];
                          if (x.Failing() != y.Failing())
                              return x.Failing();
                          if (x.ChangedMs() != y.ChangedMs())
                              return x.ChangedMs() > y.ChangedMs();
                          return a < b;
                      });
    order.resize(listed);
    return order;
}

void WriteTotals(QByteArray& page, const TFleetView& view) {
    uint64_t states[4] = {};
    uint64_t failingChecks = 0, replies = 0, resends = 0, outages = 0;
    for (const TControllerView& controller : view.Controllers()) {
        ++states[int(controller.state)];
        failingChecks += std::any_of(
            controller.items.begin(), controller.items.end(),
            [](const TItemView& item) { return item.verdict.outcome == TVerdict::TOutcome::Fail; });
        replies += controller.replies;
        resends += controller.resends;
        outages += controller.outages;
    }
    const std::pair<const char*, uint64_t> totals[] = {
        {"Controllers", view.Controllers().size()},
        {"Up", states[int(TControllerState::Up)]},
        {"Connecting", states[int(TControllerState::Connecting)]},
        {"Down", states[int(TControllerState::Down)]},
        {"Given up", states[int(TControllerState::GivenUp)]},
        {"Failing a check", failingChecks},
        {"Replies", replies},
        {"Resends", resends},
        {"Outages", outages}};
    page.append("<table id=\"totals\">\n");
    for (const auto& [name, count] : totals)
        page.append("<tr><th>")
            .append(name)
            .append("</th><td>")
            .append(QByteArray::number(count))
            .append("</td></tr>\n");
    page.append("</table>\n");
}

void WriteItemCell(QByteArray& page, const TItemView& item) {
    const bool failed = item.verdict.outcome == TVerdict::TOutcome::Fail;
    page.append(failed ? "<td class=\"fail\">" : "<td>");
    if (item.lastRttMs < 0) {
        page.append("</td>");
        return;
    }
    page.append("<code>").append(Html(item.reply.left(kStatusPageReplyBytes)));
    if (item.reply.size() > kStatusPageReplyBytes)
        page.append("...");
    page.append("</code>");
    if (failed)
        page.append("<br>fail: ").append(Html(item.verdict.why));
    else if (item.verdict.outcome == TVerdict::TOutcome::Pass)
        page.append("<br>pass");
    page.append("</td>");
}

void WriteController(QByteArray& page, const TControllerView& controller) {
    page.append("<tr class=\"").append(controller.Failing() ? "failing" : "ok").append("\"><td>");
    page.append(Html(controller.controller)).append("</td><td class=\"");
    page.append(StateClass(controller.state)).append("\">").append(StateText(controller));
    page.append("</td><td>");
    const TFailureView& failure = controller.lastFailure;
    if (failure.timeMs > 0) {
        page.append(Time(failure.timeMs)).append(' ');
        if (!failure.item.isEmpty())
            page.append(Html(failure.item)).append(": ");
        page.append(Html(failure.reason));
    }
    page.append("</td>");
    for (const TItemView& item : controller.items)
        WriteItemCell(page, item);
    page.append("</tr>\n");
}

void WriteControllers(QByteArray& page, const TFleetView& view) {
    page.append("<table id=\"controllers\">\n<thead><tr><th>Controller</th><th>State</th>"
                "<th>Last failure</th>");
    for (const TFleetItemView& item : view.Items())
        page.append("<th>").append(Html(item.label)).append("</th>");
    page.append("</tr></thead>\n<tbody>\n");
    const std::vector<size_t> listed = ListedControllers(view.Controllers());
    for (const size_t c : listed)
        WriteController(page, view.Controllers()[c]);
    page.append("</tbody>\n</table>\n");
    const size_t rest = view.Controllers().size() - listed.size();
    if (rest > 0)
        page.append("<p id=\"more\">and ")
            .append(QByteArray::number(quint64(rest)))
            .append(rest == 1 ? " more controller</p>\n" : " more controllers</p>\n");
}

} // namespace

QByteArray StatusPage(const TFleetView& view, qint64 nowMs) {
    QByteArray page;
    const QByteArray name = Html(view.Name());
    page.append("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
                "<meta http-equiv=\"refresh\" content=\"5\">\n<title>zyl-test-run: ")
        .append(name)
        .append("</title>\n<style>\n"
                "body { font-family: sans-serif; margin: 1em; }\n"
                "table { border-collapse: collapse; margin-bottom: 1em; }\n"
                "th, td { border: 1px solid #ccc; padding: 2px 6px; text-align: left; "
                "vertical-align: top; }\n"
                "#totals th { font-weight: normal; }\n"
                "td.fail { color: #ff0000; }\n"
                "td.down, td.given-up { color: #ff0000; font-weight: bold; }\n"
                "code { white-space: pre-wrap; }\n"
                "</style>\n</head>\n<body>\n<h1>")
        .append(name)
        .append("</h1>\n<p>Started ")
        .append(Time(view.StartedMs()))
        .append(", shown at ")
        .append(Time(nowMs))
        .append(".</p>\n");
    WriteTotals(page, view);
    WriteControllers(page, view);
    page.append("</body>\n</html>\n");
    return page;
}
