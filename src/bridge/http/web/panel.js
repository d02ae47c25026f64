// The web panel: draws the projector's panel from the bridge's layout and keeps it live over
// the event socket, so every page shows the same displays and traffic.

const KEEP_MS = 150;
const FIRST_RETRY_MS = 500;
const LAST_RETRY_MS = 5000;
const NOTICE_MS = 6000;
const TRAFFIC_KEPT = 500;
const ADDRESS_KEY = 'trv-address';

// Window parts that the layout's tables leave out, in twips like the layout.
const TRAFFIC_PARTS = {
  txLabel: [120, 210, 450, 255],
  rxLabel: [120, 570, 450, 255],
  tx: [600, 195, 7575, 300],
  rx: [585, 555, 7575, 300],
};
const STATUS_TEXT = [1020, 135, 4950, 285];
const LEGENDS = [
  { key: 'cr', text: '[CR] :Carriage Return Code (0x0D)', place: [120, 5705, 3900, 195] },
  { key: 'space', text: '_ :Space Code (0x20)', place: [4200, 5705, 2500, 195] },
  { key: 'ack', text: '[ACK]:ACKnowledge Code (0x06)', place: [120, 5880, 3900, 195] },
];
const LEGEND_TOP = 5705;
const ADDRESS_PLACES = [
  [2880, 240, 975, 255],
  [3960, 240, 700, 255],
  [4800, 240, 700, 255],
  [5640, 240, 700, 255],
  [6480, 240, 700, 255],
  [7320, 240, 700, 255],
];
const TABLE_OPENER = {
  name: 'Command74',
  caption: 'Command Table',
  place: [6480, 5880, 1850, 375],
  pointSize: 9.75,
};
// Where a title stands when it does not top its frame centred at 120 twips.
const TITLE_PLACES = {
  POWER: { top: 240 },
  'R/C KEY OFF': { top: 180, left: 120, width: 1400 },
  STATUS: { top: 165, left: 120, width: 855 },
  'Command with Address': { top: 240, left: 120, width: 2535 },
};
const ARROWS = new Set(['up', 'down', 'left', 'right']);
// Buttons closer than this (twips) share a row or a column when the frames are stacked.
const SAME_LINE_TWIPS = 150;
// Frames this narrow share a row when stacked (the zoom, focus and digital zoom columns).
const NARROW_FRAME_TWIPS = 1000;

const page = {
  socket: null,
  retryMs: FIRST_RETRY_MS,
  addresses: [],
  addressChosen: false,
  catalogue: null,
  list: 'basic',
  lineTimer: 0,
  noticeTimer: 0,
  hold: { button: null, pointerId: 0, timer: 0, confirmed: false },
  holdButtons: new Map(), // arrow command → its button
};

// ---- small DOM helpers -------------------------------------------------------------------

function make(tag, attributes = {}, ...children) {
  const node = document.createElement(tag);
  for (const [key, value] of Object.entries(attributes)) {
    if (value === undefined || value === null || value === false) continue;
    if (key === 'text') node.textContent = value;
    else if (key === 'class') node.className = value;
    else node.setAttribute(key, value === true ? '' : String(value));
  }
  node.append(...children);
  return node;
}

function byId(id) {
  return document.getElementById(id);
}

// Places a part at its twips; the style sheet turns them into pixels or ignores them when stacked.
function place(node, [left, top, width, height]) {
  node.classList.add('placed');
  node.style.setProperty('--l', left);
  node.style.setProperty('--t', top);
  if (width !== undefined) node.style.setProperty('--w', width);
  if (height !== undefined) node.style.setProperty('--h', height);
  return node;
}

let nextId = 0;
function newId(prefix) {
  nextId += 1;
  return `${prefix}-${nextId}`;
}

// ---- the panel ---------------------------------------------------------------------------

function frameText(frame) {
  if (frame.caption) return frame.caption;
  return /^Label\d+$/.test(frame.title ?? '') ? '' : frame.title ?? '';
}

