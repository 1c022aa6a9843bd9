// The page: hands files to the worker (worker.js), which converts them with
// the library compiled to WebAssembly, and shows what comes back. Which
// picture column each map cell reads comes from the library too (a small
// instance of the same module on this thread), never from a rule written
// here.

const $ = (id) => document.getElementById(id);
const PROGRESS_AFTER_MS = 250;
const MARKS_FROM_SCALE = 4;     // marks are drawn when a pixel is at least this many screen pixels
const MAP_SCALE = 8;            // the map preview's largest cell, in screen pixels

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

// The worker reads the files, converts them and draws the previews into
// these canvases, handed over to it once.
const worker = new Worker("worker.js");
{
  const canvases = { picture: $("picture-canvas").transferControlToOffscreen(),
                     map: $("map-canvas").transferControlToOffscreen(),
                     bmp: $("bmp-canvas").transferControlToOffscreen() };
  worker.postMessage({ type: "canvases", canvases }, Object.values(canvases));
}
let nextId = 1;
const pending = new Map();
worker.onmessage = (event) => {
  const answer = event.data;
  if (answer.type === "idle") {
    document.body.dataset.worker = "idle";
    return;
  }
  if (answer.type === "blob") {
    blobsAsked.get(answer.token)(answer.blob);
    blobsAsked.delete(answer.token);
    return;
  }
  if (answer.type === "previews") {
    // The rest of the previews of the result shown is drawn; the map's
    // cells, for the tooltip.
    if (latest[answer.section] !== answer.id) return;
    if (answer.cells && shown) {
      shown.cells = new Uint8Array(answer.cells);
      if (cursor && !$("picture-tooltip").hidden) showTooltip(cursor.x, cursor.y);
    }
    document.body.dataset[`${answer.section}Whole`] = String(answer.id);
    return;
  }
  const request = pending.get(answer.id);
  if (!request) return;
  if (answer.type === "progress") request.onProgress(answer.done);
  else if (answer.type === "file") request.onFile(answer);
  else {
    pending.delete(answer.id);
    request.resolve(answer);
  }
};

// One conversion of a section (one file or several), from the files given
// to the previews drawn. Only the latest job of a section is shown, and a
// newer one stops an older batch between two files. Its progress bar shows
// once the job has taken a quarter of a second, until it is done. The
// body's data-<section> holds the latest job's state and data-<section>-job
// its number.
const latest = {};
class Job {
  constructor(section) {
    this.section = section;
    this.id = nextId++;
    this.started = performance.now();
    latest[section] = this.id;
    document.body.dataset[`${section}Job`] = String(this.id);
    document.body.dataset[section] = "busy";
    // The last result's downloads stand for the result the worker is about
    // to replace: they are offered again with the new one.
    for (const link of document.querySelectorAll(`#${section}-result a[download]`)) {
      if (link.href.startsWith("blob:")) URL.revokeObjectURL(link.href);
      link.output = null;
      link.removeAttribute("href");
      link.setAttribute("aria-disabled", "true");
    }
    this.busy = $(`${section}-busy`);
    this.text = $(`${section}-progress-text`);
    this.bar = $(`${section}-progress`);
    this.text.textContent = "";
    this.bar.removeAttribute("value");
    clearTimeout(Job.timers[section]);
    Job.timers[section] = setTimeout(() => { if (this.current) this.busy.hidden = false; }, PROGRESS_AFTER_MS);
  }
  get current() { return latest[this.section] === this.id; }
  say(text) { if (this.current) this.text.textContent = text; }
  // Sends the request to the worker; resolves with its answer, or never
  // when a newer job has replaced this one. `onFile` hears of each file of
  // a batch as it is done.
  convert(message, describeProgress, onFile = () => {}) {
    if (!this.current) return new Promise(() => {});
    return new Promise((resolve) => {
      pending.set(this.id, {
        onProgress: (done) => this.say(describeProgress(done)),
        onFile: (answer) => { if (this.current) onFile(answer); },
        resolve: (answer) => {
          this.received = performance.now();
          if (answer.postedAt) this.transit = performance.timeOrigin + this.received - answer.postedAt;
          if (this.current) resolve(answer);
        },
      });
      document.body.dataset.worker = "busy";
      worker.postMessage({ ...message, section: this.section, id: this.id, sentAt: performance.timeOrigin + performance.now() });
    });
  }
  done(outcome, steps) {
    if (!this.current) return;
    clearTimeout(Job.timers[this.section]);
    this.busy.hidden = true;
    // Where the time went, for the page test: the whole job, from the files
    // given to the result shown; the worker's steps; the answer's way from
    // the worker to this thread; and this thread's work in showing it.
    const now = performance.now();
    window.lastJob = { section: this.section, ms: now - this.started, steps: steps ?? {}, transit: this.transit ?? 0,
                       showing: this.received ? now - this.received : 0 };
    performance.measure(`bmp2grid job ${this.section}`, { start: this.started });
    document.body.dataset[this.section] = outcome;
  }
}
Job.timers = {};

