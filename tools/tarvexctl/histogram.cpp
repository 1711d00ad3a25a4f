// tarvexctl histogram: draws the histograms of one or more sets of samples
// (one number per line, as pacing_bench and latency_bench write them with
// --samples) as one SVG: one panel per set on a common value axis, with
// the set's median, 99th percentile and maximum. Counts are on a log scale,
// so that the rare long laps show beside the thousands of punctual ones.
//
//   tarvexctl histogram --svg FILE [--title TEXT] [--unit TEXT] [--bins N]
//                       [--from X] [--to X] LABEL=FILE...
// Without --from/--to the range runs from the lowest 0.1 % to the highest
// 0.1 % of all samples; samples beyond it are counted in the end bins.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "commands.h"

namespace tarvexctl {

namespace {

struct Series {
  std::string label;
  std::vector<double> values;  // sorted
  double at(double q) const {
    return values[std::min(values.size() - 1, static_cast<std::size_t>(q * static_cast<double>(values.size())))];
  }
};

const char* const kColours[] = {"#7f8c8d", "#2980b9", "#c0392b", "#27ae60", "#8e44ad", "#d35400"};

bool readSeries(const std::string& entry, Series& out) {
  const std::size_t eq = entry.find('=');
  if (eq == std::string::npos || eq == 0) {
    std::fprintf(stderr, "tarvexctl histogram: %s is not LABEL=FILE\n", entry.c_str());
    return false;
  }
  out.label = entry.substr(0, eq);
  const std::string file = entry.substr(eq + 1);
  std::ifstream in(file);
  if (!in) {
    std::fprintf(stderr, "tarvexctl histogram: cannot read %s\n", file.c_str());
    return false;
  }
  for (std::string line; std::getline(in, line);) {
    char* end = nullptr;
    const double v = std::strtod(line.c_str(), &end);
    if (end != line.c_str() && std::isfinite(v)) out.values.push_back(v);
  }
  if (out.values.empty()) {
    std::fprintf(stderr, "tarvexctl histogram: no numbers in %s\n", file.c_str());
    return false;
  }
  std::sort(out.values.begin(), out.values.end());
  return true;
}

std::string escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '<') out += "&lt;";
    else if (c == '>') out += "&gt;";
    else if (c == '&') out += "&amp;";
    else out += c;
  }
  return out;
}

