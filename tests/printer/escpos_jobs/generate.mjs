// Writes the ESC/POS byte jobs in this folder, each made by a common npm
// encoding library, so the virtual printer can be fed what real tills send.
//
// Install the libraries in a scratch folder outside the repository, then run
// this script from that folder (packages are resolved from the working
// directory, the .bin files are written next to this script):
//
//   mkdir -p /tmp/escpos-gen && cd /tmp/escpos-gen && npm init -y
//   npm install @point-of-sale/receipt-printer-encoder@4.0.1 receiptline@4.0.4 node-thermal-printer@4.6.1
//   node /path/to/tests/printer/escpos_jobs/generate.mjs
//
// The output is deterministic: no dates, no random data, images are built in
// code. The script refuses to run with other library versions, because the
// README next to it lists the exact commands each file holds.

import { createRequire } from 'node:module';
import { dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';
import { readFileSync, writeFileSync } from 'node:fs';
import { deflateSync } from 'node:zlib';

const here = dirname(fileURLToPath(import.meta.url));
const require = createRequire(join(process.cwd(), 'noop.js'));

const VERSIONS = {
  '@point-of-sale/receipt-printer-encoder': '4.0.1',
  'receiptline': '4.0.4',
  'node-thermal-printer': '4.6.1',
};

for (const [name, version] of Object.entries(VERSIONS)) {
  const file = join(process.cwd(), 'node_modules', name, 'package.json');
  let found;
  try {
    found = JSON.parse(readFileSync(file, 'utf8')).version;
  } catch {
    throw new Error(`${name} is not installed in ${process.cwd()}; see the npm install line at the top of this script`);
  }
  if (found !== version) {
    throw new Error(`${name} is ${found}, this script expects ${version}`);
  }
}

const ReceiptPrinterEncoder = require('@point-of-sale/receipt-printer-encoder');
const receiptline = require('receiptline');
const { ThermalPrinter, CharacterSet, PrinterTypes } = require('node-thermal-printer');

// ---------------------------------------------------------------- content

const TITLE = 'PADARIA PÃO DOURADO';
const ADDRESS = 'Rua das Flores, 12 - 1100-001 Lisboa';
const ITEMS = [
  ['Pão francês x4', '2,40'],
  ['Café com leite', '3,50'],
  ['Bolo de laranja', '4,00'],
  ['Pastel de nata', '2,50'],
];
const TOTAL = 'TOTAL 12,40';
const PAYMENT = 'Pagamento: cartão de débito';
const FAREWELL = 'Volte sempre!';
const BARCODE = 'PAD-000123';
const QR = 'https://example.com/r/000123';

// ---------------------------------------------------------------- images

const SIZE = 64;

// RGBA pixels, black where dark(x, y) is true, white elsewhere.
function pixels(dark) {
  const data = new Uint8ClampedArray(SIZE * SIZE * 4);
  for (let y = 0; y < SIZE; y++) {
    for (let x = 0; x < SIZE; x++) {
      const v = dark(x, y) ? 0 : 255;
      data.set([v, v, v, 255], (y * SIZE + x) * 4);
    }
  }
  return data;
}

// 8x8-dot squares, the top left one black.
const checkerboard = pixels((x, y) => ((x >> 3) + (y >> 3)) % 2 === 0);
// A 4-dot black frame with a 4-dot black square in the middle.
const borderBox = pixels((x, y) =>
  x < 4 || y < 4 || x >= SIZE - 4 || y >= SIZE - 4 ||
  (x >= 30 && x < 34 && y >= 30 && y < 34));

const CRC_TABLE = Array.from({ length: 256 }, (_, n) => {
  let c = n;
  for (let k = 0; k < 8; k++) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
  return c >>> 0;
});

function crc32(buffer) {
  let c = 0xffffffff;
  for (const b of buffer) c = CRC_TABLE[(c ^ b) & 0xff] ^ (c >>> 8);
  return (c ^ 0xffffffff) >>> 0;
}

function chunk(type, data) {
  const head = Buffer.alloc(8);
  head.writeUInt32BE(data.length, 0);
  head.write(type, 4, 'ascii');
  const crc = Buffer.alloc(4);
  crc.writeUInt32BE(crc32(Buffer.concat([head.subarray(4), data])), 0);
  return Buffer.concat([head, data, crc]);
}

// A minimal RGBA PNG, for the libraries whose image API takes PNG data.
function png(rgba) {
  const ihdr = Buffer.alloc(13);
  ihdr.writeUInt32BE(SIZE, 0);
  ihdr.writeUInt32BE(SIZE, 4);
  ihdr.set([8, 6, 0, 0, 0], 8);
  const rows = Buffer.alloc(SIZE * (1 + SIZE * 4));
  for (let y = 0; y < SIZE; y++) {
    rows[y * (1 + SIZE * 4)] = 0;
    Buffer.from(rgba.buffer, y * SIZE * 4, SIZE * 4).copy(rows, y * (1 + SIZE * 4) + 1);
  }
  return Buffer.concat([
    Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]),
    chunk('IHDR', ihdr),
    chunk('IDAT', deflateSync(rows)),
    chunk('IEND', Buffer.alloc(0)),
  ]);
}

// ---------------------------------------------------------------- output

const written = [];

