// Debian's chromium, headless through the DevTools protocol, and the web panel as a user meets
// it: the login form, the buttons by their accessible names, the page's WebSocket messages.
import puppeteer from 'puppeteer-core';
import { setTimeout as sleep } from 'node:timers/promises';

export const CHROMIUM = process.env.CHROMIUM || '/usr/bin/chromium';
// Waiting for real events on a loaded machine: long, and never a measure of speed.
export const WAIT_MS = 20000;

export function launch() {
  return puppeteer.launch({
    executablePath: CHROMIUM,
    headless: true,
    // CI runs as root, where chromium's sandbox cannot start.
    args: ['--no-sandbox', '--disable-dev-shm-usage', '--disable-gpu'],
    protocolTimeout: 120000,
  });
}

// One page in a browser context of its own (its own cookies, so its own session), with what
// it receives on its WebSockets and what went wrong in it recorded.
export class Panel {
  static async open(browser, viewport = { width: 1280, height: 900 }) {
    const context = await browser.createBrowserContext();
    const page = await context.newPage();
    page.setDefaultTimeout(WAIT_MS);
    await page.setViewport(viewport);
    const panel = new Panel(context, page);
    await panel.watch();
    return panel;
  }

  constructor(context, page) {
    this.context = context;
    this.page = page;
    this.messages = []; // WebSocket messages from the server, parsed, each with its arrival
    this.problems = []; // script errors and refusals under the page's content security policy
  }

  async watch() {
    this.page.on('pageerror', (error) => this.problems.push(`script error: ${error.message}`));
    this.page.on('console', (message) => {
      if (/Content Security Policy/i.test(message.text()))
        this.problems.push(`refused by the content security policy: ${message.text()}`);
    });
    const cdp = await this.page.createCDPSession();
    await cdp.send('Network.enable');
    cdp.on('Network.webSocketFrameReceived', ({ response }) => {
      if (response.opcode !== 1) return;
      try {
        this.messages.push({ ...JSON.parse(response.payloadData), receivedAt: Date.now() });
      } catch {
        this.problems.push(`a WebSocket message that is not JSON: ${response.payloadData}`);
      }
    });
  }

  async close() {
    await this.context.close();
  }

  // Submits the login form with `password`; the response that ends the submission, after any
  // back-off the server asks for (a wrong password before makes the next try wait).
  async submitLogin(password) {
    for (let attempt = 0; ; ++attempt) {
      const field = await this.page.waitForSelector('input[name="password"]');
      await field.click({ count: 3 });
      await field.type(password);
      const button = await this.page.waitForSelector('::-p-aria([name="Log in"][role="button"])');
      const [response] = await Promise.all([
        this.page.waitForNavigation({ waitUntil: 'load' }),
        button.click(),
      ]);
      if (response.status() !== 429 || attempt >= 5) return response;
      const seconds = Number(response.headers()['retry-after'] ?? '1');
      await sleep(Math.min(Math.max(seconds, 1), 30) * 1000);
      await this.page.goto(new URL('login', this.page.url()).href, { waitUntil: 'load' });
    }
  }

  path() {
    return new URL(this.page.url()).pathname;
  }

  // Opens the panel, logs in through the form and waits for the panel's first message.
  async logIn(bridge) {
    await this.page.goto(bridge.url, { waitUntil: 'load' });
    if (this.path() !== '/login')
      throw new Error(`the panel without a session did not lead to /login but to ${this.page.url()}`);
    const response = await this.submitLogin(bridge.password);
    if (this.path() !== '/')
      throw new Error(`the right password led to ${this.page.url()} (${response.status()})`);
    await this.message((m) => m.type === 'hello', 'the "hello" message');
  }

