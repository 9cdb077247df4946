#pragma once

#include "runner/fleet_view.h"
#include "runner/hosts_file.h"
#include "runner/http_service.h"
#include "runner/metrics_text.h"
#include "runner/nagios_report.h"
#include "runner/run_definition.h"
#include "runner/run_options.h"
#include "runner/run_report.h"
#include "runner/service_notify.h"
#include "sequencing/reply_checks.h"

#include <QByteArray>
#include <QList>

#include <cstdio>
#include <memory>

// A run as the tools a site already runs see it: the fleet view its
// controllers' runs feed, served as metrics and a status page (--metrics),
// told to a service manager (when one listens), and judged as a plugin
// (--nagios) once the run has ended.
class TSiteReports {
public:
    // Listens at once for --metrics; throws Exception when it cannot.
    TSiteReports(const TRunDefinition& definition, const QList<TEndpoint>& endpoints,
                 const TReplyChecks& checks, const TRunOptions& options, QByteArray version);

    TFleetView& View() { return m_view; }
    // Where the run's own lines go: standard output, or nowhere with
    // --nagios, whose readers take standard output for its report alone.
    FILE* RunOutput() const { return m_discarded ? m_discarded.get() : stdout; }
    // Dialling has begun: the service is ready.
    void Started() { m_notify.Ready(); }
    // Every controller's run has ended.
    void Finished() { m_notify.Stopping(); }
    // --nagios: prints the plugin's report of the ended run and returns its
    // status; status is the fleet's, failed holds the runs that did not pass.
    int WriteNagios(int status, const QList<TRunSummary>& failed) const;

private:
    // "N controllers: U up, D down, R replies", as the service's status.
    QByteArray StatusLine() const;

    const TNagiosThresholds m_limits;
    const std::unique_ptr<FILE, int (*)(FILE*)> m_discarded;
    TFleetView m_view;
    TMetricsText m_metrics;
    std::unique_ptr<THttpService> m_http;
    TServiceNotify m_notify;
};

// An error that refuses the run: on standard error, on one line whatever
// bytes it quotes, or with --nagios as the plugin's UNKNOWN line.
void WriteRefusal(bool nagios, const QByteArray& text);
