// The web panel of trv-bridge in a real browser, against trv-sim on a pseudo-terminal: logging
// in, pressing and holding buttons, the traffic of another user, the console, the phone layout.
import assert from 'node:assert/strict';
import { copyFile, mkdir } from 'node:fs/promises';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { after, afterEach, before, describe, it } from 'node:test';
import { fileURLToPath } from 'node:url';
import { setTimeout as sleep } from 'node:timers/promises';
import { Bridge } from './bridge.mjs';
import { Panel, WAIT_MS, launch } from './panel.mjs';

const TEST_MS = 180000;
const PHONE = { width: 390, height: 844, isMobile: true, hasTouch: true, deviceScaleFactor: 1 };
const DESKTOP = { width: 1280, height: 900 };
const screenshots = process.env.TRV_SCREENSHOT_DIR || join(tmpdir(), 'trv-browser-screenshots');
const docs = fileURLToPath(new URL('../../docs/', import.meta.url));

// Saves a screenshot of the page from its top into the build directory, and into docs/ when
// asked to: the whole page, or what the screen shows.
async function screenshot(panel, name, fullPage) {
  await mkdir(screenshots, { recursive: true });
  const path = join(screenshots, name);
  await panel.page.evaluate(() => window.scrollTo(0, 0));
  await panel.page.screenshot({ path, fullPage });
  if (process.env.TRV_SCREENSHOTS_TO_DOCS === '1') {
    await mkdir(docs, { recursive: true });
    await copyFile(path, join(docs, name));
  }
}

// Waits until no hold is active on the server; the time it was first seen so.
async function holdEnded(bridge) {
  const deadline = Date.now() + WAIT_MS;
  for (;;) {
    const status = await bridge.api('/api/status');
    if (!status.hold?.active) return Date.now();
    if (Date.now() > deadline)
      throw new Error(`the hold still active ${WAIT_MS} ms on: ${JSON.stringify(status.hold)}`);
    await sleep(20);
  }
}