function frameKind(frame, text) {
  if (frame.name === 'Frame9' || !text) return 'traffic';
  if (frame.name === 'Frame15' || text === 'STATUS') return 'status';
  if (frame.name === 'Frame8' || text === 'Command with Address') return 'address';
  return 'buttons';
}

function makeTitle(frame, text, tag = 'span') {
  const title = make(tag, { id: newId('title'), class: 'title', text });
  const spot = TITLE_PLACES[text] ?? {};
  title.style.setProperty('--title-top', spot.top ?? 120);
  if (frame.titleAtLeft || spot.left !== undefined) {
    title.classList.add('at-left');
    title.style.setProperty('--title-left', spot.left ?? 120);
    title.style.setProperty('--title-width', spot.width ?? 1400);
  }
  if (text === 'POWER') title.classList.add('power');
  return title;
}

function makeFrameBox(frame, kind, tag = 'div') {
  const box = make(tag, { class: `frame ${kind}` });
  place(box, [frame.left, frame.top, frame.width, frame.height]);
  if (frame.width <= NARROW_FRAME_TWIPS) box.classList.add('narrow');
  return box;
}

// Rows and columns of a frame's buttons for the stacked layout, from their design positions.
function linesOf(values) {
  const sorted = [...new Set(values)].sort((a, b) => a - b);
  const lines = [];
  for (const value of sorted) {
    if (lines.length === 0 || value - lines[lines.length - 1] > SAME_LINE_TWIPS) lines.push(value);
  }
  return (value) => lines.findIndex((_, i) => i === lines.length - 1 || value < lines[i + 1]) + 1;
}

function buildButtonFrame(frame, text, buttons) {
  const box = makeFrameBox(frame, 'buttons');
  const title = makeTitle(frame, text);
  box.setAttribute('role', 'group');
  box.setAttribute('aria-labelledby', title.id);
  box.append(title);
  const row = linesOf(buttons.map((b) => b.top));
  const column = linesOf(buttons.map((b) => b.left));
  box.style.setProperty('--cols', Math.max(1, ...buttons.map((b) => column(b.left))));
  for (const b of buttons) {
    const button = buildButton(b, text);
    button.style.setProperty('--row', row(b.top) + 1);
    button.style.setProperty('--col', column(b.left));
    box.append(button);
  }
  return box;
}

function buildTrafficFrame(frame) {
  const box = makeFrameBox(frame, 'displays');
  const tx = make('output', { id: 'tx', class: 'display', 'aria-label': 'TxD' });
  const rx = make('output', { id: 'rx', class: 'display', 'aria-label': 'RxD' });
  const label = (text) => make('span', { class: 'display-label', text, 'aria-hidden': 'true' });
  box.append(
    place(label('TxD'), TRAFFIC_PARTS.txLabel),
    place(tx, TRAFFIC_PARTS.tx),
    place(label('RxD'), TRAFFIC_PARTS.rxLabel),
    place(rx, TRAFFIC_PARTS.rx),
  );
  return box;
}

function buildStatusFrame(frame, text) {
  const box = makeFrameBox(frame, 'status-frame');
  const title = makeTitle(frame, text);
  box.setAttribute('role', 'group');
  box.setAttribute('aria-labelledby', title.id);
  const status = make('p', {
    id: 'status',
    class: 'display status',
    role: 'status',
    'aria-labelledby': title.id,
  });
  box.append(title, place(status, STATUS_TEXT));
  return box;
}

