// The panel page in chromium against a running trv-bridge, for trv-bench's web part: each of
// LOADS loads in a fresh browser context gives its first contentful paint and the time until
// the panel's buttons are all in the document (both from the start of the navigation); then
// ZOOM's up arrow is pressed with the pointer three times for HOLD_MS, 500 ms apart. Prints one
// line each:
//   load FCP_MS BUTTONS_MS BUTTONS | pressed | released | error TEXT
// trv-bench stamps "pressed" and "released" as it reads them.
// Usage: TRV_BROWSER_MODULES=tests/browser node bench/web-browser.mjs URL LOADS HOLD_MS
import { createRequire } from 'node:module';
import path from 'node:path';

const [url, loadsText, holdText] = process.argv.slice(2);
const loads = Number(loadsText ?? 5);
const holdMs = Number(holdText ?? 3000);
const require = createRequire(path.join(process.env.TRV_BROWSER_MODULES ?? '.', 'package.json'));
const puppeteer = require('puppeteer-core');

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
const say = (line) => process.stdout.write(`${line}\n`);

// Notes, in the page's own time, each change of the number of the panel's buttons that send
// (all but the command list's opener).
function watchButtons() {
  window.__trvCounts = [];
  const check = () => {
    const count = document.querySelectorAll('#panel button.key:not(#table-open)').length;
    const last = window.__trvCounts.at(-1);
    if (!last || last[0] !== count) window.__trvCounts.push([count, performance.now()]);
  };
  new MutationObserver(check).observe(document, { childList: true, subtree: true });
}

async function newPage(browser) {
  const context = await browser.createBrowserContext();
  const page = await context.newPage();
  page.setDefaultTimeout(20000);
  await page.setViewport({ width: 1280, height: 900 });
  return { context, page };
}

// The first contentful paint, and when the panel's buttons were all there (the first moment
// their number reached what it was once the page had settled), both from the navigation's start.
async function measureLoad(browser) {
  const { context, page } = await newPage(browser);
  await page.evaluateOnNewDocument(watchButtons);
  await page.goto(url, { waitUntil: 'load' });
  await page.waitForSelector('::-p-aria([name="ZOOM"][role="group"])');
  await page.waitForFunction(() => performance.getEntriesByName('first-contentful-paint').length > 0);
  await sleep(500);
  const figures = await page.evaluate(() => {
    const counts = window.__trvCounts;
    const final = counts.at(-1)[0];
    return {
      paint: performance.getEntriesByName('first-contentful-paint')[0].startTime,
      buttons: counts.find(([count]) => count === final)[1],
      count: final,
    };
  });
  await context.close();
  return figures;
}

// ZOOM's up arrow pressed with the pointer for `holdMs`, three times.
async function hold(browser) {
  const { context, page } = await newPage(browser);
  await page.goto(url, { waitUntil: 'load' });
  const zoom = await page.waitForSelector('::-p-aria([name="ZOOM"][role="group"])');
  const up = await zoom.waitForSelector('::-p-aria([name="up"][role="button"])');
  await sleep(1000); // the page's socket is open and has its hello
  await up.scrollIntoView();
  const box = await up.boundingBox();
  await page.mouse.move(box.x + box.width / 2, box.y + box.height / 2);
  for (let run = 0; run < 3; ++run) {
    await page.mouse.down();
    say('pressed');
    await sleep(holdMs);
    await page.mouse.up();
    say('released');
    await sleep(500);
  }
  await context.close();
}

let browser;
try {
  browser = await puppeteer.launch({
    executablePath: '/usr/bin/chromium',
    headless: true,
    // As root, chromium's sandbox cannot start.
    args: ['--no-sandbox', '--disable-dev-shm-usage', '--disable-gpu'],
    protocolTimeout: 120000,
  });
  for (let i = 0; i < loads; ++i) {
    const { paint, buttons, count } = await measureLoad(browser);
    say(`load ${paint.toFixed(1)} ${buttons.toFixed(1)} ${count}`);
  }
  await hold(browser);
} catch (error) {
  say(`error ${String(error.message ?? error).split('\n')[0]}`);
  process.exitCode = 1;
} finally {
  await browser?.close();
}
