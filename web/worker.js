// The conversions run here, off the page's thread, so that a large picture
// never holds the page up. The page hands over the File objects themselves:
// they are read here. A section's last result stays in the module's memory
// (a slot of its own), where it was written: only what the page shows
// leaves it at once (the size report and the first lines of the map text),
// the previews are drawn here into the page's canvases, handed over once
// (first what the page shows at once, then the rest), and a download's
// file object is made from it, here, when the page asks for it. Fresh memory costs more than copying into memory in use
// (every new page is a fault), so nothing large is copied on the way to a
// result.
//
// Several files at once (a batch) are converted one after another in a
// slot of their own, each reported as it is done with its outputs copied
// out for the page, and packed into one zip (fflate) as they come; a newer
// request for the same section stops a batch between two files.
importScripts("bmp2grid.js", "fflate.js");

const PREVIEW_PIXELS = 4096 * 4096;  // a larger picture's preview shows every n-th pixel
const PREVIEW_SIDE = 16384;          // and so does one wider or taller than a canvas can be
const BAND_PIXELS = 1 << 20;         // the previews are painted this many pixels at a time
const PREVIEW_ROWS = 12;             // the map text's preview: its first rows,
const PREVIEW_LINE_CHARS = 1000;     // each cut short after so many characters,
const PREVIEW_BYTES = 1 << 20;       // from its first bytes
const SLOTS = { picture: 0, map: 1 };
const BATCH_SLOT = 2;

let converter = null;
let palette = null;  // the palette file of the request under way, in the module's memory
let progressId = 0;
const canvases = {};  // picture, map, bmp: the page's preview canvases
const canvas = (name) => canvases[name];
const newest = {};    // section -> the newest request's id
// Each slot's result, numbered (never the same number twice, nor for a
// new module after one stopped): a download names the one it is of.
const serials = [0, 0, 0];
let nextSerial = 1;

function load() {
  if (!converter) {
    converter = createConverter({
      onProgress: (done) => postMessage({ id: progressId, type: "progress", done }),
    });
  }
  return converter;
}

function putString(m, text) {
  const size = m.lengthBytesUTF8(text) + 1;
  const pointer = m._b2g_alloc(size);
  m.stringToUTF8(text, pointer, size);
  return pointer;
}

// A copy of bytes in the module's memory, as an ArrayBuffer of its own
// (set() copies in one go, where slice() of the module's memory is slow).
function copyOut(m, pointer, size) {
  const copy = new Uint8Array(size);
  copy.set(m.HEAPU8.subarray(pointer, pointer + size));
  return copy.buffer;
}

// Time spent in each step of the conversion under way, in ms, for the page
// test's account of where the time goes; each step is also a measure in
// the browser's performance trace.
let steps = {};
function timed(step, body) {
  const started = performance.now();
  const value = body();
  const ended = performance.now();
  steps[step] = (steps[step] ?? 0) + (ended - started);
  performance.measure(`bmp2grid ${step}`, { start: started, end: ended });
  return value;
}

// The step a preview of a picture `width` x `rows` needs at least: every
// n-th pixel when the picture is larger than a canvas holds.
function leastStep(width, rows) {
  let step = 1;
  while (Math.ceil(width / step) > PREVIEW_SIDE || Math.ceil(rows / step) > PREVIEW_SIDE
         || Math.ceil(width / step) * Math.ceil(rows / step) > PREVIEW_PIXELS) ++step;
  return step;
}