// A fieldset, so that its legend names the options as one group.
function buildAddressFrame(frame, text, addresses) {
  const box = makeFrameBox(frame, 'addresses', 'fieldset');
  const title = makeTitle(frame, text, 'legend');
  // The frame is a group like the others; its options are also one radio group of its name.
  const options = make('div', { class: 'options', role: 'radiogroup', 'aria-label': text });
  box.append(title, options);
  addresses.forEach((option, i) => {
    const input = make('input', { type: 'radio', name: 'address', value: option.address });
    input.addEventListener('change', () => chooseAddress(option.address));
    const label = make('label', { class: 'option' }, input, ` ${option.caption}`);
    place(label, ADDRESS_PLACES[i] ?? ADDRESS_PLACES[ADDRESS_PLACES.length - 1]);
    options.append(label);
  });
  return box;
}

function buildLegends() {
  const block = make('div', { class: 'legends' });
  for (const legend of LEGENDS) {
    const label = make('span', { id: `legend-${legend.key}`, class: 'legend', text: legend.text, hidden: true });
    block.append(place(label, legend.place));
  }
  return block;
}

function isTableOpener(b) {
  return b.name === TABLE_OPENER.name || b.caption === TABLE_OPENER.caption;
}

function buildTableOpener(b) {
  const button = make('button', {
    type: 'button',
    id: 'table-open',
    class: 'key standard',
    text: TABLE_OPENER.caption,
    'aria-expanded': 'false',
    'aria-controls': 'table',
  });
  place(button, b ? [b.left, b.top, b.width, b.height] : TABLE_OPENER.place);
  button.style.setProperty('--pt', b?.pointSize ?? TABLE_OPENER.pointSize);
  button.addEventListener('click', openTable);
  return button;
}

function styleButton(button, b) {
  button.style.setProperty('--pt', b.pointSize ?? 9);
  if (b.face && b.face.toLowerCase() !== 'standard' && b.colour) {
    button.style.setProperty('--face', b.colour);
    button.style.setProperty('--ink', b.textColour ?? '#000000');
  } else {
    button.classList.add('standard');
  }
}

function buildButton(b, frameTitle) {
  const button = make('button', { type: 'button', class: 'key' });
  place(button, [b.left, b.top, b.width, b.height]);
  styleButton(button, b);
  if (ARROWS.has(b.arrow)) {
    button.classList.add('arrow', b.arrow);
    button.setAttribute('aria-label', b.arrow);
    button.title = frameTitle ? `${frameTitle} ${b.arrow}` : b.arrow;
  } else {
    button.textContent = b.caption;
  }
  if (b.hold) watchHold(button, b.command);
  else button.addEventListener('click', () => sendCommand(b.command));
  return button;
}

// Buttons on the window itself, in runs of neighbours in panel order; those that do not send
// (the program's end, the line settings) have no place on the web.
function looseRuns(buttons) {
  const runs = [];
  let run = null;
  for (const b of buttons) {
    const loose = !b.frame;
    const shown = loose && (b.command || isTableOpener(b));
    if (shown && isTableOpener(b)) {
      runs.push({ top: b.top, node: make('div', { class: 'run opener' }, buildTableOpener(b)) });
      run = null;
      continue;
    }
    if (!shown) {
      if (!loose) run = null;
      continue;
    }
    if (!run) {
      run = { top: b.top, node: make('div', { class: 'run' }) };
      runs.push(run);
    }
    run.top = Math.min(run.top, b.top);
    run.node.append(buildButton(b, ''));
  }
  if (!buttons.some(isTableOpener)) {
    const opener = make('div', { class: 'run opener' }, buildTableOpener(null));
    runs.push({ top: TABLE_OPENER.place[1], node: opener });
  }
  return runs;
}

function buildFrame(frame, layout) {
  const text = frameText(frame);
  switch (frameKind(frame, text)) {
    case 'traffic':
      return buildTrafficFrame(frame);
    case 'status':
      return buildStatusFrame(frame, text);
    case 'address':
      return buildAddressFrame(frame, text, layout.addresses ?? []);
    default:
      return buildButtonFrame(frame, text, layout.buttons.filter((b) => b.frame === frame.name));
  }
}

