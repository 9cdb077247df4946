#include "runner/metrics_text.h"

#include "base/text.h"

#include <array>
#include <charconv>

namespace {

void Append(QByteArray& out, const char* text) {
    out.append(text, qsizetype(std::char_traits<char>::length(text)));
}

template <typename T> void AppendNumber(QByteArray& out, T value) {
    char digits[32];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    out.append(digits, end - digits);
}

void Family(QByteArray& out, const char* name, const char* type, const char* help) {
    Append(out, "# HELP ");
    Append(out, name);
    out.append(' ');
    Append(out, help);
    Append(out, "\n# TYPE ");
    Append(out, name);
    out.append(' ');
    Append(out, type);
    out.append('\n');
}

// "name{labels" without the closing brace, for a sample or a bucket.
void Open(QByteArray& out, const char* name, const QByteArray& labels) {
    Append(out, name);
    out.append('{');
    out.append(labels);
}

template <typename T>
void Sample(QByteArray& out, const char* name, const QByteArray& labels, T value) {
    Open(out, name, labels);
    Append(out, "} ");
    AppendNumber(out, value);
    out.append('\n');
}

// The sample names of one histogram family.
struct THistogramNames {
    explicit THistogramNames(const char* family)
        : bucket(QByteArray(family) + "_bucket"), sum(QByteArray(family) + "_sum"),
          count(QByteArray(family) + "_count") {}
    QByteArray bucket, sum, count;
};

// The bounds of TRttBuckets in seconds, as the le label writes them.
const std::array<QByteArray, TRttBuckets::kBoundsMs.size()>& BucketBounds() {
    static const auto bounds = [] {
        std::array<QByteArray, TRttBuckets::kBoundsMs.size()> texts;
        for (size_t b = 0; b < texts.size(); ++b) {
            texts[b] = ",le=\"";
            AppendNumber(texts[b], TRttBuckets::kBoundsMs[b] / 1000);
            texts[b] += "\"} ";
        }
        return texts;
    }();
    return bounds;
}

// Cumulative buckets, sum and count of one histogram.
void Histogram(QByteArray& out, const THistogramNames& names, const QByteArray& labels,
               const TRttBuckets& buckets) {
    for (size_t b = 0; b < TRttBuckets::kBoundsMs.size(); ++b) {
        Open(out, names.bucket.constData(), labels);
        out.append(BucketBounds()[b]);
        AppendNumber(out, buckets.AtMost(b));
        out.append('\n');
    }
    Open(out, names.bucket.constData(), labels);
    Append(out, ",le=\"+Inf\"} ");
    AppendNumber(out, buckets.Count());
    out.append('\n');
    Sample(out, names.sum.constData(), labels, buckets.SumMs() / 1000);
    Sample(out, names.count.constData(), labels, buckets.Count());
}

// The counters every controller has, in the order they are written.
struct TCounterFamily {
    const char* name;
    const char* help;
    uint64_t TControllerView::*field;
};
constexpr std::array<TCounterFamily, 5> kCounters{{
    {"zyl_replies_total", "Complete replies from the controller.", &TControllerView::replies},
    {"zyl_resends_total", "Commands sent again because their reply was late.",
     &TControllerView::resends},
    {"zyl_late_replies_total", "Replies that came after their command was sent again or given up.",
     &TControllerView::lateReplies},
    {"zyl_unsolicited_bytes_total", "Bytes that came while no command awaited its reply.",
     &TControllerView::unsolicitedBytes},
    {"zyl_outages_total", "Times the connection could not be made, was lost or was given up.",
     &TControllerView::outages},
}};

} // namespace

QByteArray MetricsLabelValue(const QByteArray& bytes) {
    const QByteArray shown = DisplayText(bytes).toUtf8();
    QByteArray value;
    value.reserve(shown.size());
    for (const char c : shown) {
        if (c == '\\' || c == '"')
            value.append('\\').append(c);
        else if (c == '\n')
            value.append("\\n");
        else
            value.append(c);
    }
    return value;
}

TMetricsText::TMetricsText(const TFleetView& view, QByteArray version)
    : m_view(view), m_version(std::move(version)) {
    for (const TControllerView& controller : view.Controllers())
        m_controllerLabels.push_back("controller=\"" + MetricsLabelValue(controller.controller) +
                                     '"');
    for (const TFleetItemView& item : view.Items())
        m_itemLabels.push_back("item=\"" + MetricsLabelValue(item.label) + '"');
}

