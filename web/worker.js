// The conversions run here, off the page's thread, so that a large picture
// never freezes the page. Each request carries the file's bytes; each answer
// carries the result's bytes (transferred, not copied) and the message line
// the programs would print.
importScripts("bmp2grid.js");

const PREVIEW_BYTES = 1 << 20;

let converter = null;
let currentId = 0;

function load() {
  if (!converter) {
    converter = createConverter({
      onProgress: (done) => postMessage({ id: currentId, type: "progress", done }),
    });
  }
  return converter;
}

// Copies `bytes` into the module's memory; the caller frees the pointer.
function put(m, bytes) {
  const pointer = m._b2g_alloc(bytes.byteLength);
  m.HEAPU8.set(new Uint8Array(bytes), pointer);
  return pointer;
}

function putString(m, text) {
  const size = m.lengthBytesUTF8(text) + 1;
  const pointer = m._b2g_alloc(size);
  m.stringToUTF8(text, pointer, size);
  return pointer;
}

function copyOut(m, pointer, size) {
  return m.HEAPU8.slice(pointer, pointer + size).buffer;
}

let builtinPalette = null;
function builtinColours(m) {
  if (!builtinPalette) {
    const pointer = m._b2g_alloc(1024);
    m._b2g_builtin_palette(pointer);
    builtinPalette = m.HEAPU8.slice(pointer, pointer + 1024);
    m._b2g_free(pointer);
  }
  return builtinPalette;
}

// Palette indices painted in their colours (red, green, blue, alpha per
// palette entry), as a bitmap the page draws at once; null when empty.
function bitmapOf(indices, width, rows, palette) {
  if (width === 0 || rows === 0) return Promise.resolve(null);
  const image = new ImageData(width, rows);
  const rgba = new Uint32Array(image.data.buffer);
  const colours = new Uint32Array(palette.buffer, palette.byteOffset, 256);
  for (let i = 0; i < indices.length; ++i) rgba[i] = colours[indices[i]];
  return createImageBitmap(image);
}

// The result of the last conversion, copied out of the module's memory.
function collect(m, ok) {
  const answer = { ok: ok === 1, message: m.UTF8ToString(m._b2g_message()), note: m.UTF8ToString(m._b2g_note()) };
  if (answer.ok) {
    answer.output = copyOut(m, m._b2g_output(), m._b2g_output_size());
    answer.width = m._b2g_width();
    answer.rows = m._b2g_rows();
    answer.pixels = copyOut(m, m._b2g_pixels(), answer.width * answer.rows);
    answer.palette = copyOut(m, m._b2g_palette(), 1024);
    answer.mapColumns = m._b2g_map_cell_columns();
    answer.cells = copyOut(m, m._b2g_cells(), answer.mapColumns * answer.rows);
    // Map to picture: the PNG file too, or grid2bmp's line for why there is none.
    const pngSize = m._b2g_png_output_size();
    answer.png = pngSize > 0 ? copyOut(m, m._b2g_png_output(), pngSize) : null;
    answer.pngMessage = m.UTF8ToString(m._b2g_png_message());
    // And the Tiled maps with the tile sheet they name.
    if (m._b2g_tmx_output_size() > 0) {
      answer.tmx = copyOut(m, m._b2g_tmx_output(), m._b2g_tmx_output_size());
      answer.tmj = copyOut(m, m._b2g_tmj_output(), m._b2g_tmj_output_size());
      answer.sheet = copyOut(m, m._b2g_sheet_output(), m._b2g_sheet_output_size());
      answer.sheetName = m.UTF8ToString(m._b2g_sheet_name());
    }
  } else {
    // A Tiled map's tile layers, when its refusal names them.
    answer.layers = [];
    for (let i = 0; i < m._b2g_layer_count(); ++i) answer.layers.push(m.UTF8ToString(m._b2g_layer_name(i)));
  }
  m._b2g_release();
  return answer;
}

onmessage = async (event) => {
  const request = event.data;
  currentId = request.id;
  let answer;
  try {
    const m = await load();
    const name = putString(m, request.name);
    const bytes = put(m, request.bytes);
    const started = performance.now();
    let ok;
    if (request.type === "picture") {
      // --layer, when a tile layer was picked (null: none).
      const layer = request.layer != null ? putString(m, request.layer) : 0;
      ok = m._b2g_picture_to_map(bytes, request.bytes.byteLength, request.oneToOne ? 1 : 0, name, layer);
      m._b2g_free(layer);
    } else {
      const hasPalette = request.palette != null;
      const palette = hasPalette ? put(m, request.palette) : 0;
      const paletteName = putString(m, hasPalette ? request.paletteName : "");
      const tmxName = putString(m, request.tmxName);
      const tmjName = putString(m, request.tmjName);
      ok = m._b2g_map_to_picture(bytes, request.bytes.byteLength, request.oneToOne ? 1 : 0, name, palette,
                                 hasPalette ? request.palette.byteLength : 0, paletteName, tmxName, tmjName);
      m._b2g_free(palette);
      m._b2g_free(paletteName);
      m._b2g_free(tmxName);
      m._b2g_free(tmjName);
    }
    const convertMs = performance.now() - started;
    m._b2g_free(bytes);
    m._b2g_free(name);
    answer = collect(m, ok);
    answer.convertMs = convertMs;
    if (answer.ok) {
      const pixels = new Uint8Array(answer.pixels);
      answer.pictureBitmap = await bitmapOf(pixels, answer.width, answer.rows, new Uint8Array(answer.palette));
      if (request.type === "picture") {
        answer.mapBitmap = await bitmapOf(new Uint8Array(answer.cells), answer.mapColumns, answer.rows, builtinColours(m));
      }
      delete answer.cells;  // drawn; the page needs no more of them
      delete answer.palette;
      // The download as a file object (made here: copying tens of MB would
      // hold up the page), and its first bytes for the text preview.
      answer.head = answer.output.slice(0, PREVIEW_BYTES);
      answer.output = new Blob([answer.output], { type: request.type === "picture" ? "text/plain" : "image/bmp" });
      if (answer.png) answer.png = new Blob([answer.png], { type: "image/png" });
      if (answer.tmx) {
        answer.tmx = new Blob([answer.tmx], { type: "application/xml" });
        answer.tmj = new Blob([answer.tmj], { type: "application/json" });
        answer.sheet = new Blob([answer.sheet], { type: "image/png" });
      }
    }
  } catch (error) {
    // The module stopped (it ran out of memory it could not ask for): start
    // a fresh one for the next request.
    converter = null;
    answer = { ok: false, failed: true, message: String(error && error.message ? error.message : error) };
  }
  answer.id = request.id;
  answer.type = "done";
  const transfer = answer.ok ? [answer.head, answer.pixels, answer.pictureBitmap, answer.mapBitmap].filter((t) => t) : [];
  postMessage(answer, transfer);
};
