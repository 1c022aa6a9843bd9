// The web page in a real browser: headless Chromium (the system's), driven
// by puppeteer-core, loads the page from a static server on 127.0.0.1 and
// is given pictures and map text as a user would give them. Every download
// must be byte for byte what the command-line programs write for the same
// file; refusals must show the programs' own message lines in the page.
// Also times a 2048 x 2048 conversion in the page against the native
// program (a figure to read, not a pass/fail limit) and saves a screenshot
// of each state.
//
// node page_test.js --site DIR --bmp2grid EXE --grid2bmp EXE --chromium EXE
//                   --source DIR --work DIR --screenshots DIR
"use strict";

const assert = require("node:assert/strict");
const fs = require("node:fs");
const http = require("node:http");
const os = require("node:os");
const path = require("node:path");
const { spawnSync } = require("node:child_process");

let puppeteer;
try {
  puppeteer = require("puppeteer-core");
} catch {
  console.error("puppeteer-core is missing: run `npm ci --prefix web` (it installs from web/package-lock.json)");
  process.exit(1);
}

const options = {};
for (let i = 2; i + 1 < process.argv.length; i += 2) options[process.argv[i].replace(/^--/, "")] = process.argv[i + 1];
for (const name of ["site", "bmp2grid", "grid2bmp", "chromium", "source", "work", "screenshots"]) {
  if (!options[name]) throw new Error(`--${name} is needed`);
}

fs.rmSync(options.work, { recursive: true, force: true });
fs.mkdirSync(options.work, { recursive: true });
fs.mkdirSync(options.screenshots, { recursive: true });
const downloads = path.join(options.work, "downloads");
fs.mkdirSync(downloads);

// ---- What the programs write ---------------------------------------------

// Runs a program in `folder`, so that its messages name the files as the
// page names them (by their names alone).
function run(program, args, folder) {
  const started = process.hrtime.bigint();
  const result = spawnSync(program, args, { encoding: "utf8", cwd: folder });
  const seconds = Number(process.hrtime.bigint() - started) / 1e9;
  return { status: result.status, stdout: result.stdout, stderr: result.stderr, seconds };
}

// bmp2grid's map text of a picture or a Tiled map (`layer`: --layer).
function nativeMap(picture, oneToOne, layer = null) {
  const out = path.join(options.work, `native-${path.basename(picture)}-${oneToOne ? "1" : "2"}${layer === null ? "" : `-${layer}`}.txt`);
  const args = [...(oneToOne ? ["-1"] : []), ...(layer === null ? [] : ["--layer", layer]), path.basename(picture), out];
  const result = run(options.bmp2grid, args, path.dirname(picture));
  return { ...result, bytes: result.status === 0 ? fs.readFileSync(out) : null };
}

// grid2bmp's picture, a BMP or (`format` "png") a PNG, named by its extension.
function nativePicture(mapText, oneToOne, palette, format = "bmp") {
  const out = path.join(options.work, `native-${path.basename(mapText)}-${oneToOne ? "1" : "2"}-${palette ? path.basename(palette) : "b"}.${format}`);
  const args = [...(oneToOne ? ["-1"] : []), ...(palette ? ["--palette", path.relative(path.dirname(mapText), palette)] : []),
                path.basename(mapText), out];
  const result = run(options.grid2bmp, args, path.dirname(mapText));
  return { ...result, bytes: result.status === 0 ? fs.readFileSync(out) : null };
}

// grid2bmp's Tiled map (`format` "tmx" or "tmj") of map text, written to
// <stem of the map text>.<format> in a folder of its own, and the tile sheet
// written beside it, so that the map names its sheet as the page's does.
let tiledRuns = 0;
function nativeTiled(mapText, oneToOne, palette, format, folder = null) {
  const into = folder ?? path.join(options.work, `tiled-${++tiledRuns}`);
  fs.mkdirSync(into, { recursive: true });
  const out = path.join(into, `${path.basename(mapText, path.extname(mapText))}.${format}`);
  const args = [...(oneToOne ? ["-1"] : []), ...(palette ? ["--palette", path.relative(path.dirname(mapText), palette)] : []),
                path.basename(mapText), out];
  const result = run(options.grid2bmp, args, path.dirname(mapText));
  const sheet = path.join(into, `${path.basename(mapText, path.extname(mapText))}.tiles.png`);
  return { ...result, file: out, bytes: result.status === 0 ? fs.readFileSync(out) : null,
           sheet: result.status === 0 ? fs.readFileSync(sheet) : null };
}

// An uncompressed 8-bit BMP (40-byte header, grey palette), bottom-up.
function writeBmp(file, width, rows, pixelAt, bitCount = 8) {
  const stride = Math.ceil(width / 4) * 4;
  const offset = 14 + 40 + 1024;
  const bytes = Buffer.alloc(offset + stride * rows);
  bytes.write("BM", 0, "latin1");
  bytes.writeUInt32LE(bytes.length, 2);
  bytes.writeUInt32LE(offset, 10);
  bytes.writeUInt32LE(40, 14);
  bytes.writeInt32LE(width, 18);
  bytes.writeInt32LE(rows, 22);
  bytes.writeUInt16LE(1, 26);
  bytes.writeUInt16LE(bitCount, 28);
  bytes.writeUInt32LE(stride * rows, 34);
  bytes.writeUInt32LE(256, 46);
  for (let i = 0; i < 256; ++i) bytes.writeUInt32LE(i * 0x010101, 54 + 4 * i);
  for (let y = 0; y < rows; ++y) {
    const stored = offset + (rows - 1 - y) * stride;
    for (let x = 0; x < width; ++x) bytes[stored + x] = pixelAt(x, y);
  }
  fs.writeFileSync(file, bytes);
  return file;
}

// A PNG signature and header chunk alone, for a picture `width` x `rows`
// (8-bit indexed): enough for a refusal of its header. With `rowsFollow`,
// a palette and the start of its image data follow, so that the header is
// read as a whole picture's.
function writePngHeader(file, width, rows, { rowsFollow = false } = {}) {
  const crcTable = Array.from({ length: 256 }, (_, n) => {
    let c = n;
    for (let k = 0; k < 8; ++k) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
    return c >>> 0;
  });
  const crc = (bytes) => (bytes.reduce((c, b) => crcTable[(c ^ b) & 255] ^ (c >>> 8), 0xffffffff) ^ 0xffffffff) >>> 0;
  const chunk = Buffer.alloc(4 + 4 + 13 + 4);
  chunk.writeUInt32BE(13, 0);
  chunk.write("IHDR", 4, "latin1");
  chunk.writeUInt32BE(width, 8);
  chunk.writeUInt32BE(rows, 12);
  chunk.set([8, 3, 0, 0, 0], 16);
  chunk.writeUInt32BE(crc(chunk.subarray(4, 21)), 21);
  const more = [];
  if (rowsFollow) {
    const palette = Buffer.alloc(4 + 4 + 3 + 4);
    palette.writeUInt32BE(3, 0);
    palette.write("PLTE", 4, "latin1");
    palette.writeUInt32BE(crc(palette.subarray(4, 11)), 11);
    const data = Buffer.alloc(4 + 4 + 64);
    data.writeUInt32BE(100000, 0);
    data.write("IDAT", 4, "latin1");
    more.push(palette, data);
  }
  fs.writeFileSync(file, Buffer.concat([Buffer.from([137, 80, 78, 71, 13, 10, 26, 10]), chunk, ...more]));
  return file;
}

// ---- A static file server on 127.0.0.1 -------------------------------------

