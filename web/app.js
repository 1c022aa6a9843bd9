// The page: hands files to the worker (worker.js), which converts them with
// the library compiled to WebAssembly, and shows what comes back. Which
// picture column each map cell reads comes from the library too (a small
// instance of the same module on this thread), never from a rule written
// here.

const $ = (id) => document.getElementById(id);
const PROGRESS_AFTER_MS = 250;
const MARKS_FROM_SCALE = 4;     // marks are drawn when a pixel is at least this many screen pixels
const MAP_SCALE = 8;            // the map preview's largest cell, in screen pixels
const PREVIEW_ROWS = 12;
const PREVIEW_LINE_CHARS = 4000;

const library = await createConverter();

// The picture columns the cells of map row `y` read.
function sampledColumns(width, y, oneToOne) {
  const cells = library._b2g_map_columns(width, oneToOne ? 1 : 0);
  if (cells === 0) return new Int32Array(0);
  const pointer = library._b2g_alloc(cells * 4);
  library._b2g_sampled_columns(width, y, oneToOne ? 1 : 0, pointer);
  const columns = new Int32Array(library.HEAP32.buffer, pointer, cells).slice();
  library._b2g_free(pointer);
  return columns;
}

// ---- The worker, one request at a time per section ----------------------

const worker = new Worker("worker.js");
let nextId = 1;
const pending = new Map();
worker.onmessage = (event) => {
  const answer = event.data;
  const request = pending.get(answer.id);
  if (!request) return;
  if (answer.type === "progress") {
    request.onProgress(answer.done);
    return;
  }
  pending.delete(answer.id);
  request.resolve(answer);
};

// One conversion of a section, from the file given to the previews drawn.
// Only the latest job of a section is shown: a section starts its job
// before it reads the file, so the order of the user's actions decides,
// not the order reads finish in. Its progress bar shows once the job has
// taken a quarter of a second, until it is done. The body's data-<section>
// holds the latest job's state and data-<section>-job its number.
const latest = {};
class Job {
  constructor(section) {
    this.section = section;
    this.id = nextId++;
    latest[section] = this.id;
    document.body.dataset[`${section}Job`] = String(this.id);
    document.body.dataset[section] = "busy";
    this.busy = $(`${section}-busy`);
    this.text = $(`${section}-progress-text`);
    this.text.textContent = "";
    clearTimeout(Job.timers[section]);
    Job.timers[section] = setTimeout(() => { if (this.current) this.busy.hidden = false; }, PROGRESS_AFTER_MS);
  }
  get current() { return latest[this.section] === this.id; }
  say(text) { if (this.current) this.text.textContent = text; }
  // Sends the request to the worker; resolves with its answer, or never
  // when a newer job has replaced this one.
  convert(message, transfer, describeProgress) {
    if (!this.current) return new Promise(() => {});
    return new Promise((resolve) => {
      pending.set(this.id, {
        onProgress: (done) => this.say(describeProgress(done)),
        resolve: (answer) => { if (this.current) resolve(answer); },
      });
      worker.postMessage({ ...message, id: this.id }, transfer);
    });
  }
  // Lets the progress bar be drawn before the page's own work, if it shows.
  async beforeDrawing() {
    this.say("drawing the previews");
    if (!this.busy.hidden) await new Promise((resolve) => requestAnimationFrame(() => setTimeout(resolve, 0)));
  }
  done(outcome) {
    if (!this.current) return;
    clearTimeout(Job.timers[this.section]);
    this.busy.hidden = true;
    document.body.dataset[this.section] = outcome;
  }
}
Job.timers = {};

const megabytes = (bytes) => `${(bytes / 1e6).toFixed(1)} MB`;

function baseName(name) {
  const dot = name.lastIndexOf(".");
  return dot > 0 ? name.slice(0, dot) : name;
}

function setDownload(link, blob, fileName) {
  if (link.href.startsWith("blob:")) URL.revokeObjectURL(link.href);
  link.href = URL.createObjectURL(blob);
  link.download = fileName;
}