// Paints the rows up to `to` of the preview (every `step`-th pixel) of the
// slot's picture (`what` 0) or map cells (1), `width` x `rows`, into a
// canvas that many rows high (the page shows a canvas of fewer rows than
// the preview's at the top of the preview's box, at its scale), band by
// band through the module's memory.
function paint(m, target, what, width, rows, step, to) {
  const shownWidth = Math.max(1, Math.ceil(width / step));
  const last = Math.max(1, Math.min(Math.ceil(rows / step), to));
  target.width = shownWidth;
  target.height = last;
  const context = target.getContext("2d");
  if (width === 0 || rows === 0) return;
  const band = Math.max(1, Math.floor(BAND_PIXELS / shownWidth));
  const pointer = m._b2g_alloc(shownWidth * Math.min(band, last) * 4);
  for (let y = 0; y < last; y += band) {
    const end = Math.min(last, y + band);
    m._b2g_paint(what, step, y, end, pointer);
    const pixels = new Uint8ClampedArray(m.HEAPU8.buffer, pointer, shownWidth * (end - y) * 4);
    context.putImageData(new ImageData(pixels, shownWidth, end - y), 0, y);
  }
  m._b2g_free(pointer);
}

// Draws a preview in two goes: first what the page shows of it at once (at
// the width it is shown at, down to the bottom of its view: `view` is that
// width and height in screen pixels); then, when there is more to it, all
// of it, by the function returned (null when there is no more). The canvas
// shows what was drawn when the task drawing it ends.
function drawPreview(m, name, what, width, rows, view) {
  const full = leastStep(width, rows);
  const first = Math.max(full, view.width > 0 && width > view.width ? Math.ceil(width / view.width) : 1);
  const seen = view.height > 0 ? view.height : Infinity;
  paint(m, canvas(name), what, width, rows, first, seen);
  const more = first > full || Math.ceil(rows / first) > seen;
  return more ? () => paint(m, canvas(name), what, width, rows, full, Infinity) : null;
}

// Draws the rest of the previews drawn first.
const drawRest = (rests) => { for (const rest of rests) if (rest) rest(); };

function layerNames(m) {
  const names = [];
  for (let i = 0; i < m._b2g_layer_count(); ++i) names.push(m.UTF8ToString(m._b2g_layer_name(i)));
  return names;
}

function baseName(name) {
  const dot = name.lastIndexOf(".");
  return dot > 0 ? name.slice(0, dot) : name;
}

// The bytes of an output of the slot's result, where they lie in the
// module's memory: views, for a file object or a zip entry.
function viewsOf(m, kind) {
  if (kind === "txt") {
    const views = [];
    for (let i = 0; i < m._b2g_piece_count(); ++i) {
      const at = m._b2g_piece(i);
      views.push(m.HEAPU8.subarray(at, at + m._b2g_piece_size(i)));
    }
    return views;
  }
  const where = { bmp: [m._b2g_output, m._b2g_output_size], png: [m._b2g_png_output, m._b2g_png_output_size],
                  tmx: [m._b2g_tmx_output, m._b2g_tmx_output_size], tmj: [m._b2g_tmj_output, m._b2g_tmj_output_size],
                  sheet: [m._b2g_sheet_output, m._b2g_sheet_output_size] }[kind];
  const at = where[0]();
  return [m.HEAPU8.subarray(at, at + where[1]())];
}

// The outputs of the slot's result: { kind, name, type, size }, with
// `slot` and `serial` naming the result.
function outputsOf(m, slot, stem, kinds) {
  const names = { txt: `${stem}.txt`, bmp: `${stem}.bmp`, png: `${stem}.png`, tmx: `${stem}.tmx`, tmj: `${stem}.tmj`,
                  sheet: m.UTF8ToString(m._b2g_sheet_name()) };
  const types = { txt: "text/plain", bmp: "image/bmp", png: "image/png", tmx: "application/xml", tmj: "application/json",
                  sheet: "image/png" };
  return kinds.map((kind) => ({ kind, name: names[kind], type: types[kind], slot, serial: serials[slot],
                                size: viewsOf(m, kind).reduce((sum, view) => sum + view.length, 0) }));
}

