// tessaray-report's page: draws the charts from the JSON block the report wrote into the page,
// with the embedded chart library (uPlot). Nothing is fetched. window.tessarayReport holds the
// charts (for zooming from the outside) and the time the last one was drawn.
"use strict";
(function () {
  const data = JSON.parse(document.getElementById("report-data").textContent);
  const charts = {};
  const report = (window.tessarayReport = { data, charts, scriptStartMs: performance.now(), renderedMs: null });
  const drawn = new Set();
  let expected = -1;

  // The time from navigation start to the last chart's first drawing.
  function settle() {
    if (expected >= 0 && drawn.size === expected && report.renderedMs === null) {
      report.renderedMs = performance.now();
      document.body.dataset.renderedMs = report.renderedMs.toFixed(1);
    }
  }
  function onDrawn(name) {
    return () => {
      drawn.add(name);
      settle();
    };
  }

  const width = () => Math.max(480, Math.min(1100, document.body.clientWidth - 40));
  const ms = (v) => (v == null ? "-" : v.toFixed(1) + " ms");
  const axisFont = "12px sans-serif";
  const colours = ["#4c78a8", "#f58518", "#54a24b", "#b279a2", "#9d755d", "#e45756", "#72b7b2"];

  function axis(label, extra) {
    return Object.assign({ label, font: axisFont, labelFont: "bold 12px sans-serif", stroke: "#222" }, extra);
  }

  function chart(name, opts, table, where) {
    opts.hooks = opts.hooks || {};
    opts.hooks.draw = (opts.hooks.draw || []).concat([onDrawn(name)]);
    const holder = document.createElement("div");
    holder.className = "chart-box";
    holder.dataset.chart = name;
    where.appendChild(holder);
    charts[name] = new uPlot(opts, table, holder);
    return charts[name];
  }

  // Vertical line with a label at the top of the plot, in the canvas's pixels.
  function vline(u, x, colour, label, dashed) {
    const ctx = u.ctx;
    const px = u.valToPos(x, "x", true);
    if (px < u.bbox.left || px > u.bbox.left + u.bbox.width) return false;
    ctx.save();
    ctx.strokeStyle = colour;
    ctx.lineWidth = devicePixelRatio;
    if (dashed) ctx.setLineDash([4 * devicePixelRatio, 3 * devicePixelRatio]);
    ctx.beginPath();
    ctx.moveTo(px, u.bbox.top);
    ctx.lineTo(px, u.bbox.top + u.bbox.height);
    ctx.stroke();
    if (label) {
      ctx.fillStyle = colour;
      ctx.font = 11 * devicePixelRatio + "px sans-serif";
      ctx.translate(px + 3 * devicePixelRatio, u.bbox.top + 4 * devicePixelRatio);
      ctx.rotate(Math.PI / 2);
      ctx.fillText(label, 0, 0);
    }
    ctx.restore();
    return true;
  }

  // --- Wake phases of the chosen run, one stacked bar per cycle --------------------------------
  function phasesChart() {
    const where = document.getElementById("chart-phases");
    const cycles = data.cycles.filter((c) => c.on_mid != null || c.react != null || c.latency != null);
    if (cycles.length === 0) {
      where.textContent = "No cycle of this run has its wake phases (no WAKE_PHASES line).";
      return;
    }
    // The phases are times from the wake request, so each bar drawn from 0 and the later ones
    // first stacks them: the visible part of each is its own phase.
    const phases = [
      ["displays on (midpoint)", "on_mid"],
      ["first vblank", "vblank"],
      ["power on", "power"],
      ["mode set", "mode"],
      ["reaction", "react"],
    ];
    const x = cycles.map((c) => c.cycle);
    const table = [x].concat(phases.map(([, key]) => cycles.map((c) => c[key])));
    table.push(cycles.map((c) => c.latency));
    const bars = uPlot.paths.bars({ size: [0.6, 80] });
    const series = [{ label: "cycle", value: (u, v) => (v == null ? "-" : String(v)) }].concat(
      phases.map(([label], i) => ({ label, fill: colours[i] + "cc", stroke: colours[i], paths: bars, points: { show: false }, value: (u, v) => ms(v) })),
      [{ label: "wake latency (printed)", stroke: "#000", paths: () => null, points: { show: true, size: 7, fill: "#000" }, value: (u, v) => ms(v) }],
    );
    chart(
      "phases",
      {
        width: width(),
        height: 320,
        series,
        scales: { x: { time: false, range: (u, lo, hi) => [lo - 0.6, hi + 0.6] }, y: { range: (u, lo, hi) => [0, Math.max(hi, ...cycles.map((c) => c.on_hi || 0)) * 1.08] } },
        axes: [axis("cycle (number)", { incrs: [1], values: (u, ticks) => ticks.map((t) => (Number.isInteger(t) ? t : "")) }), axis("ms from the wake request")],
        legend: { live: true },
        hooks: {
          draw: [
            (u) => {
              const ctx = u.ctx;
              ctx.save();
              ctx.strokeStyle = "#000";
              ctx.lineWidth = 1.5 * devicePixelRatio;
              cycles.forEach((c) => {
                if (c.on_lo == null) return;
                const px = u.valToPos(c.cycle, "x", true);
                const lo = u.valToPos(c.on_lo, "y", true);
                const hi = u.valToPos(c.on_hi, "y", true);
                const cap = 6 * devicePixelRatio;
                ctx.beginPath();
                ctx.moveTo(px, lo);
                ctx.lineTo(px, hi);
                ctx.moveTo(px - cap, lo);
                ctx.lineTo(px + cap, lo);
                ctx.moveTo(px - cap, hi);
                ctx.lineTo(px + cap, hi);
                ctx.stroke();
              });
              ctx.restore();
            },
          ],
        },
      },
      table,
      where,
    );
  }

  // --- Distributions over all runs ---------------------------------------------------------------
  function niceStep(raw) {
    const p = Math.pow(10, Math.floor(Math.log10(raw)));
    return [1, 2, 2.5, 5, 10].map((m) => m * p).find((s) => s >= raw);
  }

  function distributionCharts() {
    const where = document.getElementById("chart-distributions");
    if (data.distributions.length === 0) where.textContent = "No measured durations in these logs.";
    data.distributions.forEach((d) => {
      const lo = Math.min(...d.values);
      const hi = Math.max(...d.values);
      const bins = Math.min(30, Math.max(5, Math.ceil(Math.sqrt(d.values.length))));
      const step = hi > lo ? niceStep((hi - lo) / bins) : 1;
      const first = Math.floor(lo / step) * step;
      const count = Math.floor((hi - first) / step) + 1;
      const x = Array.from({ length: count }, (_, i) => first + (i + 0.5) * step);
      const y = new Array(count).fill(0);
      d.values.forEach((v) => y[Math.min(count - 1, Math.floor((v - first) / step))]++);
      chart(
        "dist-" + d.key,
        {
          title: `${d.label}: n=${d.values.length}, median ${d.median.toFixed(1)} ms, p95 ${d.p95.toFixed(1)} ms`,
          width: Math.min(width(), 540),
          height: 220,
          series: [
            { label: d.label + " (bin centre)", value: (u, v) => ms(v) },
            { label: "cycles", fill: colours[0] + "99", stroke: colours[0], paths: uPlot.paths.bars({ size: [0.95, 200] }), points: { show: false } },
          ],
          scales: { x: { time: false, range: () => [first, first + count * step] }, y: { range: (u, a, b) => [0, Math.max(1, b) * 1.15] } },
          axes: [axis(d.label + " (ms)"), axis("cycles (count)", { incrs: [1, 2, 5, 10, 20, 50, 100] })],
          hooks: {
            draw: [
              (u) => {
                vline(u, d.median, "#d62728", "median", false);
                vline(u, d.p95, "#9467bd", "p95", true);
              },
            ],
          },
        },
        [x, y],
        where,
      );
    });
  }

  // --- The trace's frame timeline --------------------------------------------------------------
  const lanes = ["", "repeated frame", "vertical blank", "present return", "submit", "frame start", "dstat change", "panel call", "marker"];

  function timelineChart() {
    const t = data.trace;
    if (!t) return;
    const where = document.getElementById("chart-timeline");
    const f = t.frames;
    const lane = (n, xs) => [xs, xs.map(() => n)];
    const vblanks = f.vblank.filter((v) => v != null);
    const panelX = t.panels.map((p) => p.call).concat(t.panels.map((p) => p.ret)).sort((a, b) => a - b);
    const tables = [
      lane(5, f.start),
      lane(4, f.submit),
      lane(3, f.present),
      lane(2, vblanks),
      lane(1, t.repeated),
      lane(6, t.dstat.map((d) => d.ms)),
      lane(7, panelX),
      lane(8, t.markers.map((m) => m.ms)),
      [f.start, f.lead],
    ];
    const table = uPlot.join(tables, tables.map((_, i) => (i === tables.length - 1 ? 1 : 0)));
    // The lead as a line, broken where frames stop for more than 100 ms (parked, stalled).
    const leadColumn = table[table.length - 1];
    for (let i = 1, k = 0; i < f.start.length; i++) {
      if (f.start[i] - f.start[i - 1] <= 100) continue;
      while (k < table[0].length && table[0][k] <= f.start[i - 1]) k++;
      for (; k < table[0].length && table[0][k] < f.start[i]; k++) leadColumn[k] = null;
    }
    const laneSeries = (label, colour, size) => ({
      label,
      scale: "lane",
      stroke: colour,
      paths: () => null,
      points: { show: true, size, fill: colour, stroke: colour },
      value: (u, v, si, idx) => (v == null || idx == null ? "-" : u.data[0][idx].toFixed(3) + " ms"),
    });
    const series = [
      { label: "time", value: (u, v) => (v == null ? "-" : v.toFixed(3) + " ms") },
      laneSeries("frame start", colours[0], 5),
      laneSeries("submit", colours[1], 5),
      laneSeries("present return", colours[2], 5),
      laneSeries("vertical blank", colours[3], 5),
      laneSeries("repeated frame", "#e45756", 7),
      laneSeries("dstat change", colours[6], 7),
      laneSeries("panel call", "#000", 7),
      laneSeries("marker", "#8c564b", 7),
      { label: "lead", scale: "lead", stroke: "#999", width: 1, spanGaps: false, points: { show: false }, value: (u, v) => (v == null ? "-" : v.toFixed(3) + " ms") },
    ];
    const fullMin = table[0][0];
    const fullMax = table[0][table[0].length - 1];
    const u = chart(
      "timeline",
      {
        width: width(),
        height: 420,
        series,
        cursor: { drag: { x: true, y: false, setScale: true }, points: { show: false } },
        scales: { x: { time: false }, lane: { range: [0.3, 8.7] }, lead: { auto: true } },
        axes: [
          axis("time since the trace began (ms)"),
          axis("event", { scale: "lane", size: 110, splits: () => [1, 2, 3, 4, 5, 6, 7, 8], values: (u, s) => s.map((v) => lanes[v] || "") }),
          axis("lead (ms)", { scale: "lead", side: 1, grid: { show: false } }),
        ],
        hooks: {
          draw: [(u) => drawTimelineMarks(u, t)],
          setCursor: [(u) => readout(u, t)],
        },
      },
      table,
      where,
    );
    const buttons = document.getElementById("zoom-buttons");
    const button = (text, min, max) => {
      const b = document.createElement("button");
      b.textContent = text;
      b.onclick = () => u.setScale("x", { min, max });
      buttons.appendChild(b);
    };
    button("whole run", fullMin, fullMax);
    t.markers.forEach((m, i) => {
      if (m.name !== "PARK_REQUEST" && m.name !== "DOZE_SLEEP_REQUEST") return;
      const wake = t.markers.slice(i + 1).find((w) => w.name === "WAKE_REQUEST");
      const end = wake ? wake.ms + 300 : m.ms + 1000;
      button(m.name === "PARK_REQUEST" ? "park at " + m.ms.toFixed(0) + " ms" : "doze at " + m.ms.toFixed(0) + " ms", m.ms - 50, end);
    });
  }

  function drawTimelineMarks(u, t) {
    const ctx = u.ctx;
    ctx.save();
    ctx.fillStyle = "rgba(228, 87, 86, 0.12)";
    t.free_runs.forEach(([a, b]) => {
      const x0 = Math.max(u.bbox.left, u.valToPos(a, "x", true));
      const x1 = Math.min(u.bbox.left + u.bbox.width, u.valToPos(b, "x", true));
      if (x1 > x0) ctx.fillRect(x0, u.bbox.top, x1 - x0, u.bbox.height);
    });
    ctx.restore();
    t.panels.forEach((p) => vline(u, p.call, p.on ? "#2ca02c" : "#d62728", p.on ? "panels on" : "panels off", false));
    t.markers.forEach((m) => vline(u, m.ms, "#8c564b", m.name, true));
    const span = u.scales.x.max - u.scales.x.min;
    if (span < 5000) t.dstat.forEach((d) => vline(u, d.ms, colours[6], "dstat 0x" + d.to.toString(16).padStart(4, "0"), true));
  }

  // The frame under the pointer and the nearest event, with their values.
  function readout(u, t) {
    const out = document.getElementById("timeline-readout");
    if (u.cursor.left == null || u.cursor.left < 0) return;
    const at = u.posToVal(u.cursor.left, "x");
    const f = t.frames;
    let lo = 0;
    let hi = f.start.length - 1;
    while (lo < hi) {
      const mid = (lo + hi + 1) >> 1;
      if (f.start[mid] <= at) lo = mid;
      else hi = mid - 1;
    }
    const lines = ["pointer: " + at.toFixed(3) + " ms"];
    if (f.start.length > 0 && f.start[lo] <= at) {
      const s = f.start[lo];
      const rel = (v) => (v == null ? "none" : v.toFixed(3) + " ms (+" + (v - s).toFixed(3) + ")");
      lines.push(
        `frame ${f.index[lo]}: start ${s.toFixed(3)} ms, submit ${rel(f.submit[lo])}, present return ${rel(f.present[lo])}, ` +
          `vertical blank ${rel(f.vblank[lo])}, lead ${f.lead[lo] == null ? "none" : f.lead[lo].toFixed(3) + " ms"}` +
          (f.free_running[lo] ? ", free-running" : "") +
          (f.status[lo] !== 0 ? ", present status " + f.status[lo] : ""),
      );
    }
    const events = t.markers
      .map((m) => [m.ms, m.name])
      .concat(t.panels.map((p) => [p.call, `panels ${p.on ? "on" : "off"} call (returned after ${(p.ret - p.call).toFixed(3)} ms, status ${p.status})`]))
      .concat(t.dstat.map((d) => [d.ms, `dstat 0x${d.from.toString(16).padStart(4, "0")} -> 0x${d.to.toString(16).padStart(4, "0")}`]));
    let near = null;
    events.forEach((e) => {
      if (near === null || Math.abs(e[0] - at) < Math.abs(near[0] - at)) near = e;
    });
    if (near && Math.abs(near[0] - at) < (u.scales.x.max - u.scales.x.min) / 20)
      lines.push(`nearest event: ${near[1]} at ${near[0].toFixed(3)} ms`);
    out.textContent = lines.join("\n");
  }

  phasesChart();
  distributionCharts();
  timelineChart();
  expected = Object.keys(charts).length;
  settle();
})();