function write(name, bytes) {
  const buffer = Buffer.from(bytes);
  if (buffer.length > 40 * 1024) throw new Error(`${name} is ${buffer.length} bytes, over 40 KB`);
  writeFileSync(join(here, name), buffer);
  written.push(`${name} ${buffer.length}`);
}

// ---------------------------------------------------------------- receipt-printer-encoder

// A plain name-to-table mapping instead of one of the library's named
// mappings; it sends the same table number for cp860 as all of them.
function encoder() {
  return new ReceiptPrinterEncoder({
    language: 'esc-pos',
    columns: 48,
    codepageMapping: { cp437: 0, cp860: 3 },
    feedBeforeCut: 4,
  });
}

function encoderItems(e, items) {
  return e.table(
      [{ width: 36, align: 'left' }, { width: 12, align: 'right' }],
      items,
  );
}

{
  const e = encoder()
      .initialize()
      .codepage('cp860')
      .align('center')
      .bold(true).size(2, 2).line(TITLE).size(1, 1).bold(false)
      .font('B').line(ADDRESS).font('A')
      .align('left')
      .rule();
  encoderItems(e, ITEMS)
      .rule()
      .bold(true).line(TOTAL).bold(false)
      .underline(true).line(PAYMENT).underline(false)
      .align('center')
      .barcode(BARCODE, 'code128', { height: 60, width: 2, text: 'below' })
      .qrcode(QR, { model: 2, size: 6, errorlevel: 'm' })
      .image({ data: checkerboard, width: SIZE, height: SIZE }, { width: SIZE, height: SIZE, mode: 'column' })
      .image({ data: borderBox, width: SIZE, height: SIZE }, { width: SIZE, height: SIZE, mode: 'raster' })
      .font('B').line(FAREWELL).font('A')
      .align('left')
      .cut();
  write('encoder-bakery.bin', e.encode());
}

{
  const e = encoder();
  const receipt = (n, item, total, cut) => {
    e.initialize()
        .codepage('cp860')
        .align('center').bold(true).line(TITLE).bold(false)
        .align('left').line(`Recibo ${n} de 2`);
    encoderItems(e, [item])
        .bold(true).line(total).bold(false)
        .cut(cut);
    return e.encode();
  };
  const first = receipt(1, ITEMS[0], 'TOTAL 2,40', 'partial');
  const second = receipt(2, ITEMS[1], 'TOTAL 3,50', 'full');
  write('encoder-two-receipts.bin', Buffer.concat([first, second]));
}

{
  // The first title line is right; the second is sent through raw() as UTF-8
  // bytes while the printer is still on the cp860 table, the mistake a till
  // makes when it forgets to encode its text.
  const e = encoder()
      .initialize()
      .codepage('cp860')
      .line(TITLE)
      .raw(Buffer.from(TITLE, 'utf8'))
      .newline()
      .bold(true).line(TOTAL).bold(false)
      .cut();
  write('encoder-utf8-mistake.bin', e.encode());
}

// ---------------------------------------------------------------- receiptline

{
  const doc = [
    `^^^"${TITLE}"`,
    ADDRESS,
    '---',
    ...ITEMS.map(([item, price]) => `${item} | ${price}`),
    '---',
    `|"${TOTAL}"`,
    `|_${PAYMENT}_`,
    `{code:${BARCODE}; option:code128,2,72,hri}`,
    `{code:${QR}; option:qrcode,6,m}`,
    `{image:${png(checkerboard).toString('base64')}}`,
    `^^${FAREWELL}`,
    '',
  ].join('\n');
  // gradient: false thresholds the image instead of dithering it, so the
  // checkerboard stays exact.
  const command = receiptline.transform(doc, { command: 'escpos', cpl: 48, encoding: 'cp860', gradient: false });
  write('receiptline-bakery.bin', Buffer.from(command, 'binary'));
}

// ---------------------------------------------------------------- node-thermal-printer

{
  // No interface: the job is only built, never sent anywhere. The library's
  // first printer type is its plain ESC/POS command set.
  const p = new ThermalPrinter({ type: Object.values(PrinterTypes)[0], width: 48 });
  p.initHardware();
  p.setCharacterSet(CharacterSet.PC860_PORTUGUESE);
  p.alignCenter();
  p.setTextQuadArea();
  p.bold(true);
  p.println(TITLE);
  p.bold(false);
  p.setTextNormal();
  p.setTypeFontB();
  p.println(ADDRESS);
  p.setTypeFontA();
  p.alignLeft();
  p.drawLine();
  for (const [item, price] of ITEMS) p.leftRight(item, price);
  p.drawLine();
  p.bold(true);
  p.println(TOTAL);
  p.bold(false);
  p.underline(true);
  p.println(PAYMENT);
  p.underline(false);
  p.alignCenter();
  p.code128(BARCODE, { hriPos: 2, hriFont: 0, width: 2, height: 80 });
  p.newLine();
  p.printQR(QR, { model: 2, cellSize: 6, correction: 'M' });
  p.newLine();
  await p.printImageBuffer(png(checkerboard));
  p.newLine();
  p.setTextDoubleHeight();
  p.println(FAREWELL);
  p.setTextNormal();
  p.alignLeft();
  p.cut();
  write('thermal-bakery.bin', p.getBuffer());
}

console.log(written.join('\n'));