// Puts a picture the worker painted (one bitmap pixel per picture pixel or
// map cell) into a canvas.
function paint(canvas, width, rows, bitmap) {
  canvas.width = Math.max(1, width);
  canvas.height = Math.max(1, rows);
  if (!bitmap) return;
  canvas.getContext("2d").drawImage(bitmap, 0, 0);
  bitmap.close();
}

// The scale at which a picture `width` wide fits its viewport (at most 16).
function fitScale(viewport, width) {
  const room = Math.max(100, viewport.clientWidth - 4);
  if (width <= 0) return 1;
  const scale = room / width;
  return scale >= 1 ? Math.min(16, Math.floor(scale)) : scale;
}

function showScaled(canvas, width, rows, scale) {
  canvas.style.width = `${Math.max(1, width) * scale}px`;
  canvas.style.height = `${Math.max(1, rows) * scale}px`;
}

function wireDrop(zone, input, onFile) {
  zone.addEventListener("dragover", (event) => { event.preventDefault(); zone.classList.add("dragging"); });
  zone.addEventListener("dragleave", () => zone.classList.remove("dragging"));
  zone.addEventListener("drop", (event) => {
    event.preventDefault();
    zone.classList.remove("dragging");
    const file = event.dataTransfer.files[0];
    if (file) onFile(file);
  });
  input.addEventListener("change", () => { if (input.files[0]) onFile(input.files[0]); });
}

const modeOf = (name) => document.querySelector(`input[name="${name}"]:checked`).value === "one";

// ---- Picture to map ------------------------------------------------------

let pictureFile = null;
let pictureLayer = null;  // the tile layer picked for pictureFile (--layer), or null
let shown = null;  // { width, rows, pixels, palette, oneToOne, rowColumns: Map }

async function convertPicture() {
  if (!pictureFile) return;
  const job = new Job("picture");
  const file = pictureFile;
  const oneToOne = modeOf("picture-mode");
  const bytes = await file.arrayBuffer();
  const answer = await job.convert({ type: "picture", bytes, name: file.name, oneToOne, layer: pictureLayer }, [bytes],
                                   (done) => `${megabytes(done)} of map text written`);
  const refusal = $("picture-refusal");
  if (!answer.ok) {
    if (answer.layers && answer.layers.length > 0) offerLayers(answer.layers);
    refusal.textContent = answer.message;
    refusal.hidden = false;
    $("picture-result").hidden = true;
    shown = null;
    job.done("refused");
    return;
  }
  await job.beforeDrawing();
  if (!job.current) return;
  refusal.hidden = true;
  const pixels = new Uint8Array(answer.pixels);
  shown = { width: answer.width, rows: answer.rows, pixels, oneToOne, rowColumns: new Map(),
            mapColumns: answer.mapColumns };
  $("picture-report").textContent = answer.message;
  setDownload($("map-download"), answer.output, `${baseName(file.name)}.txt`);
  $("map-download").textContent = `Download ${baseName(file.name)}.txt (${answer.output.size.toLocaleString("en")} bytes)`;
  $("map-text").textContent = previewText(new Uint8Array(answer.head), answer.output.size);
  $("picture-result").hidden = false;
  paint($("picture-canvas"), shown.width, shown.rows, answer.pictureBitmap);
  paint($("map-canvas"), shown.mapColumns, shown.rows, answer.mapBitmap);
  drawPicture();
  drawMap();
  document.body.dataset.pictureMs = String(answer.convertMs);
  job.done("ready");
}

// A Tiled map refused for its tile layers: a choice of the layers its line
// names, which converts the map again with that layer, as --layer does. It
// stays for that file, to pick another.
function offerLayers(names) {
  const select = $("picture-layer");
  select.replaceChildren(new Option("Pick a tile layer", "", true, pictureLayer === null));
  select.options[0].disabled = true;
  for (const name of names) select.add(new Option(name, name, false, name === pictureLayer));
  $("layer-choice").hidden = false;
}