// Frames keep panel order; the window's own parts go in before the first frame below them.
function buildPanel(layout) {
  const panel = byId('panel');
  panel.replaceChildren();
  panel.style.setProperty('--panel-w', layout.width ?? 10185);
  panel.style.setProperty('--panel-h', layout.height ?? 7620);
  const extras = [...looseRuns(layout.buttons), { top: LEGEND_TOP, node: buildLegends() }];
  extras.sort((a, b) => a.top - b.top);
  for (const frame of layout.frames) {
    if (!frame.name) continue;
    while (extras.length > 0 && extras[0].top < frame.top) panel.append(extras.shift().node);
    panel.append(buildFrame(frame, layout));
  }
  for (const extra of extras) panel.append(extra.node);
  panel.removeAttribute('aria-busy');
  page.addresses = layout.addresses ?? [];
}

// ---- unit address ------------------------------------------------------------------------

function currentAddress() {
  const checked = document.querySelector('input[name="address"]:checked');
  return checked ? checked.value : '';
}

function selectAddress(address) {
  for (const input of document.querySelectorAll('input[name="address"]')) input.checked = input.value === address;
}

function knownAddress(address) {
  return page.addresses.some((option) => option.address === address);
}

function chooseAddress(address) {
  page.addressChosen = true;
  try {
    localStorage.setItem(ADDRESS_KEY, address);
  } catch {
    // Storage refused (private mode): the choice lasts as long as the page.
  }
}

function storedAddress() {
  try {
    return localStorage.getItem(ADDRESS_KEY);
  } catch {
    return null;
  }
}

// This browser's own choice first; until it has made one, the bridge's configured address.
function settleAddress(configured) {
  if (page.addressChosen) return;
  const stored = storedAddress();
  if (stored !== null && knownAddress(stored)) selectAddress(stored);
  else selectAddress(knownAddress(configured) ? configured : '');
}

// ---- sending -----------------------------------------------------------------------------

function socketOpen() {
  return page.socket !== null && page.socket.readyState === WebSocket.OPEN;
}

function tell(message) {
  if (!socketOpen()) return false;
  page.socket.send(JSON.stringify(message));
  return true;
}

function sendCommand(command) {
  const address = currentAddress();
  if (tell({ type: 'send', command, address })) return;
  sendOverHttp(command, address);
}

// Without the socket a click still reaches the projector through the plain API.
async function sendOverHttp(command, address) {
  try {
    const reply = await fetch('api/send', {
      method: 'POST',
      headers: { 'Content-Type': 'application/json' },
      body: JSON.stringify({ command, address }),
    });
    if (!reply.ok) {
      const body = await reply.json().catch(() => ({}));
      notify(body.error ?? `${reply.status} ${reply.statusText}`);
    }
  } catch {
    notify('not sent: the bridge cannot be reached');
  }
}

// ---- press and hold ----------------------------------------------------------------------

function watchHold(button, command) {
  page.holdButtons.set(command, button);
  button.addEventListener('pointerdown', (event) => startHold(event, button, command));
  button.addEventListener('pointerup', endHeldPointer);
  button.addEventListener('pointercancel', endHeldPointer);
  button.addEventListener('lostpointercapture', endHeldPointer);
  button.addEventListener('contextmenu', (event) => event.preventDefault());
}

function startHold(event, button, command) {
  // The main button of a mouse holds, as on the desktop; any touch or pen does.
  if (page.hold.button || (event.pointerType === 'mouse' && event.button !== 0)) return;
  event.preventDefault();
  if (!tell({ type: 'hold', command, address: currentAddress() })) {
    notify('not sent: no connection to the bridge');
    return;
  }
  try {
    button.setPointerCapture(event.pointerId);
  } catch {
    // A pointer that is already gone: its release still reaches the button.
  }
  button.classList.add('held');
  page.hold = {
    button,
    pointerId: event.pointerId,
    confirmed: false,
    timer: setInterval(() => tell({ type: 'keep' }), KEEP_MS),
  };
}

