// The virtual printer's page: receipts arrive as server-sent events and go
// on top; the buttons post the printer's state with this run's token.
'use strict';

const token = document.querySelector('meta[name="it433td-token"]').content;
const list = document.getElementById('receipts');
const stateBadge = document.getElementById('state');
const link = document.getElementById('link');
const kept = 50;
const shown = new Set();
const stateWords = { online: 'online', 'near-end': 'paper near end', 'paper-out': 'paper out',
                     offline: 'offline (cover open)' };

function showState(state) {
  stateBadge.dataset.state = state;
  stateBadge.textContent = stateWords[state] || state;
}

// The codes the transcript read from the paper: [CODE128 "..."] and
// [IMAGE WxH QR "..."], unescaped for reading.
function codesIn(transcript) {
  const codes = [];
  const pattern = /^\[(?:CODE128|IMAGE \d+x\d+ (\S+)) "((?:[^"\\]|\\.)*)"\]$/gm;
  for (const match of transcript.matchAll(pattern))
    codes.push({ format: match[1] || 'CODE128', text: match[2].replace(/\\(["\\])/g, '$1') });
  return codes;
}

function element(tag, properties, ...children) {
  const made = Object.assign(document.createElement(tag), properties);
  for (const child of children) made.append(child);
  return made;
}

async function addReceipt(number) {
  if (shown.has(number)) return;
  shown.add(number);
  document.getElementById('empty')?.remove();
  const name = 'receipt-' + String(number).padStart(4, '0');
  const base = '/receipts/' + number;
  const transcript = element('pre', { className: 'transcript', textContent: 'loading...' });
  const codes = element('ul', { className: 'codes' });
  const card = element('article', { className: 'receipt', id: name },
    element('div', { className: 'paper' },
      element('img', { className: 'picture', src: base + '.png', alt: 'receipt ' + number })),
    element('div', { className: 'about' },
      element('h2', { textContent: 'Receipt ' + number + ' ' }),
      codes, transcript,
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

for (const button of document.querySelectorAll('button[data-state]'))
  button.addEventListener('click', () => setState(button.dataset.state));

const events = new EventSource('/events');
events.addEventListener('state', (e) => showState(JSON.parse(e.data).state));
events.addEventListener('receipt', (e) => addReceipt(JSON.parse(e.data).number));
events.addEventListener('open', () => { link.textContent = 'live'; link.className = 'link'; });
events.addEventListener('error', () => {
  link.textContent = 'connection lost, retrying';
  link.className = 'link lost';
});