// The first rows of the map text (from its first bytes), long lines cut short.
function previewText(bytes, size) {
  let end = 0;
  for (let line = 0; line < PREVIEW_ROWS + 1 && end < bytes.length; ++line) {
    const next = bytes.indexOf(10, end);
    end = next < 0 ? bytes.length : next + 1;
  }
  const lines = new TextDecoder().decode(bytes.subarray(0, end)).split("\r\n");
  const cut = lines.map((line) => (line.length > PREVIEW_LINE_CHARS ? `${line.slice(0, PREVIEW_LINE_CHARS)}…` : line));
  const more = end < size ? "\n…" : "";
  return cut.join("\n").replace(/\n$/, "") + more;
}

function columnsOfRow(y) {
  let columns = shown.rowColumns.get(y);
  if (!columns) {
    columns = shown.width > 0 ? sampledColumns(shown.width, y, shown.oneToOne) : new Int32Array(0);
    shown.rowColumns.set(y, columns);
  }
  return columns;
}

function pictureScale() {
  const zoom = $("picture-zoom").value;
  return zoom === "fit" ? fitScale($("picture-viewport"), shown.width) : Number(zoom);
}

// The enlarged picture and, when pixels are large enough to tell apart, the
// cells the map samples: each cell outlined over the columns it spans (two
// in two-to-one mode, wrapping at the right edge), its sampled pixel dotted.
function drawPicture() {
  const scale = pictureScale();
  showScaled($("picture-canvas"), shown.width, shown.rows, scale);
  const wantMarks = $("picture-marks").checked;
  const marks = wantMarks && scale >= MARKS_FROM_SCALE && shown.width > 0 && shown.rows > 0;
  $("marks-hint").textContent = !wantMarks ? "" : marks
    ? "Each outline is one map cell; the dot is the pixel it reads. Rows shift right and wrap around."
    : `Zoom to ${MARKS_FROM_SCALE}× or more to see the sampled cells marked.`;
  $("picture-overlay").hidden = !marks;
  if (marks) drawMarks(scale);
}

// The marks over the part of the picture in view (the overlay is the size
// of the view, not of the enlarged picture).
function drawMarks(scale) {
  const overlay = $("picture-overlay");
  const viewport = $("picture-viewport");
  const left = viewport.scrollLeft;
  const top = viewport.scrollTop;
  const width = Math.max(1, Math.min(viewport.clientWidth, shown.width * scale - left));
  const height = Math.max(1, Math.min(viewport.clientHeight, shown.rows * scale - top));
  overlay.width = width;
  overlay.height = height;
  overlay.style.left = `${left}px`;
  overlay.style.top = `${top}px`;
  overlay.style.width = `${width}px`;
  overlay.style.height = `${height}px`;
  const context = overlay.getContext("2d");
  context.translate(-left, -top);
  const step = library._b2g_column_step(shown.oneToOne ? 1 : 0);
  context.lineWidth = Math.max(1, Math.floor(scale / 8));
  const inset = context.lineWidth / 2;
  const dot = Math.max(2, Math.floor(scale / 4));
  const firstX = Math.floor(left / scale) - step;
  const lastX = Math.ceil((left + width) / scale);
  const firstY = Math.floor(top / scale);
  const lastY = Math.min(shown.rows - 1, Math.ceil((top + height) / scale));
  const outline = (x, y, span) => context.strokeRect(x * scale + inset, y * scale + inset, span * scale - 2 * inset, scale - 2 * inset);
  for (let y = firstY; y <= lastY; ++y) {
    const columns = columnsOfRow(y);
    for (let c = 0; c < columns.length; ++c) {
      const x = columns[c];
      const wraps = x + step > shown.width;
      if ((x < firstX || x > lastX) && !wraps) continue;
      context.strokeStyle = c % 2 === 0 ? "rgba(0,0,0,0.75)" : "rgba(255,255,255,0.9)";
      // The cell's columns, split where it wraps past the right edge.
      const first = Math.min(step, shown.width - x);
      outline(x, y, first);
      if (first < step) outline(0, y, step - first);
      const dx = x * scale + (scale - dot) / 2;
      const dy = y * scale + (scale - dot) / 2;
      context.fillStyle = "rgba(0,0,0,0.8)";
      context.fillRect(dx, dy, dot, dot);
      context.fillStyle = "#fff";
      context.fillRect(dx + 1, dy + 1, dot - 2, dot - 2);
    }
  }
}

