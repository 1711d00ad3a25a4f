// tarvexctl formula: checks a filter formula the way the library does and
// shows how the chain answers a test signal, cycle by cycle (2 ms each), as a
// table, as CSV, or as an SVG plot.
//
//   tarvexctl formula "GAIN(EMALP(VALUE;10);2)" [--input step|impulse|sine|ramp]
//             [--cycles N] [--amplitude A] [--frequency HZ] [--csv] [--svg FILE]
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "commands.h"
#include "filter/formula_parser.h"

namespace tarvexctl {

namespace {

constexpr double kCycleS = 0.002;

struct Signal {
  std::string shape = "step";
  double amplitude = 1.0;
  double frequencyHz = 1.0;
  int cycles = 500;

  // The input at cycle k (0-based); steps and impulses start at cycle 10 so
  // the plot shows the rest before them.
  double at(int k) const {
    const int start = 10;
    if (shape == "step") return k >= start ? amplitude : 0.0;
    if (shape == "impulse") return k == start ? amplitude : 0.0;
    if (shape == "ramp") return amplitude * k / std::max(1, cycles - 1);
    return amplitude * std::sin(6.283185307179586 * frequencyHz * kCycleS * k);  // sine
  }
};

std::string svgPlot(const std::string& formula, const Signal& signal,
                    const std::vector<double>& in, const std::vector<double>& out) {
  const double width = 800, height = 400, margin = 50;
  double lo = 0.0, hi = 0.0;
  for (double v : in) lo = std::min(lo, v), hi = std::max(hi, v);
  for (double v : out) {
    if (std::isfinite(v)) lo = std::min(lo, v), hi = std::max(hi, v);
  }
  if (hi - lo < 1e-12) hi = lo + 1.0;
  const double pad = (hi - lo) * 0.05;
  lo -= pad;
  hi += pad;
  const auto x = [&](int k) { return margin + (width - 2 * margin) * k / std::max(1, signal.cycles - 1); };
  const auto y = [&](double v) { return height - margin - (height - 2 * margin) * (v - lo) / (hi - lo); };
  const auto polyline = [&](const std::vector<double>& values, const char* colour) {
    std::string s = "<polyline fill=\"none\" stroke=\"" + std::string(colour) + "\" stroke-width=\"1.5\" points=\"";
    char point[64];
    for (std::size_t k = 0; k < values.size(); ++k) {
      if (!std::isfinite(values[k])) continue;
      std::snprintf(point, sizeof point, "%.2f,%.2f ", x(static_cast<int>(k)), y(values[k]));
      s += point;
    }
    return s + "\"/>\n";
  };
  std::string escaped;
  for (char c : formula) {
    if (c == '<') escaped += "&lt;";
    else if (c == '>') escaped += "&gt;";
    else if (c == '&') escaped += "&amp;";
    else escaped += c;
  }
  char buf[512];
  std::string svg;
  std::snprintf(buf, sizeof buf,
                "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\" "
                "font-family=\"sans-serif\" font-size=\"12\">\n<rect width=\"100%%\" height=\"100%%\" fill=\"white\"/>\n",
                width, height);
  svg += buf;
  std::snprintf(buf, sizeof buf,
                "<line x1=\"%.0f\" y1=\"%.2f\" x2=\"%.0f\" y2=\"%.2f\" stroke=\"#bbb\"/>\n"
                "<rect x=\"%.0f\" y=\"%.0f\" width=\"%.0f\" height=\"%.0f\" fill=\"none\" stroke=\"#444\"/>\n",
                margin, y(0.0), width - margin, y(0.0), margin, margin, width - 2 * margin, height - 2 * margin);
  svg += buf;
  svg += polyline(in, "#999999");
  svg += polyline(out, "#c0392b");
  std::snprintf(buf, sizeof buf,
                "<text x=\"%.0f\" y=\"30\">%s</text>\n"
                "<text x=\"%.0f\" y=\"%.0f\">0 ms</text>\n<text x=\"%.0f\" y=\"%.0f\" text-anchor=\"end\">%.0f ms</text>\n"
                "<text x=\"5\" y=\"%.0f\">%.3g</text>\n<text x=\"5\" y=\"%.0f\">%.3g</text>\n"
                "<text x=\"%.0f\" y=\"30\" text-anchor=\"end\" fill=\"#999999\">input (%s)</text>\n"
                "<text x=\"%.0f\" y=\"45\" text-anchor=\"end\" fill=\"#c0392b\">output</text>\n</svg>\n",
                margin, escaped.substr(0, 200).c_str(), margin, height - margin + 18, width - margin,
                height - margin + 18, (signal.cycles - 1) * kCycleS * 1000.0, margin + 4, hi,
                height - margin, lo, width - margin, signal.shape.c_str(), width - margin);
  svg += buf;
  return svg;
}

}  // namespace

int runFormula(Context&, const FormulaOptions& options) {
  const std::string& formula = options.formula;
  Signal signal;
  signal.shape = options.input;
  signal.cycles = options.cycles;
  signal.amplitude = options.amplitude;
  signal.frequencyHz = options.frequencyHz;
  const bool csv = options.csv;
  const std::string& svgFile = options.svgFile;

  tarvex::FormulaFault fault;
  const auto chain = tarvex::parseFilterString(formula, &fault);
  if (chain == nullptr || !chain->enabled) {
    std::printf("invalid: %s\n", chain == nullptr ? "out of memory" : tarvex::describeFault(fault).c_str());
    return 1;
  }
  if (!csv) std::printf("valid\n");

  std::vector<double> in(static_cast<std::size_t>(signal.cycles));
  std::vector<double> out(in.size());
  for (int k = 0; k < signal.cycles; ++k) {
    in[k] = signal.at(k);
    out[k] = tarvex::evaluateChain(*chain, in[k], 1.0, 1.0, 1.0);
  }
  std::printf(csv ? "cycle,time_ms,input,output\n" : "%8s %10s %14s %14s\n", "cycle", "time_ms", "input", "output");
  for (int k = 0; k < signal.cycles; ++k) {
    std::printf(csv ? "%d,%.3f,%.9g,%.9g\n" : "%8d %10.3f %14.6g %14.6g\n", k, k * kCycleS * 1000.0, in[k], out[k]);
  }
  if (!svgFile.empty()) {
    std::FILE* f = std::fopen(svgFile.c_str(), "wb");
    if (f == nullptr) {
      std::fprintf(stderr, "tarvexctl formula: cannot write %s\n", svgFile.c_str());
      return 1;
    }
    const std::string svg = svgPlot(formula, signal, in, out);
    const bool written = std::fwrite(svg.data(), 1, svg.size(), f) == svg.size();
    if (std::fclose(f) != 0 || !written) {
      std::fprintf(stderr, "tarvexctl formula: cannot write %s\n", svgFile.c_str());
      return 1;
    }
    if (!csv) std::printf("plot written to %s\n", svgFile.c_str());
  }
  return 0;
}

}  // namespace tarvexctl