const types = { ".html": "text/html", ".js": "text/javascript", ".css": "text/css", ".wasm": "application/wasm" };
function serve(root) {
  const server = http.createServer((request, response) => {
    const name = decodeURIComponent(new URL(request.url, "http://127.0.0.1").pathname);
    const file = path.join(root, name.endsWith("/") ? `${name}index.html` : name);
    if (!file.startsWith(root) || !fs.existsSync(file) || !fs.statSync(file).isFile()) {
      response.writeHead(404);
      response.end();
      return;
    }
    response.writeHead(200, { "Content-Type": types[path.extname(file)] ?? "application/octet-stream" });
    fs.createReadStream(file).pipe(response);
  });
  return new Promise((resolve) => server.listen(0, "127.0.0.1", () => resolve(server)));
}

// ---- The browser -----------------------------------------------------------

let browser;
let server;
let page;
let cdp;
const finished = new Map();  // download guid -> { state, name }

async function start() {
  server = await serve(path.resolve(options.site));
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), "bmp2grid-chromium-"));
  browser = await puppeteer.launch({
    executablePath: options.chromium,
    headless: false,  // the flag below asks for it
    userDataDir: profile,
    args: ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
           "--disable-background-networking", "--disable-component-update", "--disable-sync"],
  });
  cdp = await browser.target().createCDPSession();
  await cdp.send("Browser.setDownloadBehavior", { behavior: "allowAndName", downloadPath: downloads, eventsEnabled: true });
  cdp.on("Browser.downloadWillBegin", (event) => finished.set(event.guid, { name: event.suggestedFilename }));
  cdp.on("Browser.downloadProgress", (event) => {
    const entry = finished.get(event.guid) ?? {};
    entry.state = event.state;
    finished.set(event.guid, entry);
  });
  page = await browser.newPage();
  const problems = [];
  page.on("pageerror", (error) => problems.push(`page error: ${error.message}`));
  page.on("console", (message) => { if (message.type() === "error") problems.push(`console: ${message.text()}`); });
  page.on("dialog", (dialog) => { problems.push(`dialog: ${dialog.message()}`); dialog.dismiss(); });
  page.problems = problems;
  await page.setViewport({ width: 1200, height: 900 });
  await page.goto(`http://127.0.0.1:${server.address().port}/`, { waitUntil: "load" });
  await page.waitForFunction(() => document.body.dataset.ready === "true", { timeout: 30000 });
}

async function stop() {
  if (browser) await browser.close();
  if (server) server.close();
}

// Clicks a download link and returns the file's name and bytes. Headless
// Chromium drops a click's download now and then when a tab makes many in
// a row (about one in a dozen, in a page of plain links too): a click that
// has begun none after a few seconds is made once more.
async function download(selector, { keep = false, key = false } = {}) {
  const before = new Set(finished.keys());
  // By the mouse, or (`key`) by the keyboard: the link focused, Enter.
  const follow = async () => {
    if (!key) return page.click(selector);
    await page.focus(selector);
    return page.keyboard.press("Enter");
  };
  await follow();
  const started = Date.now();
  let clickedAgain = false;
  for (;;) {
    let begun = false;
    for (const [guid, entry] of finished) {
      if (before.has(guid)) continue;
      begun = true;
      if (entry.state === "completed") {
        const file = path.join(downloads, guid);
        return keep ? { name: entry.name, path: file } : { name: entry.name, bytes: fs.readFileSync(file) };
      }
      if (entry.state === "canceled") throw new Error(`download of ${entry.name} was cancelled`);
    }
    if (!begun && !clickedAgain && Date.now() - started > 3000) {
      clickedAgain = true;
      await follow();
    }
    if (Date.now() - started > 120000) {
      const seen = [...finished].filter(([guid]) => !before.has(guid)).map(([, e]) => `${e.name}: ${e.state}`);
      throw new Error(`no download from ${selector}, clicked twice (begun meanwhile: ${seen.join(", ") || "none"})`);
    }
    await new Promise((resolve) => setTimeout(resolve, 20));
  }
}

// The page numbers every conversion it starts (data-<section>-job). A wait
// for an outcome is tied to a conversion that started after the action, so
// that a conversion an earlier action started can't be taken for it.
const jobOf = (section) => page.evaluate((s) => Number(document.body.dataset[`${s}Job`] ?? 0), section);
const hasOutcome = (section) => page.evaluate((s) => ["ready", "refused"].includes(document.body.dataset[s]), section);

function settledAfter(section, job, timeout = 120000) {
  return page.waitForFunction((s, j) => Number(document.body.dataset[`${s}Job`] ?? 0) > j
    && ["ready", "refused"].includes(document.body.dataset[s]), { timeout }, section, job);
}

// A single file's result is shown before the whole of its previews (and,
// for a picture, the map's cells the tooltip reads) have come: waits for
// them (data-<section>-whole: the job they are of).
function wholeAfter(section, timeout = 120000) {
  return page.waitForFunction((s) => document.body.dataset[s] !== "ready" || document.body.querySelector(`#${s}-batch:not([hidden])`)
    || document.body.dataset[`${s}Whole`] === document.body.dataset[`${s}Job`], { timeout }, section);
}

// Runs an action; when the section shows a file's outcome, the action
// converts it again, and this waits for that.
async function redoing(section, action) {
  const converts = await hasOutcome(section);
  const job = await jobOf(section);
  await action();
  if (converts) {
    await settledAfter(section, job);
    await wholeAfter(section);
  }
}

// Chooses a mode.
async function chooseMode(group, oneToOne) {
  const section = group.replace("-mode", "");
  const radio = `input[name="${group}"][value="${oneToOne ? "one" : "two"}"]`;
  if (await page.$eval(radio, (r) => r.checked)) return;
  await redoing(section, () => page.click(radio));
}

// Gives the map section a palette file, or takes it away (null).
async function choosePalette(file) {
  if (file) {
    await redoing("map", async () => (await page.$("#palette-file")).uploadFile(file));
  } else if (await page.$eval("#palette-clear", (b) => !b.disabled)) {
    await redoing("map", () => page.click("#palette-clear"));
  }
}

// Gives the page a file through its file picker; waits for the section's
// outcome ("ready" or "refused"). Returns the time from giving it to the
// outcome, in seconds.
async function give(section, inputId, file) {
  const job = await jobOf(section);
  const input = await page.$(`#${inputId}`);
  // Picking the file the picker holds already is a change too.
  await input.evaluate((element) => { element.value = ""; });
  const started = process.hrtime.bigint();
  await input.uploadFile(file);
  await settledAfter(section, job);
  const seconds = Number(process.hrtime.bigint() - started) / 1e9;
  await wholeAfter(section);
  return seconds;
}

// Drops a file on a drop zone as a drag from another program would.
// Drops a file, or several (an array), on a drop zone as a drag from
// another program would.
async function drop(section, zoneId, files) {
  const job = await jobOf(section);
  const given = (Array.isArray(files) ? files : [files]).map((file) => [path.basename(file), [...fs.readFileSync(file)]]);
  await page.evaluate((zone, contents) => {
    const transfer = new DataTransfer();
    for (const [name, content] of contents) transfer.items.add(new File([new Uint8Array(content)], name));
    document.getElementById(zone).dispatchEvent(new DragEvent("drop", { dataTransfer: transfer, bubbles: true, cancelable: true }));
  }, zoneId, given);
  await settledAfter(section, job);
  await wholeAfter(section);
}

// Gives the page several files at once through a file picker.
async function giveSeveral(section, inputId, files) {
  const job = await jobOf(section);
  const input = await page.$(`#${inputId}`);
  await input.evaluate((element) => { element.value = ""; });
  await input.uploadFile(...files);
  await settledAfter(section, job);
}

