#pragma once

#include "runner/fleet_view.h"

#include <QByteArray>

#include <vector>

// A fleet view in the Prometheus text exposition format (version 0.0.4), as
// GET /metrics answers it: per controller its connection, counters and a
// round-trip histogram; per controller and item the latest verdict and
// round trip; per item over all controllers a round-trip histogram. The
// histograms carry one label each, so a fleet makes controllers x (23 + 3 x
// items) + 16 x items + 1 series, not a histogram per controller and item.
//
// Label values are the controller's "address:port" and the item's label,
// decoded as the window shows them (UTF-8 where valid, else Latin-1, so the
// format's UTF-8 always holds), then escaped by its rules (\\, \" and \n).
class TMetricsText {
public:
    // The view must outlive this; its controllers and items are fixed, so
    // their escaped labels are made once here.
    TMetricsText(const TFleetView& view, QByteArray version);

    // The whole exposition, written into one buffer sized after the last.
    QByteArray Render();

private:
    void WriteControllerFamilies(QByteArray& out) const;
    void WriteItemFamilies(QByteArray& out) const;
    void WriteHistograms(QByteArray& out) const;

    const TFleetView& m_view;
    const QByteArray m_version;
    std::vector<QByteArray> m_controllerLabels; // controller="..."
    std::vector<QByteArray> m_itemLabels;       // item="..."
    qsizetype m_lastSize = 0;
};

// A label's value as the exposition writes it, without the quotes.
QByteArray MetricsLabelValue(const QByteArray& bytes);
