#pragma once
// The rounds as one self-contained HTML page: per round its scorecard, per hole a drawing of
// its points to scale (north up), with inline SVG and CSS only, nothing fetched, no scripts.
#include <span>
#include <string>

#include "logbook/round_list.h"

namespace logbook {

std::string ReportHtml(std::span<const RoundSummary> rounds);

}  // namespace logbook
