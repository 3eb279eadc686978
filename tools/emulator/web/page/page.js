// The virtual printer's page: receipts arrive as server-sent events and go
// on top, each with its warnings; the buttons post the printer's state with
// this run's token, and only while the page is connected to the printer.
'use strict';

const token = document.querySelector('meta[name="it433td-token"]').content;
const run = document.querySelector('meta[name="it433td-run"]').content;
const buttons = [...document.querySelectorAll('button[data-state]')];
const list = document.getElementById('receipts');
const stateBadge = document.getElementById('state');
const link = document.getElementById('link');
const setupName = document.getElementById('setup');
const kept = 50;
const shown = new Set();
const stateWords = { online: 'online', 'near-end': 'paper near end', 'paper-out': 'paper out',
                     offline: 'offline (cover open)' };
const modelWords = { it433td: 'IT433TD', escpos: 'ESC/POS' };

function showState(state) {
  stateBadge.dataset.state = state;
  stateBadge.textContent = stateWords[state] || state;
  for (const button of buttons) button.setAttribute('aria-pressed', button.dataset.state === state);
}

// The state is unknown while the printer cannot be reached: nothing to press.
function showConnected(connected) {
  for (const button of buttons) button.disabled = !connected;
  if (connected) return;
  showState('not-connected');
  stateBadge.textContent = 'not connected';
}

// The codes the transcript read from the paper: barcodes, [CODE128 "..."]
// (the ESC/POS model's [EAN13 "..."] and the rest too), and
// [IMAGE WxH QR "..." CODE128 "..."] (every code on the picture), unescaped
// for reading.
function codesIn(transcript) {
  const codes = [];
  const quoted = '"((?:[^"\\\\]|\\\\.)*)"';
  const barcode = '(CODE128|CODE93|CODE39|EAN13|EAN8|UPC-A|UPC-E|ITF|CODABAR)';
  const lines = new RegExp('^\\[(?:' + barcode + ' ' + quoted + '|IMAGE \\d+x\\d+((?: \\S+ ' + quoted + ')+))\\]$', 'gm');
  const unescape = (text) => text.replace(/\\(["\\])/g, '$1');
  for (const line of transcript.matchAll(lines)) {
    if (line[1] !== undefined) codes.push({ format: line[1], text: unescape(line[2]) });
    for (const code of (line[3] || '').matchAll(new RegExp(' (\\S+) ' + quoted, 'g')))
      codes.push({ format: code[1], text: unescape(code[2]) });
  }
  return codes;
}

function element(tag, properties, ...children) {
  const made = Object.assign(document.createElement(tag), properties);
  for (const child of children) made.append(child);
  return made;
}

// "2 warnings" beside the heading, the lines under it; nothing when clean.
function warningsOf(lines) {
  if (!lines.length) return [[], []];
  const count = lines.length + (lines.length === 1 ? ' warning' : ' warnings');
  const list = element('ul', { className: 'warnings' },
    ...lines.map((line) => element('li', { textContent: line })));
  return [[element('span', { className: 'badge', textContent: count })], [list]];
}

async function addReceipt(number, warnings, label) {
  if (shown.has(number)) return;
  shown.add(number);
  document.getElementById('empty')?.remove();
  const name = 'receipt-' + String(number).padStart(4, '0');
  const base = '/receipts/' + number;
  const transcript = element('pre', { className: 'transcript', textContent: 'loading...' });
  const codes = element('ul', { className: 'codes' });
  const [badge, warningList] = warningsOf(warnings);
  const card = element('article', { className: 'receipt', id: name },
    element('div', { className: 'paper' },
      element('img', { className: 'picture', src: base + '.png', alt: 'receipt ' + number })),
    element('div', { className: 'about' },
      element('h2', { textContent: 'Receipt ' + number + ' ' }, ...badge),
      // Its golden receipt's name in a run (`it433td label`).
      ...(label ? [element('p', { className: 'label', textContent: label })] : []),
      ...warningList, codes, transcript,
      element('p', { className: 'downloads' },
        element('a', { href: base + '.png?download', download: name + '.png', textContent: 'PNG' }),
        element('a', { href: base + '.txt?download', download: name + '.txt',
                       textContent: 'transcript' }))));
  card.dataset.number = number;
  // Newest first: above every receipt with a lower number.
  const later = [...list.querySelectorAll('.receipt')].find((c) => Number(c.dataset.number) < number);
  list.insertBefore(card, later || null);
  for (const old of [...list.querySelectorAll('.receipt')].slice(kept)) {
    shown.delete(Number(old.dataset.number));
    old.remove();
  }
  try {
    const answer = await fetch(base + '.txt');
    const text = await answer.text();
    transcript.textContent = text;
    for (const code of codesIn(text))
      codes.append(element('li', { className: 'code', textContent: code.format + ': ' + code.text }));
  } catch (error) {
    transcript.textContent = 'transcript not available: ' + error;
  }
}

async function setState(state) {
  const answer = await fetch('/state', {
    method: 'POST',
    headers: { 'Content-Type': 'text/plain', 'X-IT433TD-Token': token },
    body: state,
  });
  if (!answer.ok) alert('The printer refused: ' + (await answer.text()));
}

for (const button of buttons) button.addEventListener('click', () => setState(button.dataset.state));

const events = new EventSource('/events');
// Another run of the printer answers at the same address: its token and
// receipts are not this page's.
events.addEventListener('run', (e) => { if (JSON.parse(e.data).run !== run) location.reload(); });
// Each state says which model runs and its paper: "IT433TD, 80 mm".
events.addEventListener('state', (e) => {
  const printer = JSON.parse(e.data);
  setupName.textContent = `${modelWords[printer.model] || printer.model}, ${printer.paper} mm`;
  showState(printer.state);
});
events.addEventListener('receipt', (e) => {
  const receipt = JSON.parse(e.data);
  addReceipt(receipt.number, receipt.warnings || [], receipt.label || '');
});
events.addEventListener('open', () => {
  link.textContent = 'live';
  link.className = 'link';
  showConnected(true);
});
events.addEventListener('error', () => {
  link.textContent = 'connection lost, retrying';
  link.className = 'link lost';
  showConnected(false);
});