function endHeldPointer(event) {
  if (page.hold.button && event.pointerId === page.hold.pointerId) endHold(true);
}

// Ends this page's hold; tellServer is false when the bridge has ended it already.
function endHold(tellServer) {
  const { button, pointerId, timer } = page.hold;
  if (!button) return;
  page.hold = { button: null, pointerId: 0, timer: 0, confirmed: false };
  clearInterval(timer);
  button.classList.remove('held');
  if (tellServer) tell({ type: 'release' });
  if (button.hasPointerCapture(pointerId)) button.releasePointerCapture(pointerId);
}

function watchPageLeaving() {
  document.addEventListener('visibilitychange', () => {
    if (document.visibilityState === 'hidden') endHold(true);
  });
  window.addEventListener('pagehide', () => endHold(true));
}

// ---- what the bridge says ----------------------------------------------------------------

function showText(id, text) {
  const node = byId(id);
  if (node) node.textContent = text ?? '';
}

function showLegend(key, shown) {
  const node = byId(`legend-${key}`);
  if (node) node.hidden = !shown;
}

function drawDisplay(display) {
  if (!display) return;
  showText('tx', display.tx);
  showText('rx', display.rx);
  showText('status', display.status);
  showLegend('cr', display.cr);
  showLegend('space', display.space);
  showLegend('ack', display.ack);
}

function lineText(line, now) {
  const port = line.port ? `${line.port} · ` : '';
  if (line.up) return `${port}connected`;
  let text = port + (line.reason ? `line lost: ${line.reason}` : 'line lost');
  if (line.retryMs >= 0 && line.retryAt !== undefined) {
    const seconds = Math.ceil((line.retryAt - now) / 1000);
    text += seconds > 0 ? ` · retrying in ${seconds} s` : ' · retrying…';
  }
  return text;
}

function drawLine(line) {
  if (!line) return;
  clearInterval(page.lineTimer);
  const shown = { ...line };
  if (!line.up && line.retryMs >= 0) shown.retryAt = Date.now() + line.retryMs;
  const node = byId('line');
  node.classList.toggle('down', !line.up);
  const draw = () => {
    node.textContent = lineText(shown, Date.now());
  };
  draw();
  if (shown.retryAt !== undefined) page.lineTimer = setInterval(draw, 250);
}

function drawHold(hold) {
  const node = byId('hold');
  for (const button of page.holdButtons.values()) button.classList.remove('held-elsewhere');
  if (!hold || !hold.active) {
    node.hidden = true;
    if (page.hold.button && page.hold.confirmed) endHold(false);
    return;
  }
  if (hold.mine && page.hold.button) page.hold.confirmed = true;
  if (!hold.mine) page.holdButtons.get(hold.command)?.classList.add('held-elsewhere');
  node.textContent = `${hold.command} held by ${hold.mine ? 'this page' : hold.who}`;
  node.hidden = false;
}

function notify(message) {
  const node = byId('notice');
  node.textContent = message;
  clearTimeout(page.noticeTimer);
  page.noticeTimer = setTimeout(() => {
    node.textContent = '';
  }, NOTICE_MS);
}

function refused(message) {
  notify(message.message ?? 'refused');
  // A hold the bridge has not taken up was the one refused.
  if (page.hold.button && !page.hold.confirmed) endHold(false);
}

function timeOf(iso) {
  const date = new Date(iso);
  if (Number.isNaN(date.getTime())) return iso ?? '';
  const milliseconds = String(date.getMilliseconds()).padStart(3, '0');
  return `${date.toLocaleTimeString([], { hour12: false })}.${milliseconds}`;
}

function trafficItem(entry) {
  const who = entry.dir === 'TX' ? (entry.mine ? 'this page' : entry.who ?? '') : '';
  const kind = (entry.dir ?? '').replace(/[^A-Za-z]/g, '') || 'event';
  return make(
    'li',
    { class: `dir-${kind}`, title: entry.hex ? `hex: ${entry.hex}` : undefined },
    make('time', { class: 'time', datetime: entry.time, text: timeOf(entry.time) }),
    make('span', { class: 'dir', text: entry.dir ?? '' }),
    make('span', { class: 'who', text: who, title: who || undefined }),
    make('span', { class: 'text', text: entry.text ?? '' }),
  );
}