std::string svgHistogram(const std::vector<Series>& series, const std::string& title, const std::string& unit,
                         int bins, double from, double to) {
  // One panel per set, on the same value axis, one above the other.
  const double width = 900, left = 70, right = 30, top = 58, panelH = 130, gap = 30, bottom = 50;
  const double plotW = width - left - right;
  const double height = top + series.size() * (panelH + gap) + bottom;
  const double binWidth = (to - from) / bins;
  const auto x = [&](double v) { return left + plotW * (v - from) / (to - from); };

  std::string svg;
  char buf[640];
  std::snprintf(buf, sizeof buf,
                "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\" "
                "font-family=\"sans-serif\" font-size=\"12\">\n<rect width=\"100%%\" height=\"100%%\" fill=\"white\"/>\n"
                "<text x=\"%.0f\" y=\"24\" font-size=\"15\">%s</text>\n",
                width, height, left, escaped(title).c_str());
  svg += buf;
  for (std::size_t s = 0; s < series.size(); ++s) {
    const Series& d = series[s];
    const char* colour = kColours[s % (sizeof kColours / sizeof kColours[0])];
    std::vector<long> counts(static_cast<std::size_t>(bins), 0);
    long most = 1;
    for (double v : d.values) {
      const int b = std::clamp(static_cast<int>(std::floor((v - from) / binWidth)), 0, bins - 1);
      most = std::max(most, ++counts[static_cast<std::size_t>(b)]);
    }
    const double top0 = top + s * (panelH + gap);
    const double decades = std::max(1.0, std::ceil(std::log10(static_cast<double>(most) + 1.0)));
    const auto y = [&](long n) { return top0 + panelH - panelH * std::log10(static_cast<double>(n) + 1.0) / decades; };
    for (int dec = 0; dec <= static_cast<int>(decades); ++dec) {
      const long n = static_cast<long>(std::pow(10.0, dec)) - 1;
      std::snprintf(buf, sizeof buf,
                    "<line x1=\"%.0f\" y1=\"%.1f\" x2=\"%.0f\" y2=\"%.1f\" stroke=\"#eee\"/>\n"
                    "<text x=\"%.0f\" y=\"%.1f\" text-anchor=\"end\" font-size=\"10\">%ld</text>\n",
                    left, y(n), width - right, y(n), left - 6, y(n) + 4, n);
      svg += buf;
    }
    std::string bars;
    for (int b = 0; b < bins; ++b) {
      const long n = counts[static_cast<std::size_t>(b)];
      if (n == 0) continue;
      std::snprintf(buf, sizeof buf, "<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\"/>",
                    x(from + b * binWidth), y(n), std::max(0.5, x(from + binWidth) - x(from)), top0 + panelH - y(n));
      bars += buf;
    }
    svg += "<g fill=\"" + std::string(colour) + "\">" + bars + "</g>\n";
    std::snprintf(buf, sizeof buf,
                  "<rect x=\"%.0f\" y=\"%.0f\" width=\"%.0f\" height=\"%.0f\" fill=\"none\" stroke=\"#444\"/>\n"
                  "<text x=\"%.0f\" y=\"%.0f\" fill=\"%s\">%s: median %.6g, p99 %.6g, "
                  "max %.6g %s (%zu samples)</text>\n",
                  left, top0, plotW, panelH, left, top0 - 7, colour, escaped(d.label).c_str(),
                  d.at(0.5), d.at(0.99), d.values.back(), escaped(unit).c_str(), d.values.size());
    svg += buf;
  }
  const double axisY = top + series.size() * (panelH + gap) - gap;  // below the last panel
  for (int t = 0; t <= 6; ++t) {
    const double v = from + (to - from) * t / 6.0;
    std::snprintf(buf, sizeof buf,
                  "<line x1=\"%.1f\" y1=\"%.0f\" x2=\"%.1f\" y2=\"%.0f\" stroke=\"#444\"/>\n"
                  "<text x=\"%.1f\" y=\"%.0f\" text-anchor=\"middle\">%.6g</text>\n",
                  x(v), axisY, x(v), axisY + 5, x(v), axisY + 20, v);
    svg += buf;
  }
  std::snprintf(buf, sizeof buf,
                "<text x=\"%.0f\" y=\"%.0f\" text-anchor=\"middle\">%s; counts on a log scale; the end bins hold "
                "everything beyond them</text>\n",
                left + plotW / 2, axisY + 40, escaped(unit).c_str());
  svg += buf;
  return svg + "</svg>\n";
}

}  // namespace

int runHistogram(Context&, const HistogramOptions& options) {
  std::vector<Series> series;
  for (const std::string& entry : options.sets) {
    Series s;
    if (!readSeries(entry, s)) return 1;
    series.push_back(std::move(s));
  }
  const std::string& svgFile = options.svgFile;
  const std::string& unit = options.unit;
  double from = options.from, to = options.to;
  if (std::isnan(from)) {
    from = series[0].at(0.001);
    for (const Series& s : series) from = std::min(from, s.at(0.001));
  }
  if (std::isnan(to)) {
    to = series[0].at(0.999);
    for (const Series& s : series) to = std::max(to, s.at(0.999));
  }
  if (!(to > from)) to = from + 1.0;
  std::FILE* f = std::fopen(svgFile.c_str(), "wb");
  if (f == nullptr) {
    std::fprintf(stderr, "tarvexctl histogram: cannot write %s\n", svgFile.c_str());
    return 1;
  }
  const std::string svg = svgHistogram(series, options.title, unit, options.bins, from, to);
  const bool written = std::fwrite(svg.data(), 1, svg.size(), f) == svg.size();
  if (std::fclose(f) != 0 || !written) {
    std::fprintf(stderr, "tarvexctl histogram: cannot write %s\n", svgFile.c_str());
    return 1;
  }
  for (const Series& s : series) {
    std::printf("%-24s %8zu  median %10.3f  p99 %10.3f  max %10.3f %s\n", s.label.c_str(), s.values.size(),
                s.at(0.5), s.at(0.99), s.values.back(), unit.c_str());
  }
  std::printf("histogram written to %s\n", svgFile.c_str());
  return 0;
}

}  // namespace tarvexctl
