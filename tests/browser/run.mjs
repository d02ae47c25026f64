// Runs the browser tests under Node's test runner, or ends with 77 (CTest's skip) saying what is
// missing: the installed packages (npm ci here), the browser, or the built programs.
import { spawnSync } from 'node:child_process';
import { accessSync, constants, existsSync } from 'node:fs';
import { dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';

const SKIP = 77;
const here = dirname(fileURLToPath(import.meta.url));
const chromium = process.env.CHROMIUM || '/usr/bin/chromium';

function executable(path) {
  try {
    accessSync(path, constants.X_OK);
    return true;
  } catch {
    return false;
  }
}

const missing = [];
if (Number(process.versions.node.split('.')[0]) < 18)
  missing.push(`Node.js 18 or later (this is ${process.version})`);
if (!existsSync(join(here, 'node_modules', 'puppeteer-core', 'package.json')))
  missing.push(`puppeteer-core: run "npm ci" in ${here} (bash scripts/test.sh does)`);
if (!executable(chromium))
  missing.push(`the browser ${chromium}: install Debian's chromium, or set CHROMIUM`);
for (const name of ['TRV_BRIDGE_PATH', 'TRV_SIM_PATH'])
  if (!process.env[name] || !executable(process.env[name]))
    missing.push(`${name}, the built program (CTest sets it)`);
if (missing.length > 0) {
  console.log(`Browser tests skipped; missing:\n  ${missing.join('\n  ')}`);
  process.exit(SKIP);
}

const files = process.argv.length > 2 ? process.argv.slice(2) : ['panel.test.mjs'];
const run = spawnSync(process.execPath, ['--test', '--test-reporter=spec', ...files], { cwd: here, stdio: 'inherit' });
if (run.error) throw run.error;
process.exit(run.status ?? 1);