QByteArray TMetricsText::Render() {
    QByteArray out;
    // The first time, room for lines of about 96 bytes: a buffer that grows
    // by copying costs more than the writing.
    const size_t lines = m_controllerLabels.size() * (24 + 3 * m_itemLabels.size());
    out.reserve(m_lastSize > 0 ? m_lastSize + m_lastSize / 8 : qsizetype(4096 + 96 * lines));
    WriteControllerFamilies(out);
    WriteItemFamilies(out);
    WriteHistograms(out);
    Family(out, "zyl_build_info", "gauge", "The runner's version, in its label.");
    Append(out, "zyl_build_info{version=\"");
    out.append(MetricsLabelValue(m_version));
    Append(out, "\"} 1\n");
    m_lastSize = out.size();
    return out;
}

void TMetricsText::WriteControllerFamilies(QByteArray& out) const {
    const std::vector<TControllerView>& controllers = m_view.Controllers();
    Family(out, "zyl_up", "gauge", "1 while the controller is connected and cycling, else 0.");
    for (size_t c = 0; c < controllers.size(); ++c)
        Sample(out, "zyl_up", m_controllerLabels[c],
               int(controllers[c].state == TControllerState::Up));
    for (const TCounterFamily& family : kCounters) {
        Family(out, family.name, "counter", family.help);
        for (size_t c = 0; c < controllers.size(); ++c)
            Sample(out, family.name, m_controllerLabels[c], controllers[c].*family.field);
    }
    Family(out, "zyl_last_reply_timestamp_seconds", "gauge",
           "When the latest reply completed, in seconds since the epoch.");
    for (size_t c = 0; c < controllers.size(); ++c)
        if (controllers[c].lastReplyMs > 0)
            Sample(out, "zyl_last_reply_timestamp_seconds", m_controllerLabels[c],
                   double(controllers[c].lastReplyMs) / 1000);
}

void TMetricsText::WriteItemFamilies(QByteArray& out) const {
    // Writes one family's samples for every controller's items that have one.
    const auto each = [&](const char* name, auto has, auto value) {
        const std::vector<TControllerView>& controllers = m_view.Controllers();
        for (size_t c = 0; c < controllers.size(); ++c)
            for (size_t i = 0; i < controllers[c].items.size(); ++i) {
                const TItemView& item = controllers[c].items[i];
                if (!has(item))
                    continue;
                Open(out, name, m_controllerLabels[c]);
                out.append(',').append(m_itemLabels[i]);
                Append(out, "} ");
                value(out, item);
                out.append('\n');
            }
    };
    Family(out, "zyl_check_success", "gauge",
           "1 when the item's latest reply passed its check, 0 when it failed.");
    each(
        "zyl_check_success",
        [](const TItemView& item) {
            return item.checked && item.verdict.outcome != TVerdict::TOutcome::Unchecked;
        },
        [](QByteArray& o, const TItemView& item) {
            o.append(item.verdict.outcome == TVerdict::TOutcome::Pass ? '1' : '0');
        });
    Family(out, "zyl_check_failures_total", "counter",
           "Replies of the item that failed their check.");
    each(
        "zyl_check_failures_total", [](const TItemView& item) { return item.checked; },
        [](QByteArray& o, const TItemView& item) { AppendNumber(o, item.checkFailures); });
    Family(out, "zyl_last_rtt_seconds", "gauge",
           "The round trip of the item's latest reply, from the command's first sending.");
    each(
        "zyl_last_rtt_seconds", [](const TItemView& item) { return item.lastRttMs >= 0; },
        [](QByteArray& o, const TItemView& item) { AppendNumber(o, item.lastRttMs / 1000); });
}

void TMetricsText::WriteHistograms(QByteArray& out) const {
    Family(out, "zyl_reply_rtt_seconds", "histogram",
           "Round trips of the controller's replies, from each command's first sending.");
    const THistogramNames perController("zyl_reply_rtt_seconds");
    const std::vector<TControllerView>& controllers = m_view.Controllers();
    for (size_t c = 0; c < controllers.size(); ++c)
        Histogram(out, perController, m_controllerLabels[c], controllers[c].rtt);
    Family(out, "zyl_item_rtt_seconds", "histogram",
           "Round trips of the item's replies over all controllers.");
    const THistogramNames perItem("zyl_item_rtt_seconds");
    for (size_t i = 0; i < m_view.Items().size(); ++i)
        Histogram(out, perItem, m_itemLabels[i], m_view.Items()[i].rtt);
}