const megabytes = (bytes) => `${(bytes / 1e6).toFixed(1)} MB`;
const bytesText = (size) => `${size.toLocaleString("en")} bytes`;

function baseName(name) {
  const dot = name.lastIndexOf(".");
  return dot > 0 ? name.slice(0, dot) : name;
}

// A download link for one output ({ name, parts, type }): its file object
// is made when the link is first followed, not before, so that a result is
// ready as soon as its bytes are here; and it is made by the worker, so
// that copying tens or hundreds of MB never holds this thread up.
function offerDownload(link, output, label = `Download ${output.name}`) {
  if (link.href.startsWith("blob:")) URL.revokeObjectURL(link.href);
  link.href = "#";
  link.removeAttribute("aria-disabled");
  link.download = output.name;
  link.output = output;
  link.textContent = `${label} (${bytesText(output.size ?? sizeOf(output))})`;
}
const sizeOf = (output) => output.parts.reduce((sum, part) => sum + (part.byteLength ?? part.size), 0);
let nextBlob = 1;
const blobsAsked = new Map();
// The output's file object: made by the worker from the result it keeps
// (output.slot, output.serial), or from the parts the page has (a batch's
// outputs, handed over), or at once from a file object (a zip). Null when
// the worker's result has been replaced meanwhile.
function blobOf(output) {
  if (output.blob) return Promise.resolve(output.blob);
  if (output.parts && output.parts.every((part) => part instanceof Blob)) {
    return Promise.resolve(new Blob(output.parts, { type: output.type }));
  }
  return new Promise((resolve) => {
    const token = nextBlob++;
    blobsAsked.set(token, resolve);
    if (output.parts) {
      output.size = sizeOf(output);
      const parts = output.parts;
      output.parts = null;  // the worker has them now; the file object stands for them once made
      worker.postMessage({ type: "blob", token, parts, mime: output.type }, parts);
    } else {
      worker.postMessage({ type: "blob", token, output: { slot: output.slot, serial: output.serial, kind: output.kind },
                           mime: output.type });
    }
  }).then((blob) => {
    output.blob = blob;
    return blob;
  });
}
document.addEventListener("click", (event) => {
  const link = event.target.closest("a[download]");
  if (!link || !link.output || link.href.startsWith("blob:")) return;
  const output = link.output;
  const ready = output.blob ?? (output.parts?.every((part) => part instanceof Blob)
    ? new Blob(output.parts, { type: output.type }) : null);
  if (ready) {
    // A file object at hand (a zip): this click downloads it.
    output.blob = ready;
    link.href = URL.createObjectURL(ready);
    return;
  }
  event.preventDefault();
  if (link.making) return;
  link.making = true;
  const started = performance.now();
  blobOf(output).then((blob) => {
    link.making = false;
    if (link.output !== output || !blob) return;
    link.href = URL.createObjectURL(blob);
    window.lastDownloadMs = performance.now() - started;
    // Followed again once this click is over (a click within a click on
    // the same link is not followed).
    setTimeout(() => link.click(), 0);
  });
});