function addTraffic(entries) {
  const log = byId('traffic');
  const follow = log.scrollTop + log.clientHeight >= log.scrollHeight - 4;
  log.append(...entries.map(trafficItem));
  while (log.children.length > TRAFFIC_KEPT) log.firstElementChild.remove();
  if (follow) log.scrollTop = log.scrollHeight;
}

function greet(hello) {
  byId('name').textContent = hello.name ?? '';
  document.title = hello.name ? `${hello.name} panel` : 'panel';
  byId('logout').hidden = hello.password !== true;
  settleAddress(hello.address ?? '');
  drawLine(hello.line);
  drawDisplay(hello.display);
  drawHold(hello.hold);
  byId('traffic').replaceChildren();
  addTraffic(hello.record ?? []);
}

const HANDLERS = {
  hello: greet,
  display: drawDisplay,
  traffic: (message) => addTraffic([message]),
  line: drawLine,
  hold: drawHold,
  refused,
};

function receive(event) {
  let message;
  try {
    message = JSON.parse(event.data);
  } catch {
    return;
  }
  HANDLERS[message?.type]?.(message);
}

// ---- the event socket --------------------------------------------------------------------

function eventsUrl() {
  const url = new URL('api/events', location.href);
  url.protocol = location.protocol === 'https:' ? 'wss:' : 'ws:';
  return url.href;
}

function connect() {
  const socket = new WebSocket(eventsUrl());
  page.socket = socket;
  socket.addEventListener('open', () => {
    page.retryMs = FIRST_RETRY_MS;
    byId('socket').hidden = true;
  });
  socket.addEventListener('message', receive);
  socket.addEventListener('close', () => {
    if (page.socket !== socket) return;
    page.socket = null;
    endHold(false);
    byId('socket').hidden = false;
    setTimeout(connect, page.retryMs);
    page.retryMs = Math.min(page.retryMs * 2, LAST_RETRY_MS);
    checkSession();
  });
}

// A socket refused for want of a session would be retried for ever: go to the login instead.
async function checkSession() {
  try {
    const reply = await fetch('api/status', { cache: 'no-store' });
    if (reply.status === 401) location.assign('login');
  } catch {
    // The bridge is away; the reconnecting socket finds it when it is back.
  }
}

// ---- the command table -------------------------------------------------------------------

const LIST_NAMES = { basic: 'Basic Command List', set: 'Expand Command List', read: 'Expand Read Command List' };

function commandPart(text) {
  const bracket = text.indexOf('[');
  return bracket < 0 ? text : text.slice(0, bracket);
}

async function loadCatalogue() {
  if (page.catalogue) return true;
  try {
    const reply = await fetch('api/catalogue');
    if (!reply.ok) throw new Error(`${reply.status}`);
    page.catalogue = await reply.json();
    return true;
  } catch {
    notify('the command list could not be loaded');
    return false;
  }
}

function entryOption(list, index, text) {
  return make('option', { value: `${list}:${index}`, text: text.replace(/\t/g, '    ') });
}

function fillEntries() {
  const select = byId('entries');
  const filter = byId('filter').value.trim().toLowerCase();
  select.replaceChildren();
  if (!page.catalogue) return;
  if (!filter) {
    (page.catalogue[page.list] ?? []).forEach((text, i) => select.append(entryOption(page.list, i, text)));
    return;
  }
  for (const list of Object.keys(LIST_NAMES)) {
    const group = make('optgroup', { label: LIST_NAMES[list] });
    (page.catalogue[list] ?? []).forEach((text, i) => {
      if (text.toLowerCase().includes(filter)) group.append(entryOption(list, i, text));
    });
    if (group.children.length > 0) select.append(group);
  }
}