// A batch's outcome as the page shows it: a line per file (its refusal, or
// its name and the names of its downloads) and the summary.
async function batchShown(section) {
  return page.evaluate((s) => ({
    items: [...document.querySelectorAll(`#${s}-batch-list li`)].map((item) => ({
      refused: item.classList.contains("refusal"),
      text: item.textContent,
      note: item.querySelector(".note")?.textContent ?? null,
      links: [...item.querySelectorAll("a[download]")].map((link) => link.download),
    })),
    summary: document.getElementById(`${s}-batch-summary`).textContent,
  }), section);
}

// The files in a zip the page made, by name.
function unzip(bytes) {
  const entries = require("fflate").unzipSync(new Uint8Array(bytes));
  return new Map(Object.entries(entries).map(([name, content]) => [name, Buffer.from(content)]));
}

const text = (selector) => page.$eval(selector, (element) => element.textContent);
const visible = (selector) => page.$eval(selector, (element) => !element.hidden && element.offsetParent !== null);

async function screenshot(name, element) {
  const file = path.join(options.screenshots, `${name}.png`);
  if (element) await (await page.$(element)).screenshot({ path: file });
  else await page.screenshot({ path: file, fullPage: true });
}

// ---- Where the time goes ---------------------------------------------------

// The peak resident memory (VmHWM) of the browser's processes, in MiB: its
// renderer's (the page's thread and its worker) and all of them added up.
function peakMemory() {
  const parents = new Map();
  for (const pid of fs.readdirSync("/proc").filter((name) => /^\d+$/.test(name))) {
    try {
      const stat = fs.readFileSync(`/proc/${pid}/stat`, "utf8");
      parents.set(Number(pid), Number(stat.slice(stat.lastIndexOf(")") + 2).split(" ")[1]));
    } catch { /* gone meanwhile */ }
  }
  const root = browser.process().pid;
  const ours = (pid) => { for (let p = pid; p > 1; p = parents.get(p) ?? 0) if (p === root) return true; return false; };
  let renderer = 0;
  let all = 0;
  for (const pid of parents.keys()) {
    if (!ours(pid)) continue;
    try {
      const kib = Number(/VmHWM:\s+(\d+)/.exec(fs.readFileSync(`/proc/${pid}/status`, "utf8"))?.[1] ?? 0);
      all += kib;
      if (fs.readFileSync(`/proc/${pid}/cmdline`, "utf8").includes("--type=renderer")) renderer = Math.max(renderer, kib);
    } catch { /* gone meanwhile */ }
  }
  return { renderer: Math.round(renderer / 1024), all: Math.round(all / 1024) };
}

// A file's SHA-256, read as a stream.
function digest(file) {
  return new Promise((resolve, reject) => {
    const hash = require("node:crypto").createHash("sha256");
    fs.createReadStream(file).on("data", (data) => hash.update(data)).on("end", () => resolve(hash.digest("hex"))).on("error", reject);
  });
}

const TRACE_CATEGORIES = ["devtools.timeline", "disabled-by-default-devtools.timeline", "blink.user_timing", "v8", "toplevel"];

// The page's account of its jobs (window.lastJob): the medians of the
// worker's steps, the answer's way to the page's thread and the page's own
// work in showing it, and the rest of the whole job.
function splitOf(jobs) {
  const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];
  const parts = {};
  parts["to the worker"] = median(jobs.map((job) => job.steps["to the worker"] ?? 0));
  parts["waiting in the worker"] = median(jobs.map((job) => job.steps.queued ?? 0));
  for (const step of ["read file", "module", "move bytes", "draw", "build download"]) {
    parts[step === "draw" ? "draw (worker)" : step] = median(jobs.map((job) => job.steps[step] ?? 0));
  }
  parts["to the page"] = median(jobs.map((job) => job.transit));
  parts["showing (page)"] = median(jobs.map((job) => job.showing));
  const whole = median(jobs.map((job) => job.ms));
  const named = Object.values(parts).reduce((sum, ms) => sum + ms, 0);
  parts["the rest (messages, waiting)"] = Math.max(0, whole - named);
  return `whole ${whole.toFixed(0)}: ${Object.entries(parts).map(([step, ms]) => `${step} ${ms.toFixed(1)}`).join(", ")}`;
}

// The tasks over 50 ms on the page's main thread in a trace, each with the
// longest events inside it.
function describeLongTasks(trace) {
  const events = trace.traceEvents ?? trace;
  const mains = new Set(events.filter((e) => e.ph === "M" && e.name === "thread_name" && e.args?.name === "CrRendererMain")
    .map((e) => `${e.pid}:${e.tid}`));
  const tasks = events.filter((e) => e.ph === "X" && e.name === "RunTask" && mains.has(`${e.pid}:${e.tid}`) && e.dur > 50000);
  if (tasks.length === 0) return "none";
  return tasks.map((task) => {
    const inside = events.filter((e) => e.ph === "X" && e !== task && e.pid === task.pid && e.tid === task.tid
      && e.ts >= task.ts && e.ts + (e.dur ?? 0) <= task.ts + task.dur);
    const longest = {};
    for (const e of inside) longest[e.name] = Math.max(longest[e.name] ?? 0, e.dur ?? 0);
    const top = Object.entries(longest).sort((a, b) => b[1] - a[1]).slice(0, 4);
    return `${(task.dur / 1000).toFixed(0)} ms (${top.map(([name, us]) => `${name} ${(us / 1000).toFixed(0)}`).join(", ")})`;
  }).join("; ");
}

// Gives a section a large file three times and once more in a performance
// trace; returns its download (`link`) and lines reporting the medians:
// the page from the file given to the result shown and the preview drawn,
// the worker's module, the native program's whole run (`natives`), the
// split of the page's time, its frames and long tasks, and whether the
// progress bar showed.
async function measureLarge(section, inputId, file, natives, link, traceName) {
  await page.evaluate((s) => {
    window.frameGaps = [];
    window.longTasks = [];
    window.taskWatch = new PerformanceObserver((list) => { for (const e of list.getEntries()) window.longTasks.push(e.duration); });
    window.taskWatch.observe({ type: "longtask" });
    window.progressSeen = false;
    const busy = document.getElementById(`${s}-busy`);
    window.progressWatch = new MutationObserver(() => { if (!busy.hidden) window.progressSeen = true; });
    window.progressWatch.observe(busy, { attributes: true });
    let last = performance.now();
    const tick = (now) => { window.frameGaps.push(now - last); last = now; if (window.countFrames) requestAnimationFrame(tick); };
    window.countFrames = true;
    requestAnimationFrame(tick);
  }, section);
  const pageRuns = [];
  const jobs = [];
  const idle = () => page.waitForFunction(() => document.body.dataset.worker !== "busy");
  for (let run = 0; run < 3; ++run) {
    await idle();  // the last previews drawn in full
    pageRuns.push(await give(section, inputId, file));
    jobs.push(await page.evaluate(() => window.lastJob));
  }
  const median = (values) => [...values].sort((a, b) => a - b)[1];
  const pageSeconds = median(pageRuns);
  const workerSeconds = median(jobs.map((job) => job.steps.module)) / 1000;
  const { frames, progressSeen, longTasks } = await page.evaluate(() => {
    window.countFrames = false;
    window.progressWatch.disconnect();
    window.taskWatch.disconnect();
    return { frames: window.frameGaps, progressSeen: window.progressSeen, longTasks: window.longTasks };
  });
  // One more run in the browser's performance trace (saved beside the
  // screenshots), for what the page's thread did in any long task.
  const traceFile = path.join(options.screenshots, `trace-${traceName}.json`);
  await idle();
  await page.tracing.start({ path: traceFile, categories: TRACE_CATEGORIES });
  await give(section, inputId, file);
  await page.tracing.stop();
  const trace = JSON.parse(fs.readFileSync(traceFile, "utf8"));
  const downloaded = await download(link);
  const downloadMs = await page.evaluate(() => window.lastDownloadMs);
  const nativeSeconds = median(natives.map((n) => n.seconds));
  if (pageSeconds > 0.5) assert.ok(progressSeen, "work over a quarter of a second shows progress");
  assert.ok(!(await visible(`#${section}-busy`)), "no progress bar once done");
  const report = [
    `medians of 3 runs: page (files given to result shown, preview drawn) ${pageSeconds.toFixed(3)} s; the conversion in the worker's module ${workerSeconds.toFixed(3)} s`,
    `native program (the whole run, to a file) ${nativeSeconds.toFixed(3)} s`,
    `ratio page / native ${(pageSeconds / nativeSeconds).toFixed(2)}, module / native ${(workerSeconds / nativeSeconds).toFixed(2)}`,
    `where the time goes (ms, medians of 3): ${splitOf(jobs)}`,
    `the download's file object, made when its link is followed: ${downloadMs.toFixed(0)} ms`,
    `longest gap between frames meanwhile ${Math.max(...frames).toFixed(0)} ms; ` +
      `tasks over 50 ms on the page's thread: ${longTasks.map((d) => d.toFixed(0)).join(", ") || "none"}; ` +
      `progress bar shown: ${progressSeen ? "yes" : "no"}`,
    `the traced run's tasks over 50 ms on the page's thread: ${describeLongTasks(trace)}`,
  ].map((line) => `     ${line}`).join("\n");
  return { file: downloaded, report };
}