describe('web panel', { timeout: 15 * TEST_MS }, () => {
  let bridge;
  let browser;
  let opened = [];
  const open = async (viewport) => {
    const panel = await Panel.open(browser, viewport);
    opened.push(panel);
    return panel;
  };
  const loggedIn = async (viewport) => {
    const panel = await open(viewport);
    await panel.logIn(bridge);
    return panel;
  };

  before(async () => {
    bridge = await Bridge.start();
    browser = await launch();
  });

  // Each case's pages go with it, so that a hold it left cannot refuse the next one's.
  afterEach(async () => {
    await Promise.all(opened.map((panel) => panel.close().catch(() => {})));
    opened = [];
  });

  after(async () => {
    if (browser) await browser.close();
    if (bridge) await bridge.stop();
  });

  it('logs in through the form, powers on and shows the decoded status', { timeout: TEST_MS },
     async () => {
       const panel = await open(DESKTOP);
       await panel.page.goto(bridge.url, { waitUntil: 'load' });
       assert.equal(panel.path(), '/login', 'the panel without a session leads to the login form');

       const refused = await panel.submitLogin(`not-${bridge.password}`);
       assert.equal(panel.path(), '/login', 'a wrong password stays on the login form');
       assert.ok([401, 429].includes(refused.status()), `refused with ${refused.status()}`);
       const before = await panel.page.cookies();
       assert.ok(!before.some((cookie) => cookie.name === 'trv-session'),
                 'no session after a wrong password');

       const accepted = await panel.submitLogin(bridge.password);
       assert.equal(panel.path(), '/', `the right password leads to the panel (${accepted.status()})`);
       const session = (await panel.page.cookies()).find((cookie) => cookie.name === 'trv-session');
       assert.ok(session, 'a session cookie');
       assert.match(session.value, /^[0-9a-f]{32}$/);
       assert.equal(session.httpOnly, true);
       assert.equal(session.sameSite, 'Strict');
       await panel.message((m) => m.type === 'hello', 'the "hello" message');

       await panel.recordTexts(await panel.find('STATUS', 'status'));
       await (await panel.button('POWER', 'ON')).click();
       await bridge.waitFor('C00');
       await (await panel.find('STATUS', 'button')).click();
       await bridge.waitFor('CR0');
       // Warming up for two seconds on the simulator, then on: either says the ON was taken.
       await panel.seen(/^ ?(Count down|Power ON)/, 'the decoded power state');
       assert.deepEqual(panel.problems, []);
       await screenshot(panel, 'web-panel-desktop.png', true);
     });

  it('repeats a held arrow until the release, and not after it', { timeout: TEST_MS }, async () => {
    const panel = await loggedIn(DESKTOP);
    const up = await panel.button('ZOOM', 'up');
    const before = bridge.count('C47');
    const pressed = Date.now();
    const release = await panel.pressOn(up);
    await sleep(600);
    await release();
    // The server's hold lasted at most until it says no hold is active.
    const held = (await holdEnded(bridge)) - pressed;
    await sleep(200); // the last send on its way through the pseudo-terminal
    const sent = bridge.count('C47') - before;
    assert.ok(sent >= 2, `held ${held} ms, sent ${sent} times: at once and at least one repeat`);
    assert.ok(sent <= 2 + held / 100, `held ${held} ms, sent ${sent} times: at most every 100 ms`);
    await sleep(500);
    assert.equal(bridge.count('C47') - before, sent, 'nothing sent after the release');
    assert.deepEqual(panel.problems, []);
  });

  it('ends a hold when its page closes', { timeout: TEST_MS }, async () => {
    const panel = await loggedIn(DESKTOP);
    const down = await panel.button('ZOOM', 'down');
    const before = bridge.count('C46');
    await panel.pressOn(down);
    await bridge.waitFor('C46', before + 2); // held: the first send and a repeat
    await panel.page.close();
    await sleep(1000);
    const sent = bridge.count('C46');
    await sleep(1000);
    assert.equal(bridge.count('C46'), sent, 'sends went on more than 1 s after the page closed');
    await holdEnded(bridge);
  });

  it('ends a hold when its page stops keeping it alive', { timeout: TEST_MS }, async () => {
    const panel = await loggedIn(DESKTOP);
    const down = await panel.button('FOUCS', 'down');
    const before = bridge.count('C4A');
    const release = await panel.pressOn(down);
    await bridge.waitFor('C4A', before + 2);
    // The page's script stopped in the debugger: its socket stays open, its keeps stop.
    const debug = await panel.page.createCDPSession();
    await debug.send('Debugger.enable');
    const paused = new Promise((resolve) => debug.once('Debugger.paused', resolve));
    await debug.send('Debugger.pause');
    await paused;
    await sleep(1000);
    const sent = bridge.count('C4A');
    await sleep(1000);
    assert.equal(bridge.count('C4A'), sent, 'sends went on more than 1 s after the last keep');
    await holdEnded(bridge);
    await debug.send('Debugger.resume');
    await release();
  });

  it('shows the traffic of another user', { timeout: TEST_MS }, async () => {
    const sender = await loggedIn(DESKTOP);
    const watcher = await loggedIn(DESKTOP);
    const from = watcher.messages.length;
    await (await sender.button('FREEZE', 'ON')).click();
    await bridge.waitFor('C43');
    const c43 = (m) => m.type === 'traffic' && m.dir === 'TX' && m.hex === '43 34 33 0D';
    const traffic = await watcher.message(c43, 'the other page\'s "C43" as traffic', from);
    assert.equal(traffic.mine, false);
    assert.match(traffic.who, /^web 127\.0\.0\.1/);
    assert.equal((await sender.message(c43, 'its own "C43"')).mine, true);
    // Each page's log says who sent it: this page for the sender, the other user for the watcher.
    const echo = /^ ?C 4 3 {2}\[CR\] ?$/;
    const seen = await watcher.trafficLine((line) => line.dir === 'TX' && echo.test(line.text),
                                           'TX line of "C43"');
    assert.notEqual(seen.who, 'this page');
    assert.match(seen.who, /web 127\.0\.0\.1/);
    const own = await sender.trafficLine((line) => line.dir === 'TX' && echo.test(line.text),
                                         'TX line of "C43"');
    assert.equal(own.who, 'this page');
    assert.deepEqual(watcher.problems, []);
    assert.deepEqual(sender.problems, []);
  });

  it('sends a command of the table with its digits typed in', { timeout: TEST_MS }, async () => {
    const panel = await loggedIn(DESKTOP);
    await (await panel.find('Command Table', 'button')).click();
    // Typed once the list is there, as a user who sees it would.
    const entries = await panel.find('Commands', 'listbox');
    await entries.waitForSelector('option');
    const filter = await panel.find('Filter', 'textbox');
    await filter.type('CONT 0');
    let entry = null;
    for (let tries = 0; !entry && tries < 100; ++tries) {
      for (const option of await entries.$$('option'))
        if ((await option.evaluate((node) => node.textContent)).startsWith('CF CONT 0%%[CR]'))
          entry = option;
      if (!entry) await sleep(100);
    }
    const kept = await entries.evaluate((node) => [...node.options].map((o) => o.textContent));
    assert.ok(entry, `the filter keeps "CF CONT 0%%" among: ${kept.join(' | ')}`);
    await entry.click();
    const command = await panel.find('Command', 'textbox');
    assert.equal(await command.evaluate((node) => node.value), 'CF CONT 0%%');
    // The digits typed over the '%' signs, as on the console.
    await command.focus();
    await panel.page.keyboard.press('End');
    await panel.page.keyboard.press('Backspace');
    await panel.page.keyboard.press('Backspace');
    await panel.page.keyboard.type('50');
    assert.equal(await command.evaluate((node) => node.value), 'CF CONT 050');
    await panel.recordTexts(await panel.find('TxD', 'status'));
    await (await panel.find('SEND', 'button')).click();
    await bridge.waitFor('CF CONT 050');
    // The echo: a leading blank, a blank after each character, the command's own blanks as '_'.
    await panel.seen(/^ C F _ C O N T _ 0 5 0  \[CR\] $/, 'the command on the TxD line');
    assert.deepEqual(panel.problems, []);
  });

  it('fits a phone without sideways scrolling, every frame shown', { timeout: TEST_MS },
     async () => {
       const panel = await loggedIn(PHONE);
       const layout = await bridge.api('/api/layout');
       assert.ok(layout.frames.length >= 15, `${layout.frames.length} frames in the layout`);
       // Each captioned frame a group of that name; the one without, the traffic displays.
       for (const frame of layout.frames) {
         if (frame.caption) await panel.group(frame.caption);
       }
       await panel.find('TxD', 'status');
       await panel.find('RxD', 'status');
       const options = await panel.find('Command with Address', 'radiogroup');
       for (const caption of ['SINGLE', 'ALL', '001', '002', '003', '004'])
         await panel.find(caption, 'radio', options);
       const width = await panel.page.evaluate(() => document.documentElement.scrollWidth);
       assert.ok(width <= PHONE.width, `the page is ${width} px wide on a ${PHONE.width} px screen`);

       const before = bridge.count('CR0');
       await panel.recordTexts(await panel.find('STATUS', 'status'));
       await (await panel.find('STATUS', 'button')).tap();
       await bridge.waitFor('CR0', before + 1);
       await panel.seen(/^ ?(Count down|Power ON)/, 'the decoded power state');
       assert.deepEqual(panel.problems, []);
       await screenshot(panel, 'web-panel-phone.png', false);
     });
});