function entryText(value) {
  const [list, index] = value.split(':');
  return page.catalogue?.[list]?.[Number(index)];
}

function selectPercentFrom(input, from) {
  const end = commandPart(input.value).length;
  const at = input.value.indexOf('%', from);
  if (at >= 0 && at < end) input.setSelectionRange(at, at + 1);
  else input.setSelectionRange(from, from);
}

function chooseEntry(text) {
  const input = byId('command');
  input.value = commandPart(text);
  byId('hint-cr').hidden = false;
  const digits = text.includes('%');
  if (page.list === 'set' || digits) byId('hint-digit').hidden = !digits;
  if (digits) {
    input.focus();
    selectPercentFrom(input, 0);
  }
}

// Switching lists starts the filter afresh; the first opening keeps what was typed meanwhile.
function showList(list, clearFilter = true) {
  page.list = list;
  for (const button of document.querySelectorAll('.lists [data-list]')) {
    button.setAttribute('aria-pressed', String(button.dataset.list === list));
  }
  if (clearFilter) byId('filter').value = '';
  fillEntries();
  const select = byId('entries');
  if (select.options.length > 0) {
    select.selectedIndex = 0;
    chooseEntry(entryText(select.value));
  }
}

// A digit typed on a '%' takes its place, then the next '%' is ready to be typed over.
function overtypeDigit(event) {
  const input = event.target;
  if (event.inputType !== 'insertText' || !/^[0-9]$/.test(event.data ?? '')) return;
  const start = input.selectionStart;
  const end = input.selectionEnd;
  if (input.value[start] !== '%' || end - start > 1) return;
  event.preventDefault();
  input.setRangeText(event.data, start, start + 1, 'end');
  selectPercentFrom(input, start + 1);
}

function sendTableCommand(event) {
  event.preventDefault();
  sendCommand(commandPart(byId('command').value));
  byId('hint-digit').hidden = true;
  byId('hint-cr').hidden = true;
}

async function openTable() {
  const table = byId('table');
  const opening = table.hidden;
  table.hidden = false;
  byId('table-open')?.setAttribute('aria-expanded', 'true');
  if (opening && (await loadCatalogue())) showList('basic', false);
  table.scrollIntoView({ block: 'nearest' });
  if (document.activeElement !== byId('command')) byId('entries').focus();
}

function closeTable() {
  byId('table').hidden = true;
  const opener = byId('table-open');
  opener?.setAttribute('aria-expanded', 'false');
  opener?.focus();
}

function watchTable() {
  for (const button of document.querySelectorAll('.lists [data-list]')) {
    button.addEventListener('click', () => showList(button.dataset.list));
  }
  byId('table-close').addEventListener('click', closeTable);
  byId('filter').addEventListener('input', fillEntries);
  byId('entries').addEventListener('change', (event) => {
    const text = entryText(event.target.value);
    if (text !== undefined) chooseEntry(text);
  });
  byId('command').addEventListener('beforeinput', overtypeDigit);
  byId('table-send').addEventListener('submit', sendTableCommand);
}

// ---- start -------------------------------------------------------------------------------

async function loadLayout() {
  for (let waitMs = FIRST_RETRY_MS; ; waitMs = Math.min(waitMs * 2, LAST_RETRY_MS)) {
    try {
      const reply = await fetch('api/layout');
      if (reply.status === 401) {
        location.assign('login');
        return null;
      }
      if (reply.ok) return await reply.json();
    } catch {
      // Not reachable yet: try again.
    }
    byId('socket').hidden = false;
    await new Promise((resolve) => setTimeout(resolve, waitMs));
  }
}

async function start() {
  watchTable();
  watchPageLeaving();
  const layout = await loadLayout();
  if (!layout) return;
  buildPanel(layout);
  settleAddress('');
  connect();
}

start();