// ---- The cases -------------------------------------------------------------

// BMP2GRID_PAGE_ONLY=<text> runs only the cases whose names hold it.
const only = process.env.BMP2GRID_PAGE_ONLY;
const results = [];
async function check(name, body) {
  if (only && !name.includes(only)) return;
  const started = Date.now();
  try {
    await body();
    results.push([name, null]);
    console.log(`ok   ${name} (${((Date.now() - started) / 1000).toFixed(1)} s)`);
  } catch (error) {
    results.push([name, error]);
    console.log(`FAIL ${name}\n     ${String(error.stack ?? error).split("\n").join("\n     ")}`);
  }
}

const data = path.join(options.source, "tests", "data");
const pictures = [
  path.join(options.source, "examples", "sample.bmp"),
  path.join(data, "pillow.bmp"),
  path.join(data, "imagemagick.bmp"),
  path.join(data, "imagemagick-bmp3.bmp"),
  path.join(data, "netpbm-os2.bmp"),
];
// Indexed PNG at each bit depth, 8-bit grey, interlaced, and from three
// writers: dropped on the page rather than picked.
const pngPictures = [
  "pillow-p1.png", "pillow-p2.png", "pillow-p4.png", "pillow-p8.png", "pillow-l.png",
  "imagemagick-interlaced.png", "imagemagick-png8.png", "netpbm.png",
].map((name) => path.join(data, name));
const stem = (file) => path.basename(file, path.extname(file));