// The first rows of the map text (from its first bytes), long lines cut short.
function previewText(m) {
  if (m._b2g_piece_count() === 0) return "";
  const size = m._b2g_output_size();
  const first = viewsOf(m, "txt")[0];
  const bytes = first.subarray(0, Math.min(PREVIEW_BYTES, first.length));
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

// bmp2grid on one picture, into `slot`. With `draw`, the previews are drawn
// first what is in view, and `rest` gives the rest and the map's cells.
function pictureToMap(m, slot, bytes, request, name, draw) {
  m._b2g_use_slot(slot);
  serials[slot] = nextSerial++;
  const pointers = [bytes.pointer, putString(m, name), request.layer != null ? putString(m, request.layer) : 0];
  const ok = timed("module", () => m._b2g_picture_to_map(pointers[0], bytes.size, request.oneToOne ? 1 : 0,
                                                          pointers[1], pointers[2], draw ? 1 : 0));
  for (const pointer of pointers) m._b2g_free(pointer);
  const answer = { ok: ok === 1, message: m.UTF8ToString(m._b2g_message()), note: "" };
  if (!answer.ok) {
    answer.layers = layerNames(m);
    return answer;
  }
  answer.outputs = outputsOf(m, slot, baseName(name), ["txt"]);
  if (draw) {
    answer.preview = previewText(m);
    answer.width = m._b2g_width();
    answer.rows = m._b2g_rows();
    answer.mapColumns = m._b2g_map_cell_columns();
    const rests = timed("draw", () => [drawPreview(m, "picture", 0, answer.width, answer.rows, request.view),
                                       drawPreview(m, "map", 1, answer.mapColumns, answer.rows, request.view)]);
    answer.rest = () => {
      m._b2g_use_slot(slot);
      drawRest(rests);
      return { cells: copyOut(m, m._b2g_cells(), answer.mapColumns * answer.rows) };
    };
  }
  return answer;
}

// grid2bmp on one map text, into every format at once, into `slot`. With
// `draw`, the picture's preview is drawn, as pictureToMap draws its own.
function mapToPicture(m, slot, bytes, request, name, palette, draw) {
  m._b2g_use_slot(slot);
  serials[slot] = nextSerial++;
  const stem = baseName(name);
  const strings = [name, palette ? request.paletteName : "", `${stem}.tmx`, `${stem}.tmj`].map((s) => putString(m, s));
  const paletteAt = palette ? palette.pointer : 0;
  const text = bytes.pointer;
  const ok = timed("module", () => m._b2g_map_to_picture(text, bytes.size, request.oneToOne ? 1 : 0, strings[0],
                                                          paletteAt, palette ? palette.size : 0, strings[1],
                                                          strings[2], strings[3], draw ? 1 : 0));
  for (const pointer of [...strings, text]) m._b2g_free(pointer);
  const answer = { ok: ok === 1, message: m.UTF8ToString(m._b2g_message()), note: m.UTF8ToString(m._b2g_note()) };
  if (!answer.ok) return answer;
  answer.pngMessage = m.UTF8ToString(m._b2g_png_message());
  const kinds = ["bmp", ...(m._b2g_png_output_size() > 0 ? ["png"] : []), "tmx", "sheet", "tmj"];
  answer.outputs = outputsOf(m, slot, stem, kinds);
  if (draw) {
    answer.width = m._b2g_width();
    answer.rows = m._b2g_rows();
    const rests = [timed("draw", () => drawPreview(m, "bmp", 0, answer.width, answer.rows, request.view))];
    answer.rest = () => {
      m._b2g_use_slot(slot);
      drawRest(rests);
      return {};
    };
  }
  return answer;
}

const nextTask = () => new Promise((resolve) => setTimeout(resolve, 0));

// A file the browser could not read whole (it changed, or went, after it
// was given), or one larger than the module's memory can hold: refused
// with the programs' line, `Can't open` or `not enough memory`.
class Unreadable extends Error {
  constructor(file, cause) {
    super(`${file.name}: ${cause.message}`);
    this.file = file;
  }
  line(m) { return lineFor(m, m._b2g_cant_open, this.file.name); }
}
class TooLarge extends Error {
  constructor(file) {
    super(`${file.name}: larger than the page's memory`);
    this.file = file;
  }
  line(m) { return lineFor(m, m._b2g_no_memory, this.file.name); }
}
function lineFor(m, message, name) {
  const pointer = putString(m, name);
  const line = m.UTF8ToString(message(pointer));
  m._b2g_free(pointer);
  return line;
}

// Reads a file the page handed over into the module's memory, piece by
// piece as the browser hands them over (into memory in use, not a fresh
// buffer the size of the file). Returns { pointer, size }; the caller
// frees the pointer.
async function read(m, file) {
  const started = performance.now();
  // (The module's memory holds at most 2 GiB, and counts sizes in 32 bits.)
  const pointer = file.size < 2 ** 31 ? m._b2g_alloc(file.size) : 0;
  if (pointer === 0) throw new TooLarge(file);
  let size = 0;
  try {
    const reader = file.stream().getReader();
    for (;;) {
      const { done, value } = await reader.read();
      if (done) break;
      if (size + value.length > file.size) throw new Error("longer than it was");
      m.HEAPU8.set(value, pointer + size);
      size += value.length;
    }
  } catch (error) {
    m._b2g_free(pointer);
    throw new Unreadable(file, error);
  }
  steps["read file"] = (steps["read file"] ?? 0) + performance.now() - started;
  performance.measure("bmp2grid read file", { start: started });
  return { pointer, size };
}

// Converts one file, or several one after another; answers the page.
async function handle(request) {
  if (request.id !== newest[request.section]) return;  // a newer request replaced it before it began
  progressId = request.id;
  steps = {};
  // From the page's job to here: the request's way, and its wait for an
  // earlier one.
  steps["to the worker"] = performance.timeOrigin + request.arrived - request.sentAt;
  steps.queued = performance.now() - request.arrived;
  try {
    const m = await load();
    palette = request.palette ? await read(m, request.palette) : null;
    const convert = async (slot, file, draw) => {
      const bytes = await read(m, file);
      return request.type === "picture"
        ? pictureToMap(m, slot, bytes, request, file.name, draw)
        : mapToPicture(m, slot, bytes, request, file.name, palette, draw);
    };
    if (request.files.length > 1) {
      await batch(m, request, convert);
      return;
    }
    const answer = await convert(SLOTS[request.section], request.files[0], true);
    const rest = answer.rest;
    delete answer.rest;
    answer.steps = steps;
    answer.postedAt = performance.timeOrigin + performance.now();
    postMessage({ ...answer, id: request.id, type: "done" });
    if (rest) {
      // The task ends, and the canvases show what was drawn first, before
      // the rest is drawn.
      await nextTask();
      if (request.id !== newest[request.section]) return;
      const more = rest();
      postMessage({ ...more, type: "previews", section: request.section, id: request.id }, more.cells ? [more.cells] : []);
      await nextTask();
    }
  } catch (error) {
    if (error instanceof Unreadable || error instanceof TooLarge) {
      // A file (the one given, or the palette) the page could not read
      // whole: the program's line for it.
      postMessage({ id: request.id, type: "done", ok: false, message: error.line(await load()) });
      return;
    }
    // The module stopped (it ran out of memory it could not ask for): start
    // a fresh one for the next request; no slot holds a result now.
    converter = null;
    serials.fill(0);
    postMessage({ id: request.id, type: "done", ok: false, failed: true,
                  message: String(error && error.message ? error.message : error) });
  } finally {
    if (palette && converter) (await load())._b2g_free(palette.pointer);
    palette = null;
  }
}

// Several files: each converted and reported in turn, its outputs (those of
// the format asked for) copied out for the page and added to the zip; then
// the zip and the summary.
async function batch(m, request, convert) {
  const zipped = [];
  const zip = new fflate.Zip((error, data) => { if (!error) zipped.push(data); });
  let converted = 0;
  for (let index = 0; index < request.files.length; ++index) {
    if (request.id !== newest[request.section]) return;
    const file = request.files[index];
    let answer;
    try {
      answer = await convert(BATCH_SLOT, file, false);
    } catch (error) {
      if (!(error instanceof Unreadable || error instanceof TooLarge)) throw error;
      answer = { ok: false, message: error.line(m) };  // as the batch form goes on past a file it can't open
    }
    m._b2g_use_slot(BATCH_SLOT);
    if (answer.ok && request.keep.includes("png") && !answer.outputs.some((output) => output.kind === "png")) {
      // A map wider than a PNG can be: grid2bmp --format png refuses it.
      answer.ok = false;
      answer.message = answer.pngMessage;
    }
    const buffers = [];
    if (!answer.ok) {
      answer.outputs = [];
    } else {
      ++converted;
      answer.outputs = answer.outputs.filter((output) => request.keep.includes(output.kind));
      timed("build download", () => {
        for (const output of answer.outputs) {
          const views = viewsOf(m, output.kind);
          const entry = new fflate.ZipDeflate(output.name, { level: 1 });
          zip.add(entry);
          views.forEach((view, i) => entry.push(view, i === views.length - 1));
          if (views.length === 0) entry.push(new Uint8Array(0), true);
          output.parts = views.map((view) => copyOut(m, view.byteOffset, view.length));
          buffers.push(...output.parts);
        }
      });
      if (answer.note) {
        // A note names its file, as a batch prints it.
        const strings = [file.name, answer.note].map((text) => putString(m, text));
        answer.note = m.UTF8ToString(m._b2g_file_note(...strings));
        for (const pointer of strings) m._b2g_free(pointer);
      }
    }
    m._b2g_release();
    postMessage({ ...answer, id: request.id, type: "file", index, name: file.name }, buffers);
    // Lets a newer request in before the next file.
    await nextTask();
  }
  zip.end();
  m._b2g_use_slot(BATCH_SLOT);
  const summary = m.UTF8ToString(m._b2g_batch_summary(converted, request.files.length - converted));
  postMessage({ id: request.id, type: "done", ok: true, batch: true, summary, steps,
                zip: converted > 0 ? new Blob(zipped, { type: "application/zip" }) : null });
}

// A download's file object: of an output of a slot's result, where it lies
// in the module's memory, or of the parts the page had (a batch's). Made
// at once, ahead of any conversion waiting; null when the result is no
// longer the slot's.
async function makeBlob(request) {
  const started = performance.now();
  let blob = null;
  if (request.parts) {
    blob = new Blob(request.parts, { type: request.mime });
  } else {
    const m = await load();
    const { slot, serial, kind } = request.output;
    if (serials[slot] === serial) {
      m._b2g_use_slot(slot);
      blob = new Blob(viewsOf(m, kind), { type: request.mime });
    }
  }
  performance.measure("bmp2grid build download", { start: started });
  postMessage({ type: "blob", token: request.token, blob });
}

onmessage = (event) => {
  const request = event.data;
  if (request.type === "canvases") {
    Object.assign(canvases, request.canvases);
    return;
  }
  if (request.type === "blob") {
    makeBlob(request);
    return;
  }
  if (request.type === "stop") {
    // A newer job of the section that needs no work here (refused before
    // any): the section's batch under way stops.
    newest[request.section] = request.id;
    return;
  }
  newest[request.section] = request.id;
  request.arrived = performance.now();
  ++waiting;
  queue = queue.then(() => handle(request)).then(() => {
    // Nothing more to do (the previews drawn in full too): the page test
    // waits for this before timing a conversion.
    if (--waiting === 0) postMessage({ type: "idle" });
  });
};
let queue = Promise.resolve();
let waiting = 0;