// The room a section's previews are shown in at once, in screen pixels: as
// wide as its drop zone, as high as a preview's view (70% of the window's).
function previewView(dropZone) {
  return { width: $(dropZone).clientWidth, height: Math.ceil(window.innerHeight * 0.7) };
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

// One file converts as before; several at once make a batch.
function wireDrop(zone, input, onFiles) {
  zone.addEventListener("dragover", (event) => { event.preventDefault(); zone.classList.add("dragging"); });
  zone.addEventListener("dragleave", () => zone.classList.remove("dragging"));
  zone.addEventListener("drop", (event) => {
    event.preventDefault();
    zone.classList.remove("dragging");
    const files = [...event.dataTransfer.files];
    if (files.length > 0) onFiles(files);
  });
  input.addEventListener("change", () => { if (input.files.length > 0) onFiles([...input.files]); });
}

const modeOf = (name) => document.querySelector(`input[name="${name}"]:checked`).value === "one";

// ---- Several files at once -----------------------------------------------

// The outputs of a batch of `files` whose outputs are named by `outputsOf`
// (file name -> output names): the programs' line for the first two that
// would write one output, or null.
function collision(files, outputsOf) {
  const taken = new Map();
  for (const file of files) {
    for (const output of outputsOf(file.name)) {
      const other = taken.get(output);
      if (other !== undefined) return sameOutputLine(other, file.name, output);
      taken.set(output, file.name);
    }
  }
  return null;
}

function sameOutputLine(input, otherInput, output) {
  const strings = [input, otherInput, output].map((text) => {
    const size = library.lengthBytesUTF8(text) + 1;
    const pointer = library._b2g_alloc(size);
    library.stringToUTF8(text, pointer, size);
    return pointer;
  });
  const line = library.UTF8ToString(library._b2g_same_output(...strings));
  for (const pointer of strings) library._b2g_free(pointer);
  return line;
}

// Converts several files in a section: a line per file as it is done (its
// downloads, or its refusal in the programs' words), progress, then the
// summary line and one zip of every output.
async function convertBatch(section, files, message, outputsOf) {
  const job = new Job(section);
  const list = $(`${section}-batch-list`);
  const refusal = $(`${section}-refusal`);
  $(`${section}-result`).hidden = true;
  const clash = collision(files, outputsOf);
  if (clash) {
    worker.postMessage({ type: "stop", section, id: job.id });
    refusal.textContent = clash;
    refusal.hidden = false;
    $(`${section}-batch`).hidden = true;
    job.done("refused");
    return;
  }
  refusal.hidden = true;
  for (const link of list.querySelectorAll("a[href^='blob:']")) URL.revokeObjectURL(link.href);
  list.replaceChildren();
  $(`${section}-batch-summary`).textContent = "";
  $(`${section}-zip`).hidden = true;
  $(`${section}-batch`).hidden = false;
  job.bar.max = files.length;
  job.bar.value = 0;
  job.say(`0 of ${files.length} files`);
  let done = 0;
  const onFile = (answer) => {
    const item = document.createElement("li");
    if (answer.ok) {
      item.append(`${answer.name}: `);
      for (const output of answer.outputs) {
        const link = document.createElement("a");
        link.className = "button";
        offerDownload(link, output);
        item.append(link, " ");
      }
      if (answer.note) item.append(Object.assign(document.createElement("span"), { className: "hint note", textContent: answer.note }));
    } else {
      item.className = "refusal";
      item.textContent = answer.message;
    }
    list.append(item);
    ++done;
    job.bar.value = done;
    job.say(`${done} of ${files.length} files`);
  };
  const answer = await job.convert({ ...message, files }, () => `${done} of ${files.length} files`, onFile);
  if (!answer.batch) {
    // Refused as a whole (the palette could not be read, or the module stopped).
    refusal.textContent = answer.message;
    refusal.hidden = false;
    $(`${section}-batch`).hidden = true;
    job.done("refused");
    return;
  }
  $(`${section}-batch-summary`).textContent = answer.summary;
  if (answer.zip) {
    offerDownload($(`${section}-zip`), { name: `${section === "picture" ? "maps" : "pictures"}.zip`, parts: [answer.zip], type: "application/zip" },
                  "Download all as a zip");
    $(`${section}-zip`).hidden = false;
  }
  job.done("ready", answer.steps);
}

// ---- Picture to map ------------------------------------------------------

let pictureFiles = null;
let pictureLayer = null;  // the tile layer picked for pictureFiles (--layer), or null
let shown = null;  // { width, rows, cells, oneToOne, rowColumns: Map, mapColumns }

async function convertPicture() {
  if (!pictureFiles) return;
  const oneToOne = modeOf("picture-mode");
  const message = { type: "picture", oneToOne, layer: pictureLayer, keep: ["txt"] };
  if (pictureFiles.length > 1) {
    shown = null;
    await convertBatch("picture", pictureFiles, message, (name) => [`${baseName(name)}.txt`]);
    return;
  }
  const job = new Job("picture");
  const answer = await job.convert({ ...message, files: pictureFiles, view: previewView("picture-drop") },
                                   (done) => `${megabytes(done)} of map text written`);
  $("picture-batch").hidden = true;
  const refusal = $("picture-refusal");
  if (!answer.ok) {
    if (answer.layers && answer.layers.length > 0) offerLayers(answer.layers);
    refusal.textContent = answer.message;
    refusal.hidden = false;
    $("picture-result").hidden = true;
    shown = null;
    job.done("refused", answer.steps);
    return;
  }
  refusal.hidden = true;
  const map = answer.outputs[0];
  // The cells come with the rest of the previews, a moment later.
  shown = { width: answer.width, rows: answer.rows, cells: null, oneToOne, rowColumns: new Map(), mapColumns: answer.mapColumns };
  $("picture-report").textContent = answer.message;
  offerDownload($("map-download"), map);
  $("map-text").textContent = answer.preview;
  $("picture-result").hidden = false;
  drawPicture();
  drawMap();
  job.done("ready", answer.steps);
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
    const value = shown.cells ? `, value ${shown.cells[y * shown.mapColumns + c]}` : "";
    tip.textContent = `Map column ${c}, row ${y}${value}`;
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

wireDrop($("picture-drop"), $("picture-file"), (files) => {
  pictureFiles = files;
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

let mapFiles = null;
let paletteFile = null;

// What grid2bmp writes for map text <stem>.txt in each format: the map, and
// beside a Tiled map its tile sheet, <stem>.tiles.png.
const FORMAT_OUTPUTS = { bmp: ["bmp"], png: ["png"], tmx: ["tmx", "sheet"], tmj: ["tmj", "sheet"] };
const SUFFIXES = { txt: ".txt", bmp: ".bmp", png: ".png", tmx: ".tmx", tmj: ".tmj", sheet: ".tiles.png" };

async function convertMap() {
  if (!mapFiles) return;
  const message = { type: "map", oneToOne: modeOf("map-mode"), palette: paletteFile, paletteName: paletteFile?.name ?? "" };
  if (mapFiles.length > 1) {
    const keep = FORMAT_OUTPUTS[$("map-batch-format").value];
    await convertBatch("map", mapFiles, { ...message, keep }, (name) => keep.map((kind) => `${baseName(name)}${SUFFIXES[kind]}`));
    return;
  }
  const job = new Job("map");
  const answer = await job.convert({ ...message, files: mapFiles, view: previewView("map-drop") },
                                   (done) => `${megabytes(done)} of map text read`);
  $("map-batch").hidden = true;
  const refusal = $("map-refusal");
  if (!answer.ok) {
    refusal.textContent = answer.message;
    refusal.hidden = false;
    $("map-result").hidden = true;
    job.done("refused", answer.steps);
    return;
  }
  refusal.hidden = true;
  $("map-report").textContent = answer.message + answer.note;
  const output = (kind) => answer.outputs.find((o) => o.kind === kind);
  offerDownload($("bmp-download"), output("bmp"));
  // The PNG beside it, unless grid2bmp would refuse to write one.
  const png = output("png");
  $("png-download").hidden = !png;
  $("png-refusal").hidden = Boolean(png);
  $("png-refusal").textContent = png ? "" : `No PNG: ${answer.pngMessage}`;
  if (png) offerDownload($("png-download"), png);
  // The Tiled maps and the sheet they name, as grid2bmp writes them beside a map <stem>.tmx or .tmj.
  offerDownload($("tmx-download"), output("tmx"));
  offerDownload($("sheet-download"), output("sheet"));
  offerDownload($("tmj-download"), output("tmj"));
  $("map-result").hidden = false;
  const canvas = $("bmp-canvas");
  showScaled(canvas, answer.width, answer.rows, fitScale(canvas.parentElement, answer.width));
  job.done("ready", answer.steps);
}

wireDrop($("map-drop"), $("map-file"), (files) => { mapFiles = files; convertMap(); });
for (const radio of document.querySelectorAll('input[name="map-mode"]')) radio.addEventListener("change", convertMap);
$("map-batch-format").addEventListener("change", () => { if (mapFiles && mapFiles.length > 1) convertMap(); });
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
