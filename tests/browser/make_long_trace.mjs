// Writes a trace of about MB megabytes of frames at 75 Hz, with a park and a wake request every
// ten minutes, whose first marker is that of tests/report/logs/sim_cycle.log's run:
//   node make_long_trace.mjs OUT MB
import { closeSync, openSync, writeSync } from "node:fs";

const [out, megabytes] = process.argv.slice(2);
const file = openSync(out, "w");
let text = "tessaray-trace 1\nC 1000000000 08:22:35.000 1796790155000\nM 1648000000 08:22:35.648 INIT_START\n";
let written = 0;
const period = 13333333;
let frame = 0;
for (; written + text.length < megabytes * 1e6; frame++) {
  const start = 2000000000 + frame * period;
  text += `F ${frame} ${start} -5000 1000000 2000000 ${5000000 + (frame % 7) * 1000} s - 3000000 0 0\n`;
  if (frame % 45000 === 22500) text += `M ${start + 1000} 08:22:35.000 ${frame % 90000 === 22500 ? "PARK_REQUEST" : "WAKE_REQUEST"}\n`;
  if (text.length > 1 << 20) {
    writeSync(file, text);
    written += text.length;
    text = "";
  }
}
writeSync(file, text + `E ${2000000000 + frame * period} 0\n`);
closeSync(file);