// The map's cells in grid2bmp's built-in colours, at a size that fits.
function drawMap() {
  const canvas = $("map-canvas");
  const columnsPerRow = shown.mapColumns;
  const scale = Math.min(MAP_SCALE, fitScale(canvas.parentElement, columnsPerRow));
  showScaled(canvas, columnsPerRow, shown.rows, scale);
}

// The map cell that reads, or spans, pixel (x, y): its column, or -1.
function cellAt(x, y) {
  const columns = columnsOfRow(y);
  const step = library._b2g_column_step(shown.oneToOne ? 1 : 0);
  for (let c = 0; c < columns.length; ++c) {
    const offset = (x - columns[c] + shown.width) % shown.width;
    if (offset < step) return c;
  }
  return -1;
}

let cursor = null;  // the pixel the tooltip describes
function showTooltip(x, y) {
  const tip = $("picture-tooltip");
  if (!shown || x < 0 || y < 0 || x >= shown.width || y >= shown.rows) {
    tip.hidden = true;
    return;
  }
  cursor = { x, y };
  const c = cellAt(x, y);
  const pixelText = `picture column ${x}, row ${y}`;
  if (c < 0) {
    tip.textContent = `No map cell reads this pixel (${pixelText})`;
  } else {
    const value = shown.pixels[y * shown.width + columnsOfRow(y)[c]];
    tip.textContent = `Map column ${c}, row ${y}, value ${value}`;
  }
  tip.dataset.column = String(c);
  tip.dataset.row = String(y);
  const scale = pictureScale();
  tip.style.left = `${(x + 1) * scale + 6}px`;
  tip.style.top = `${(y + 1) * scale + 6}px`;
  tip.hidden = false;
}

const stack = $("picture-stack");
stack.addEventListener("mousemove", (event) => {
  if (!shown) return;
  const box = $("picture-canvas").getBoundingClientRect();
  const scale = box.width / Math.max(1, shown.width);
  showTooltip(Math.floor((event.clientX - box.left) / scale), Math.floor((event.clientY - box.top) / scale));
});
stack.addEventListener("mouseleave", () => { $("picture-tooltip").hidden = true; });
stack.addEventListener("blur", () => { $("picture-tooltip").hidden = true; });
stack.addEventListener("keydown", (event) => {
  if (!shown || shown.width === 0 || shown.rows === 0) return;
  const moves = { ArrowLeft: [-1, 0], ArrowRight: [1, 0], ArrowUp: [0, -1], ArrowDown: [0, 1] };
  const move = moves[event.key];
  if (!move) return;
  event.preventDefault();
  const from = cursor ?? { x: 0, y: 0 };
  const x = cursor ? Math.min(shown.width - 1, Math.max(0, from.x + move[0])) : 0;
  const y = cursor ? Math.min(shown.rows - 1, Math.max(0, from.y + move[1])) : 0;
  showTooltip(x, y);
});
stack.addEventListener("focus", () => { if (shown && shown.width > 0 && shown.rows > 0) showTooltip(cursor?.x ?? 0, cursor?.y ?? 0); });