  // The first message `match` accepts, from `from` on.
  async message(match, what, from = 0, ms = WAIT_MS) {
    const deadline = Date.now() + ms;
    for (;;) {
      const found = this.messages.slice(from).find(match);
      if (found) return found;
      if (Date.now() > deadline)
        throw new Error(`no ${what} within ${ms} ms; the page received:\n` +
                        this.messages.map((m) => JSON.stringify(m)).join('\n'));
      await sleep(20);
    }
  }

  // The element of `role` named `name`, inside `within` when given.
  async find(name, role, within = this.page) {
    const selector = `::-p-aria([name="${name}"][role="${role}"])`;
    const handle = await within.waitForSelector(selector, { timeout: WAIT_MS }).catch(() => null);
    if (!handle) throw new Error(`no ${role} named "${name}" on the page:\n${await this.outline()}`);
    return handle;
  }

  // The group (a frame of the panel) titled `title`.
  group(title) {
    return this.find(title, 'group');
  }

  // The button `name` in the group titled `title`.
  async button(title, name) {
    return this.find(name, 'button', await this.group(title));
  }

  // The page's accessibility tree in short, for the messages of failed look-ups.
  async outline() {
    const lines = [];
    const walk = (node, depth) => {
      if (node.role !== 'none' && node.role !== 'generic')
        lines.push(`${'  '.repeat(depth)}${node.role} "${node.name ?? ''}"`);
      for (const child of node.children ?? []) walk(child, depth + 1);
    };
    const root = await this.page.accessibility.snapshot().catch(() => null);
    if (root) walk(root, 0);
    return lines.slice(0, 300).join('\n');
  }

  // Presses the mouse on `handle` and keeps it down; returns the function that releases it.
  async pressOn(handle) {
    await handle.scrollIntoView();
    const box = await handle.boundingBox();
    if (!box) throw new Error('the button to hold is not shown');
    await this.page.mouse.move(box.x + box.width / 2, box.y + box.height / 2);
    await this.page.mouse.down();
    return () => this.page.mouse.up();
  }

  // The texts of `elements` (the whole page without any), as they change, from now on: a status
  // line that the panel clears again shortly after is seen all the same.
  async recordTexts(...elements) {
    const handles = elements.length > 0 ? elements : [await this.page.$('body')];
    await this.page.evaluate((...nodes) => {
      window.__seen = window.__seen ?? [];
      for (const node of nodes) {
        const note = () => window.__seen.push(node.textContent);
        note();
        new MutationObserver(note).observe(node,
                                           { childList: true, characterData: true, subtree: true });
      }
    }, ...handles);
  }

  // The lines of the traffic log: direction, who sent it, the echo.
  async trafficLines() {
    const log = await this.find('Traffic', 'log');
    return log.evaluate((node) =>
      [...node.children].map((line) => ({
        dir: line.querySelector('.dir')?.textContent ?? '',
        who: line.querySelector('.who')?.textContent ?? '',
        text: line.querySelector('.text')?.textContent ?? '',
      })));
  }

  // Waits for a line of the traffic log that `match` accepts.
  async trafficLine(match, what, ms = WAIT_MS) {
    const deadline = Date.now() + ms;
    for (;;) {
      const lines = await this.trafficLines();
      const found = lines.find(match);
      if (found) return found;
      if (Date.now() > deadline)
        throw new Error(`no ${what} in the traffic log within ${ms} ms; it shows:\n` +
                        lines.map((line) => JSON.stringify(line)).join('\n'));
      await sleep(50);
    }
  }

  // Waits until one of the recorded texts matches `pattern`; the texts seen.
  async seen(pattern, what, ms = WAIT_MS) {
    const deadline = Date.now() + ms;
    for (;;) {
      const texts = await this.page.evaluate(() => window.__seen ?? []);
      if (texts.some((text) => pattern.test(text))) return texts;
      if (Date.now() > deadline)
        throw new Error(`${what} not seen within ${ms} ms; the page showed:\n` +
                        texts.map((text) => JSON.stringify(text)).join('\n'));
      await sleep(50);
    }
  }
}