async function main() {
  await start();

  // Every picture in both modes: the download is the program's map text.
  for (const picture of [...pictures, ...pngPictures]) {
    for (const oneToOne of [false, true]) {
      await check(`picture to map: ${path.basename(picture)}${oneToOne ? " -1" : ""}`, async () => {
        await chooseMode("picture-mode", oneToOne);
        if (pngPictures.includes(picture)) await drop("picture", "picture-drop", picture);
        else await give("picture", "picture-file", picture);
        const native = nativeMap(picture, oneToOne);
        assert.equal(native.status, 0, native.stdout);
        assert.equal(await page.evaluate(() => document.body.dataset.picture), "ready", await text("#picture-refusal"));
        assert.equal(await text("#picture-report"), native.stdout);
        const file = await download("#map-download");
        assert.equal(file.name, `${stem(picture)}.txt`);
        assert.ok(file.bytes.equals(native.bytes), `${file.bytes.length} bytes downloaded, ${native.bytes.length} written by bmp2grid`);
        // The preview starts with the map text's first lines.
        const firstLines = native.bytes.toString("latin1").split("\r\n").slice(0, 3).join("\n");
        assert.ok((await text("#map-text")).startsWith(firstLines));
      });
    }
  }

  await check("a dropped picture converts like a picked one", async () => {
    await chooseMode("picture-mode", false);
    await drop("picture", "picture-drop", pictures[1]);
    const file = await download("#map-download");
    assert.ok(file.bytes.equals(nativeMap(pictures[1], false).bytes));
  });

  // The sample at 8x, its cells marked; hovering shows a cell's column, row and value.
  await check("hovering a pixel shows its map cell", async () => {
    await chooseMode("picture-mode", false);
    await give("picture", "picture-file", pictures[0]);
    await page.select("#picture-zoom", "8");
    assert.ok(await visible("#picture-overlay"), "the sampled cells are marked");
    const native = nativeMap(pictures[0], false).bytes.toString("latin1").split("\r\n");
    const box = await (await page.$("#picture-canvas")).boundingBox();
    // Two-to-one: cell 5 of row 3 reads column 2 * 5 + 3 = 13 and spans 13 and 14.
    const cell = native[1 + 3].split("\t")[5].split(",")[0];
    for (const x of [13, 14]) {
      await page.mouse.move(box.x + x * 8 + 4, box.y + 3 * 8 + 4);
      await page.waitForSelector("#picture-tooltip:not([hidden])");
      assert.equal(await text("#picture-tooltip"), `Map column 5, row 3, value ${cell}`);
    }
    assert.ok(!(await visible("#picture-busy")), "no progress bar once done");
    await page.mouse.move(box.x + 13 * 8 + 4, box.y + 3 * 8 + 4);
    await screenshot("picture-to-map-hover");
    await screenshot("picture-view", "#to-map");
    // The README's picture: the section down to the enlarged picture.
    const clip = await page.evaluate(() => {
      const section = document.getElementById("to-map").getBoundingClientRect();
      const picture = document.getElementById("picture-viewport").getBoundingClientRect();
      return { x: section.left + window.scrollX, y: section.top + window.scrollY, width: section.width,
               height: picture.bottom - section.top + 12 };
    });
    await page.screenshot({ path: path.join(options.screenshots, "readme.png"), clip, captureBeyondViewport: true });
  });

  await check("the tooltip follows the arrow keys", async () => {
    // From pixel (13, 3), where the mouse left it, to (14, 4): two-to-one
    // cell 5 of row 4 reads column 2 * 5 + 4 = 14.
    await page.focus("#picture-stack");
    await page.keyboard.press("ArrowDown");
    await page.keyboard.press("ArrowRight");
    const native = nativeMap(pictures[0], false).bytes.toString("latin1").split("\r\n");
    assert.equal(await text("#picture-tooltip"), `Map column 5, row 4, value ${native[1 + 4].split("\t")[5].split(",")[0]}`);
  });

  await check("one-to-one marks and tooltip", async () => {
    await chooseMode("picture-mode", true);
    const native = nativeMap(pictures[0], true).bytes.toString("latin1").split("\r\n");
    const box = await (await page.$("#picture-canvas")).boundingBox();
    // One-to-one: cell 62 of row 5 reads column (62 + 5 / 2) mod 64 = 0.
    await page.mouse.move(box.x + 0 * 8 + 4, box.y + 5 * 8 + 4);
    await page.waitForSelector("#picture-tooltip:not([hidden])");
    assert.equal(await text("#picture-tooltip"), `Map column 62, row 5, value ${native[1 + 5].split("\t")[62].split(",")[0]}`);
    await screenshot("picture-to-map-one-to-one", "#to-map");
  });

  await check("odd width, two-to-one: the pixel no cell reads", async () => {
    await chooseMode("picture-mode", false);
    await give("picture", "picture-file", pictures[1]);
    await page.select("#picture-zoom", "8");
    const box = await (await page.$("#picture-canvas")).boundingBox();
    // 37 columns, 18 cells: row 0's cells span columns 0 to 35.
    await page.mouse.move(box.x + 36 * 8 + 4, box.y + 4);
    await page.waitForSelector("#picture-tooltip:not([hidden])");
    assert.equal(await text("#picture-tooltip"), "No map cell reads this pixel (picture column 36, row 0)");
    // Row 1's last cell reads column 2 * 17 + 1 = 35 and wraps: it spans 35 and 36.
    await page.mouse.move(box.x + 36 * 8 + 4, box.y + 8 + 4);
    assert.match(await text("#picture-tooltip"), /^Map column 17, row 1, value \d+$/);
    await page.mouse.move(box.x + 0 * 8 + 4, box.y + 8 + 4);
    assert.equal(await text("#picture-tooltip"), "No map cell reads this pixel (picture column 0, row 1)");
    await page.select("#picture-zoom", "fit");
  });

  // Tiled maps as pictures: grid2bmp's TMX (picked) and TMJ (dropped) of
  // map text in both modes, read by the page as bmp2grid reads them, in the
  // mode they were written in.
  for (const picture of [pictures[0], pictures[1]]) {
    for (const oneToOne of [false, true]) {
      const folder = path.join(options.work, `tiled-in-${stem(picture)}-${oneToOne ? "1" : "2"}`);
      for (const format of ["tmx", "tmj"]) {
        await check(`Tiled map to map: ${stem(picture)}.${format}${oneToOne ? " -1" : ""}`, async () => {
          const mapText = path.join(folder, `${stem(picture)}.txt`);
          fs.mkdirSync(folder, { recursive: true });
          fs.writeFileSync(mapText, nativeMap(picture, oneToOne).bytes);
          const written = nativeTiled(mapText, oneToOne, null, format, folder);
          assert.equal(written.status, 0, written.stdout);
          await chooseMode("picture-mode", oneToOne);
          if (format === "tmx") await give("picture", "picture-file", written.file);
          else await drop("picture", "picture-drop", written.file);
          const native = nativeMap(written.file, oneToOne);
          assert.equal(native.status, 0, native.stdout);
          assert.equal(await page.evaluate(() => document.body.dataset.picture), "ready", await text("#picture-refusal"));
          assert.equal(await text("#picture-report"), native.stdout);
          const file = await download("#map-download");
          assert.equal(file.name, `${stem(picture)}.txt`);
          assert.ok(file.bytes.equals(native.bytes), `${file.bytes.length} bytes downloaded, ${native.bytes.length} written by bmp2grid`);
          assert.ok(!(await visible("#layer-choice")), "a map of one tile layer offers no choice of layers");
          if (picture === pictures[0] && format === "tmx") await screenshot(`tiled-map-to-map${oneToOne ? "-one-to-one" : ""}`, "#to-map");
        });
      }
    }
  }

  // A map of two tile layers: refused with bmp2grid's line listing them,
  // then read with the one picked, as --layer reads it, in both modes; the
  // next file is read without it.
  await check("Tiled map of two tile layers: refused, then a layer picked", async () => {
    const folder = path.join(options.work, "two-layers");
    const mapText = path.join(folder, "sample.txt");
    fs.mkdirSync(folder, { recursive: true });
    fs.copyFileSync(path.join(options.source, "examples", "sample.txt"), mapText);
    const single = nativeTiled(mapText, false, null, "tmx", folder);
    assert.equal(single.status, 0, single.stdout);
    // A second layer, "ground", each of its tiles the next value.
    const tmx = single.bytes.toString("utf8");
    const layer = tmx.slice(tmx.indexOf(" <layer "), tmx.indexOf("</map>"));
    const ground = layer.replace('id="1" name="map"', 'id="2" name="ground"')
      .replace(/<data encoding="csv">([^<]*)<\/data>/, (_, csv) => `<data encoding="csv">${csv.replace(/\d+/g, (gid) => String(Number(gid) % 256 + 1))}</data>`);
    assert.notEqual(ground, layer);
    const twoLayers = path.join(folder, "two-layers.tmx");
    fs.writeFileSync(twoLayers, tmx.replace("</map>", `${ground}</map>`).replace('nextlayerid="2"', 'nextlayerid="3"'));

    await chooseMode("picture-mode", false);
    await give("picture", "picture-file", twoLayers);
    const refusal = nativeMap(twoLayers, false);
    assert.equal(refusal.status, 1);
    assert.equal(await page.evaluate(() => document.body.dataset.picture), "refused");
    assert.equal(await text("#picture-refusal"), refusal.stdout.replace(/^Size: .*\n/, ""));
    assert.ok(await visible("#layer-choice"), "the layers the refusal names are offered");
    const offered = await page.$$eval("#picture-layer option:not([disabled])", (o) => o.map((e) => e.value));
    assert.deepEqual(offered, ["map", "ground"]);
    await screenshot("tiled-layers-refused", "#to-map");

    for (const [name, oneToOne] of [["ground", false], ["map", false], ["map", true]]) {
      if (oneToOne) await chooseMode("picture-mode", true);
      else await redoing("picture", () => page.select("#picture-layer", name));
      const native = nativeMap(twoLayers, oneToOne, name);
      assert.equal(native.status, 0, native.stdout);
      assert.equal(await page.evaluate(() => document.body.dataset.picture), "ready", await text("#picture-refusal"));
      assert.equal(await text("#picture-report"), native.stdout);
      const file = await download("#map-download");
      assert.ok(file.bytes.equals(native.bytes), `--layer ${name}${oneToOne ? " -1" : ""}: ${file.bytes.length} bytes downloaded, ${native.bytes.length} written by bmp2grid`);
      assert.ok(await visible("#layer-choice"), "the choice stays, to pick another layer");
      if (name === "ground") await screenshot("tiled-layer-picked", "#to-map");
    }
    // The layers' maps differ, so the one read is the one picked.
    assert.ok(!nativeMap(twoLayers, false, "ground").bytes.equals(nativeMap(twoLayers, false, "map").bytes));

    // A BMP given next is read without --layer, which would refuse it.
    await chooseMode("picture-mode", false);
    await give("picture", "picture-file", pictures[0]);
    assert.equal(await page.evaluate(() => document.body.dataset.picture), "ready", await text("#picture-refusal"));
    assert.ok(!(await visible("#layer-choice")));
  });

  // Refusals: the programs' own lines, in the page. A PNG whose image data
  // is damaged is refused before the page shows anything, so without the
  // size report bmp2grid prints before it reaches the fault. A header
  // 2^31 - 1 pixels wide is too wide for the 32-bit module too, and its
  // refusal must read as the 64-bit program's.
  const refused = [
    writeBmp(path.join(options.work, "deep.bmp"), 4, 4, () => 0, 24),
    path.join(options.work, "short.bmp"),
    path.join(data, "pillow-rgb.png"),
    path.join(data, "png-bad-crc.png"),
    writePngHeader(path.join(options.work, "too-wide.png"), 1048577, 1),
    path.join(data, "png-huge-ihdr.png"),
  ];
  fs.writeFileSync(refused[1], fs.readFileSync(pictures[0]).subarray(0, 2000));
  for (const picture of refused) {
    await check(`refused picture: ${path.basename(picture)}`, async () => {
      await give("picture", "picture-file", picture);
      const native = nativeMap(picture, false);
      assert.equal(native.status, 1);
      assert.equal(await page.evaluate(() => document.body.dataset.picture), "refused");
      assert.ok(await visible("#picture-refusal"));
      assert.equal(await text("#picture-refusal"), native.stdout.replace(/^Size: .*\n/, ""));
      assert.ok(!(await visible("#picture-result")));
      await screenshot(`refusal-${stem(picture)}`, "#to-map");
    });
  }

  // Map text to pictures: grid2bmp's bytes, as a BMP and as a PNG, with
  // the built-in colours, a palette picture's (a BMP or a PNG) or a
  // palette's (a GIMP .gpl, a JASC .pal).
  const sampleText = path.join(options.source, "examples", "sample.txt");
  const oneToOneText = path.join(options.work, "pillow-1.txt");
  fs.writeFileSync(oneToOneText, nativeMap(pictures[1], true).bytes);
  // Seven colours for the sample's values 0 to 6, with CR LF, a byte-order
  // mark and JASC's alpha values.
  const jascPalette = path.join(options.work, "sample.pal");
  fs.writeFileSync(jascPalette, `\uFEFFJASC-PAL\r\n0100\r\n7\r\n${[0, 1, 2, 3, 4, 5, 6]
    .map((i) => `${(i * 40) % 256} ${255 - i * 30} ${(i * 97) % 256} 255\r\n`).join("")}`);
  const maps = [
    [sampleText, false, null],
    [sampleText, false, pictures[0]],
    [sampleText, false, path.join(data, "pillow-p8.png")],
    [sampleText, false, jascPalette],
    [oneToOneText, true, null],
    [oneToOneText, true, pictures[1]],
    [oneToOneText, true, path.join(data, "pillow-l.png")],
    [oneToOneText, true, path.join(data, "palette.gpl")],
  ];
  for (const [mapText, oneToOne, palette] of maps) {
    await check(`map to picture: ${path.basename(mapText)}${oneToOne ? " -1" : ""}${palette ? ` --palette ${path.basename(palette)}` : ""}`, async () => {
      await chooseMode("map-mode", oneToOne);
      await choosePalette(palette);
      // The first is dropped on the page, the others picked.
      if (mapText === sampleText && !palette) await drop("map", "map-drop", mapText);
      else await give("map", "map-file", mapText);
      const native = nativePicture(mapText, oneToOne, palette);
      assert.equal(native.status, 0, native.stdout);
      assert.equal(await page.evaluate(() => document.body.dataset.map), "ready", await text("#map-refusal"));
      assert.equal(await text("#map-report"), native.stdout);
      for (const format of ["bmp", "png"]) {
        const written = nativePicture(mapText, oneToOne, palette, format);
        assert.equal(written.status, 0, written.stdout);
        const file = await download(`#${format}-download`);
        assert.equal(file.name, `${stem(mapText)}.${format}`);
        assert.ok(file.bytes.equals(written.bytes), `${file.bytes.length} bytes downloaded, ${written.bytes.length} written by grid2bmp to a .${format}`);
      }
      assert.ok(!(await visible("#png-refusal")));
      // The Tiled maps and the sheet they name: grid2bmp's files for
      // outputs <stem>.tmx and <stem>.tmj, the same sheet beside both.
      const sheet = await download("#sheet-download");
      assert.equal(sheet.name, `${stem(mapText)}.tiles.png`);
      for (const format of ["tmx", "tmj"]) {
        const written = nativeTiled(mapText, oneToOne, palette, format);
        assert.equal(written.status, 0, written.stdout);
        assert.equal(written.stdout, native.stdout);
        const file = await download(`#${format}-download`);
        assert.equal(file.name, `${stem(mapText)}.${format}`);
        assert.ok(file.bytes.equals(written.bytes), `${file.bytes.length} bytes downloaded, ${written.bytes.length} written by grid2bmp to a .${format}`);
        assert.ok(sheet.bytes.equals(written.sheet), `the sheet: ${sheet.bytes.length} bytes downloaded, ${written.sheet.length} written by grid2bmp beside a .${format}`);
      }
      if (!palette && !oneToOne) await screenshot("map-to-picture", "#to-picture");
      if (palette && palette.endsWith(".gpl")) await screenshot("map-to-picture-gimp-palette", "#to-picture");
    });
  }

  // A map wider than the widest PNG: the BMP still, and grid2bmp's line for
  // the PNG it would refuse to write.
  await check("map text too wide for a PNG", async () => {
    const wide = path.join(options.work, "too-wide-for-png.txt");
    const cells = 1048576 / 2 + 1;
    fs.writeFileSync(wide, `${cells},1\r\n${"7,0,0,0,0\t".repeat(cells)}\r\n`);
    await choosePalette(null);
    await chooseMode("map-mode", false);
    await give("map", "map-file", wide);
    const bmp = nativePicture(wide, false, null);
    assert.equal(bmp.status, 0, bmp.stdout);
    assert.ok((await download("#bmp-download")).bytes.equals(bmp.bytes));
    const png = nativePicture(wide, false, null, "png");
    assert.equal(png.status, 1);
    assert.ok(!(await visible("#png-download")));
    assert.equal(await text("#png-refusal"), `No PNG: ${png.stdout}`);
  });

  // Refused palette pictures: a PNG of a kind without indices, and PNGs
  // whose image data is damaged, which are decoded to their end as the
  // programs decode them.
  for (const name of ["pillow-rgb.png", "png-truncated.png", "png-bad-crc.png"]) {
    await check(`refused palette picture: ${name}`, async () => {
      // Beside the map text, so that grid2bmp names it as the page does.
      const palette = path.join(options.work, `palette-${name}`);
      // A map text file of its own each time: the page may read a file it
      // was given again, which must not have changed.
      const mapText = path.join(options.work, `sample-for-${name}.txt`);
      fs.copyFileSync(path.join(data, name), palette);
      fs.copyFileSync(sampleText, mapText);
      await choosePalette(palette);
      await give("map", "map-file", mapText);
      const native = nativePicture(mapText, false, palette);
      assert.equal(native.status, 1);
      assert.equal(await text("#map-refusal"), native.stdout);
      await choosePalette(null);
    });
  }

  // Refused GIMP and JASC palettes: grid2bmp's line, naming the file and
  // the line at fault.
  const badPalettes = [
    ["pal.gpl", "GIMP Palette\n1 2 3\n4 5 x\n6 7 8\n", "Can't convert pal.gpl: line 3: not a colour\n"],
    ["pal.pal", "JASC-PAL\r\n0100\r\n3\r\n1 2 3\r\n4 5 6\r\n", "Can't convert pal.pal: line 6: fewer colours than announced\n"],
  ];
  for (const [name, content, line] of badPalettes) {
    await check(`refused palette: ${name}`, async () => {
      const palette = path.join(options.work, name);
      const mapText = path.join(options.work, `sample-for-${name}.txt`);
      fs.writeFileSync(palette, content);
      fs.copyFileSync(sampleText, mapText);
      await choosePalette(palette);
      await give("map", "map-file", mapText);
      const native = nativePicture(mapText, false, palette);
      assert.equal(native.status, 1);
      assert.equal(native.stdout, line);
      assert.equal(await text("#map-refusal"), native.stdout);
      if (name.endsWith(".gpl")) await screenshot("palette-refusal", "#to-picture");
      await choosePalette(null);
    });
  }

  await check("refused map text", async () => {
    const bad = path.join(options.work, "bad.txt");
    fs.writeFileSync(bad, "2,2\r\n1,0,0,0,0\t2,0,0,0,0\t\r\n3,0,0,0,0\t\r\n");
    await choosePalette(null);
    await chooseMode("map-mode", false);
    await give("map", "map-file", bad);
    const native = nativePicture(bad, false, null);
    assert.equal(native.status, 1);
    assert.equal(await text("#map-refusal"), native.stdout);
    await screenshot("map-refusal", "#to-picture");
  });

  // Several files at once: each output and each refusal line as one
  // program run on them all (the batch form) writes and prints them, the
  // zip holding every output, and two files taking one output refused
  // before any work as the programs refuse them.
  const batchFolder = path.join(options.work, "batch");
  fs.mkdirSync(batchFolder, { recursive: true });
  const batchPictures = [pictures[0], pictures[1], path.join(data, "pillow-p4.png"), refused[1], path.join(data, "imagemagick-interlaced.png")]
    .map((file) => { const into = path.join(batchFolder, path.basename(file)); fs.copyFileSync(file, into); return into; });
  // The native batch's outputs and lines, its folder's name taken off the lines.
  function nativeBatch(program, args, inputs) {
    const out = path.join(options.work, `batch-out-${++tiledRuns}`);
    const result = run(program, [...args, "--out-dir", out, ...inputs.map((file) => path.basename(file))], batchFolder);
    const files = new Map(fs.existsSync(out) ? fs.readdirSync(out).map((name) => [name, fs.readFileSync(path.join(out, name))]) : []);
    return { ...result, files, lines: result.stdout.replaceAll(`${out}/`, "").split(/(?<=\n)/) };
  }
  // Checks the page's batch against the program's: downloads, lines, zip.
  async function sameAsBatch(section, native, inputs) {
    const shown = await batchShown(section);
    assert.equal(shown.items.length, inputs.length);
    assert.equal(shown.summary, native.lines.at(-1));
    // Refusals and notes: the program's lines, in whatever order its
    // parallel work printed them.
    const lines = shown.items.map((item) => (item.refused ? item.text : item.note)).filter((line) => line !== null);
    assert.deepEqual([...lines].sort(), native.lines.slice(0, -1).sort());
    const offered = shown.items.flatMap((item) => item.links);
    assert.deepEqual([...offered].sort(), [...native.files.keys()].sort());
    for (const name of offered) {
      const file = await download(`#${section}-batch-list a[download="${name}"]`);
      assert.ok(file.bytes.equals(native.files.get(name)), `${name}: ${file.bytes.length} bytes downloaded, ${native.files.get(name).length} written`);
    }
    // The zip by the keyboard: its file object is at hand, so the first
    // Enter must download it.
    const zip = await download(`#${section}-zip`, { key: true });
    const zipped = unzip(zip.bytes);
    assert.deepEqual([...zipped.keys()].sort(), [...native.files.keys()].sort());
    for (const [name, bytes] of zipped) assert.ok(bytes.equals(native.files.get(name)), `${name} in the zip`);
    return zip;
  }

  for (const oneToOne of [false, true]) {
    await check(`several pictures at once${oneToOne ? " -1" : ""}`, async () => {
      await chooseMode("picture-mode", oneToOne);
      if (oneToOne) await drop("picture", "picture-drop", batchPictures);
      else await giveSeveral("picture", "picture-file", batchPictures);
      assert.equal(await page.evaluate(() => document.body.dataset.picture), "ready");
      assert.ok(!(await visible("#picture-result")), "no single picture's preview beside a batch");
      const native = nativeBatch(options.bmp2grid, oneToOne ? ["-1"] : [], batchPictures);
      assert.equal(native.status, 1, "one of the pictures is refused");
      await sameAsBatch("picture", native, batchPictures);
      if (!oneToOne) await screenshot("batch-pictures", "#to-map");
    });
  }

  await check("several pictures taking one map text are refused", async () => {
    const clash = path.join(batchFolder, "sample.png");
    fs.copyFileSync(path.join(data, "pillow-p8.png"), clash);
    const inputs = [batchPictures[0], batchPictures[1], clash];
    await giveSeveral("picture", "picture-file", inputs);
    const native = nativeBatch(options.bmp2grid, [], inputs);
    assert.equal(native.status, 1);
    assert.equal(native.files.size, 0);
    assert.equal(await page.evaluate(() => document.body.dataset.picture), "refused");
    assert.equal(await text("#picture-refusal"), native.stdout.replace(/\/?[^ ]*batch-out-\d+\//, ""));
    assert.ok(!(await visible("#picture-batch")));
    await screenshot("batch-refused", "#to-map");
  });

  // A file gone after it was given: refused with the program's line, as
  // the batch form refuses a file it can't open, and the others go on.
  await check("a file gone before it is read is refused, and the batch goes on", async () => {
    const inputs = ["gone-a.bmp", "gone-b.bmp", "gone-c.bmp"].map((name) => path.join(batchFolder, name));
    for (const input of inputs) fs.copyFileSync(pictures[0], input);
    await chooseMode("picture-mode", false);
    await giveSeveral("picture", "picture-file", inputs);
    fs.rmSync(inputs[1]);
    await chooseMode("picture-mode", true);
    const native = nativeBatch(options.bmp2grid, ["-1"], inputs);
    assert.equal(native.status, 1);
    await sameAsBatch("picture", native, inputs);
  });

  // A file larger than the page's memory can take, with another section's
  // result shown: refused at once, and that result is untouched.
  await check("a file larger than the page can take is refused, and nothing else is touched", async () => {
    await chooseMode("picture-mode", false);
    await give("picture", "picture-file", pictures[0]);
    const huge = path.join(options.work, "huge-map.txt");
    fs.closeSync(fs.openSync(huge, "w"));
    fs.truncateSync(huge, 2200 * 1024 * 1024);  // sparse: nothing is written to disk
    try {
      await choosePalette(null);
      await give("map", "map-file", huge);
      assert.equal(await text("#map-refusal"), "Can't convert huge-map.txt: not enough memory\n");
    } finally {
      fs.rmSync(huge);
    }
    const file = await download("#map-download");
    assert.ok(file.bytes.equals(nativeMap(pictures[0], false).bytes));
    await give("map", "map-file", sampleText);
    assert.equal(await page.evaluate(() => document.body.dataset.map), "ready", await text("#map-refusal"));
  });

  // Map texts at once, in each format grid2bmp's batch writes, with a
  // palette; one refused.
  const batchMaps = ["sample.txt", "bad.txt", "pillow-2.txt", "noted.txt"].map((name) => path.join(batchFolder, name));
  fs.copyFileSync(sampleText, batchMaps[0]);
  fs.writeFileSync(batchMaps[1], "2,2\r\n1,0,0,0,0\t2,0,0,0,0\t\r\n3,0,0,0,0\t\r\n");
  fs.writeFileSync(batchMaps[2], nativeMap(pictures[1], false).bytes);
  // Cells with values past the first: a note, naming its file.
  fs.writeFileSync(batchMaps[3], "2,2\r\n1,0,0,7,0\t2,0,0,0,0\t\r\n3,0,0,0,0\t4,0,9,0,0\t\r\n");
  const batchPalette = path.join(batchFolder, "palette.gpl");
  fs.copyFileSync(path.join(data, "palette.gpl"), batchPalette);
  for (const format of ["bmp", "png", "tmx", "tmj"]) {
    await check(`several map texts at once: ${format}`, async () => {
      await chooseMode("map-mode", false);
      await choosePalette(batchPalette);
      await page.select("#map-batch-format", format);
      await giveSeveral("map", "map-file", batchMaps);
      assert.equal(await page.evaluate(() => document.body.dataset.map), "ready");
      const native = nativeBatch(options.grid2bmp, ["--palette", "palette.gpl", "--format", format], batchMaps);
      assert.equal(native.status, 1, "one of the map texts is refused");
      await sameAsBatch("map", native, batchMaps);
      if (format === "tmx") await screenshot("batch-maps", "#to-picture");
      await choosePalette(null);
    });
  }

  await check("phone width", async () => {
    await page.setViewport({ width: 375, height: 800 });
    await chooseMode("picture-mode", false);
    await page.select("#picture-zoom", "fit");
    await give("picture", "picture-file", pictures[0]);
    const overflow = await page.evaluate(() => document.documentElement.scrollWidth - window.innerWidth);
    assert.ok(overflow <= 0, `the page is ${overflow} px wider than a phone's screen`);
    await screenshot("phone");
    await page.setViewport({ width: 1200, height: 900 });
  });

  // Every control has a label a screen reader can give.
  await check("controls are labelled", async () => {
    const unlabelled = await page.evaluate(() => [...document.querySelectorAll("input, select, button, a[href]")]
      .filter((e) => !(e.labels && e.labels.length) && !e.getAttribute("aria-label") && !e.textContent.trim())
      .map((e) => e.id || e.outerHTML));
    assert.deepEqual(unlabelled, []);
  });

  // 2048 x 2048, both ways in both modes: the page stays responsive, shows
  // progress when the work takes long, and how long it takes against the
  // native program, with where the time goes (figures, not limits).
  const big = writeBmp(path.join(options.work, "big.bmp"), 2048, 2048, (x, y) => (x * 7 + y * 3 + ((x * y) >> 5)) & 255);
  for (const oneToOne of [false, true]) {
    await check(`2048 x 2048 picture${oneToOne ? " -1" : ""}`, async () => {
      await chooseMode("picture-mode", oneToOne);
      await page.select("#picture-zoom", "fit");
      const natives = [1, 2, 3].map(() => nativeMap(big, oneToOne));
      const measured = await measureLarge("picture", "picture-file", big, natives, "#map-download", `2048${oneToOne ? "-one-to-one" : ""}`);
      assert.ok(measured.file.bytes.equals(natives[0].bytes));
      // The preview's first lines are the map text's, cut short.
      const firstLines = natives[0].bytes.subarray(0, 100000).toString("latin1").split("\r\n").slice(0, 3)
        .map((line) => (line.length > 1000 ? `${line.slice(0, 1000)}…` : line));
      assert.deepEqual((await text("#map-text")).split("\n").slice(0, 3), firstLines);
      console.log(`     2048 x 2048 picture to map, ${oneToOne ? "one-to-one" : "two-to-one"}, ${measured.file.bytes.length} bytes of map text:`);
      console.log(measured.report);
      await screenshot(`large-picture${oneToOne ? "-one-to-one" : ""}`, "#to-map");
    });
    await check(`2048 x 2048 map text to picture${oneToOne ? " -1" : ""}`, async () => {
      const mapText = path.join(options.work, `big-${oneToOne ? 1 : 2}.txt`);
      fs.writeFileSync(mapText, nativeMap(big, oneToOne).bytes);
      await chooseMode("map-mode", oneToOne);
      await choosePalette(null);
      const natives = [1, 2, 3].map(() => nativePicture(mapText, oneToOne, null));
      const measured = await measureLarge("map", "map-file", mapText, natives, "#bmp-download", `2048-map${oneToOne ? "-one-to-one" : ""}`);
      assert.ok(measured.file.bytes.equals(natives[0].bytes));
      console.log(`     2048 x 2048 map text to pictures (BMP, PNG, TMX, TMJ and sheet), ${oneToOne ? "one-to-one" : "two-to-one"}, ${fs.statSync(mapText).size} bytes of map text:`);
      console.log(measured.report);
      console.log("     (the native figure is grid2bmp writing the BMP alone; the page writes every format)");
    });
  }

  await check("no page errors, console errors or dialogs", async () => {
    assert.deepEqual(page.problems, []);
  });

  // 8192 x 8192 in both modes, each in a browser of its own, so that the
  // peak memory read off its processes is this conversion's: the map text
  // is the program's, byte for byte.
  const huge = writeBmp(path.join(options.work, "huge.bmp"), 8192, 8192, (x, y) => (x * 5 + (y >> 3) * 3 + ((x ^ y) >> 6)) & 255);
  for (const oneToOne of [false, true]) {
    await check(`8192 x 8192 picture${oneToOne ? " -1" : ""}`, async () => {
      await stop();
      await start();
      await chooseMode("picture-mode", oneToOne);
      // Seconds of work: the progress bar shows, with how far it has come.
      await page.evaluate(() => {
        window.progressSeen = [];
        const busy = document.getElementById("picture-busy");
        const said = document.getElementById("picture-progress-text");
        window.progressWatch = new MutationObserver(() => { if (!busy.hidden) window.progressSeen.push(said.textContent); });
        window.progressWatch.observe(busy, { attributes: true, subtree: true, childList: true, characterData: true });
      });
      const seconds = await give("picture", "picture-file", huge);
      const progress = await page.evaluate(() => { window.progressWatch.disconnect(); return window.progressSeen; });
      assert.ok(progress.some((said) => / MB of map text written$/.test(said)), `progress seen: ${progress.join(" | ") || "none"}`);
      assert.ok(!(await visible("#picture-busy")), "no progress bar once done");
      assert.equal(await page.evaluate(() => document.body.dataset.picture), "ready", await text("#picture-refusal"));
      const job = await page.evaluate(() => window.lastJob);
      const file = await download("#map-download", { keep: true });
      const downloadMs = await page.evaluate(() => window.lastDownloadMs);
      const memory = peakMemory();
      const native = run(options.bmp2grid, [...(oneToOne ? ["-1"] : []), "huge.bmp", "huge.txt"], options.work);
      assert.equal(native.status, 0, native.stdout);
      const nativeFile = path.join(options.work, "huge.txt");
      assert.equal(fs.statSync(file.path).size, fs.statSync(nativeFile).size);
      assert.equal(await digest(file.path), await digest(nativeFile));
      fs.rmSync(file.path);
      fs.rmSync(nativeFile);
      console.log(`     8192 x 8192 picture to map, ${oneToOne ? "one-to-one" : "two-to-one"}: page ${seconds.toFixed(2)} s, native bmp2grid ${native.seconds.toFixed(2)} s ` +
                  `(ratio ${(seconds / native.seconds).toFixed(2)}); where the time goes (ms): ${splitOf([job])}`);
      console.log(`     the download's file object made in ${downloadMs.toFixed(0)} ms; peak memory (VmHWM): the page's renderer process ${memory.renderer} MiB, ` +
                  `all of the browser's processes together at most ${memory.all} MiB`);
      if (!oneToOne) await screenshot("huge-picture", "#to-map");
      assert.deepEqual(page.problems, []);
    });
  }
  fs.rmSync(huge);

  // A picture whose map text the page could not hold: one line, at once,
  // before its rows are decoded (there are none to decode here).
  await check("a picture too large for the page is refused before any work", async () => {
    const tooLarge = writePngHeader(path.join(options.work, "too-large.png"), 20000, 20000, { rowsFollow: true });
    await chooseMode("picture-mode", false);
    const seconds = await give("picture", "picture-file", tooLarge);
    assert.equal(await page.evaluate(() => document.body.dataset.picture), "refused");
    assert.match(await text("#picture-refusal"),
                 /^Can't convert too-large\.png: its map text could take up to 2400 MB, more than this page holds \(the programs convert it\)\n$/);
    assert.ok(seconds < 5, `refused after ${seconds} s`);
    await screenshot("refusal-too-large-for-the-page", "#to-map");
    assert.deepEqual(page.problems, []);
  });

  await stop();
  const failed = results.filter(([, error]) => error);
  console.log(`${results.length - failed.length} of ${results.length} passed; screenshots in ${options.screenshots}`);
  process.exit(failed.length ? 1 : 0);
}

main().catch(async (error) => {
  console.error(error);
  try { await stop(); } catch { /* already stopping */ }
  process.exit(1);
});