wireDrop($("picture-drop"), $("picture-file"), (file) => {
  pictureFile = file;
  pictureLayer = null;
  $("layer-choice").hidden = true;
  cursor = null;
  convertPicture();
});
$("picture-layer").addEventListener("change", () => { pictureLayer = $("picture-layer").value; convertPicture(); });
for (const radio of document.querySelectorAll('input[name="picture-mode"]')) radio.addEventListener("change", convertPicture);
$("picture-zoom").addEventListener("change", () => { if (shown) drawPicture(); });
$("picture-marks").addEventListener("change", () => { if (shown) drawPicture(); });
$("picture-viewport").addEventListener("scroll", () => { if (shown && !$("picture-overlay").hidden) drawMarks(pictureScale()); });
window.addEventListener("resize", () => { if (shown) { drawPicture(); drawMap(); } });

// ---- Map to picture ------------------------------------------------------

let mapFile = null;
let paletteFile = null;

async function convertMap() {
  if (!mapFile) return;
  const job = new Job("map");
  const file = mapFile;
  const bytes = await file.arrayBuffer();
  const stem = baseName(file.name);
  const message = { type: "map", bytes, name: file.name, oneToOne: modeOf("map-mode"), palette: null, paletteName: "",
                    tmxName: `${stem}.tmx`, tmjName: `${stem}.tmj` };
  const transfer = [bytes];
  if (paletteFile) {
    message.palette = await paletteFile.arrayBuffer();
    message.paletteName = paletteFile.name;
    transfer.push(message.palette);
  }
  const answer = await job.convert(message, transfer, (done) => `${megabytes(done)} of map text read`);
  const refusal = $("map-refusal");
  if (!answer.ok) {
    refusal.textContent = answer.message;
    refusal.hidden = false;
    $("map-result").hidden = true;
    job.done("refused");
    return;
  }
  await job.beforeDrawing();
  if (!job.current) return;
  refusal.hidden = true;
  $("map-report").textContent = answer.message + answer.note;
  setDownload($("bmp-download"), answer.output, `${baseName(file.name)}.bmp`);
  $("bmp-download").textContent = `Download ${baseName(file.name)}.bmp (${answer.output.size.toLocaleString("en")} bytes)`;
  // The PNG beside it, unless grid2bmp would refuse to write one.
  const png = $("png-download");
  png.hidden = !answer.png;
  $("png-refusal").hidden = Boolean(answer.png);
  $("png-refusal").textContent = answer.png ? "" : `No PNG: ${answer.pngMessage}`;
  if (answer.png) {
    setDownload(png, answer.png, `${baseName(file.name)}.png`);
    png.textContent = `Download ${baseName(file.name)}.png (${answer.png.size.toLocaleString("en")} bytes)`;
  }
  // The Tiled maps and the sheet they name, as grid2bmp writes them beside a map <stem>.tmx or .tmj.
  const offer = (id, blob, name) => {
    setDownload($(id), blob, name);
    $(id).textContent = `Download ${name} (${blob.size.toLocaleString("en")} bytes)`;
  };
  offer("tmx-download", answer.tmx, `${stem}.tmx`);
  offer("sheet-download", answer.sheet, answer.sheetName);
  offer("tmj-download", answer.tmj, `${stem}.tmj`);
  $("map-result").hidden = false;
  const canvas = $("bmp-canvas");
  paint(canvas, answer.width, answer.rows, answer.pictureBitmap);
  showScaled(canvas, answer.width, answer.rows, fitScale(canvas.parentElement, answer.width));
  job.done("ready");
}

wireDrop($("map-drop"), $("map-file"), (file) => { mapFile = file; convertMap(); });
for (const radio of document.querySelectorAll('input[name="map-mode"]')) radio.addEventListener("change", convertMap);
$("palette-file").addEventListener("change", () => {
  paletteFile = $("palette-file").files[0] ?? null;
  $("palette-clear").disabled = !paletteFile;
  convertMap();
});
$("palette-clear").addEventListener("click", () => {
  paletteFile = null;
  $("palette-file").value = "";
  $("palette-clear").disabled = true;
  convertMap();
});

document.body.dataset.ready = "true";
