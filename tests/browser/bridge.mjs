// trv-sim on a pseudo-terminal and trv-bridge on its line with the web front end on a free port
// of 127.0.0.1, for the browser tests: started, watched through the simulator's trace, stopped.
import { spawn } from 'node:child_process';
import { randomBytes } from 'node:crypto';
import { mkdtemp, rm, writeFile } from 'node:fs/promises';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { setTimeout as sleep } from 'node:timers/promises';

// Generous: under the sanitizers on a busy machine the programs start slowly.
const START_MS = 30000;
const STOP_MS = 10000;

export function required(name) {
  const value = process.env[name];
  if (!value) throw new Error(`${name} is not set: CTest passes the path of the built program`);
  return value;
}

// A child process whose standard output is taken line by line.
class Child {
  constructor(path, args, env) {
    this.name = path.split('/').pop();
    this.lines = [];
    this.stderr = '';
    this.waiters = [];
    this.exited = null;
    this.process = spawn(path, args, { env, stdio: ['ignore', 'pipe', 'pipe'] });
    let partial = '';
    this.process.stdout.setEncoding('utf8');
    this.process.stdout.on('data', (chunk) => {
      partial += chunk;
      let end;
      while ((end = partial.indexOf('\n')) >= 0) {
        this.lines.push({ text: partial.slice(0, end), at: Date.now() });
        partial = partial.slice(end + 1);
      }
      this.wake();
    });
    this.process.stderr.setEncoding('utf8');
    this.process.stderr.on('data', (chunk) => {
      // Kept bounded: only the start of the log explains a failed start.
      if (this.stderr.length < 20000) this.stderr += chunk;
    });
    this.process.on('error', (error) => {
      this.exited = { code: null, signal: null, error };
      this.wake();
    });
    this.process.on('exit', (code, signal) => {
      this.exited = { code, signal };
      this.wake();
    });
  }

  wake() {
    for (const waiter of this.waiters.splice(0)) waiter();
  }

  // The first line (from `from` on) that `match` accepts; rejects when the program ends first or
  // nothing comes within `ms`, with what the program said on standard error.
  async line(match, what, ms = START_MS, from = 0) {
    const deadline = Date.now() + ms;
    for (;;) {
      const found = this.lines.slice(from).find((line) => match(line.text));
      if (found) return found.text;
      if (this.exited) {
        const how = this.exited.error
          ? `could not be started (${this.exited.error.message})`
          : `ended (exit code ${this.exited.code}, signal ${this.exited.signal})`;
        throw new Error(`${this.name} ${how} before printing ${what}; its output:\n` +
                        this.lines.map((line) => line.text).join('\n') + '\n' + this.stderr);
      }
      const left = deadline - Date.now();
      if (left <= 0)
        throw new Error(`${this.name} printed no ${what} within ${ms} ms; its output:\n` +
                        this.lines.map((line) => line.text).join('\n') + '\n' + this.stderr);
      await new Promise((resolve) => {
        const timer = setTimeout(resolve, left);
        this.waiters.push(() => {
          clearTimeout(timer);
          resolve();
        });
      });
    }
  }

  // Ends the program with SIGTERM (SIGKILL when that does not end it); how it ended.
  async stop() {
    if (!this.exited) {
      const ended = new Promise((resolve) => this.process.once('exit', resolve));
      this.process.kill('SIGTERM');
      if (!(await Promise.race([ended.then(() => true), sleep(STOP_MS).then(() => false)]))) {
        this.process.kill('SIGKILL');
        await ended;
        this.exited.killed = true;
      }
    }
    return this.exited;
  }
}

export class Bridge {
  // Starts the simulator and the daemon; rejects, with the reason the daemon gave, when either
  // does not come up.
  static async start({ simOptions = [], bridgeOptions = [] } = {}) {
    const bridge = new Bridge();
    bridge.dir = await mkdtemp(join(tmpdir(), 'trv-browser-'));
    try {
      await bridge.startPrograms(simOptions, bridgeOptions);
    } catch (error) {
      await bridge.stop();
      throw error;
    }
    return bridge;
  }

  async startPrograms(simOptions, bridgeOptions) {
    // Settings of the daemon's own (a profile, a stored speed) stay in this directory.
    const env = { ...process.env, HOME: this.dir, XDG_CONFIG_HOME: join(this.dir, 'config') };
    const link = join(this.dir, 'projector');
    this.sim = new Child(
      required('TRV_SIM_PATH'),
      ['--link', link, '--warmup', '2', '--cooldown', '2', '--trace', ...simOptions], env);
    await this.sim.line(() => true, 'the device path of its pseudo-terminal');
    this.traceFrom = 1;

    this.password = `panel-${randomBytes(8).toString('hex')}`;
    const passwordFile = join(this.dir, 'http-password');
    await writeFile(passwordFile, `${this.password}\n`, { mode: 0o600 });
    // COM3 leads to the simulator, so the page names the line as on a real machine.
    this.daemon = new Child(
      required('TRV_BRIDGE_PATH'),
      ['--port', 'COM3', '--pjlink-listen', '127.0.0.1:0', '--udp-port', '0', '--http-listen', '127.0.0.1:0',
       '--http-password-file', passwordFile, '--cache-ms', '0', ...bridgeOptions],
      { ...env, ZEKO_COM3: link });
    const pjlink = await this.daemon.line((text) => text.startsWith('pjlink '),
                                          'its "pjlink HOST:PORT" line');
    this.pjlink = pjlink.slice('pjlink '.length);
    const http = await this.daemon.line((text) => text.startsWith('http'),
                                        'its "http http://HOST:PORT/" line');
    const match = /^http (http:\/\/127\.0\.0\.1:[0-9]+\/)$/.exec(http);
    if (!match) throw new Error(`trv-bridge's start line is not "http http://127.0.0.1:PORT/": ${http}`);
    this.url = match[1];
  }

  // Stops both; rejects when the daemon did not end cleanly on SIGTERM.
  async stop() {
    const daemon = this.daemon ? await this.daemon.stop() : null;
    if (this.sim) await this.sim.stop();
    if (this.dir) await rm(this.dir, { recursive: true, force: true });
    if (daemon && !daemon.error && (daemon.killed || daemon.code !== 0) && this.url)
      throw new Error(`trv-bridge did not end cleanly on SIGTERM (exit code ${daemon.code}, ` +
                      `signal ${daemon.signal}${daemon.killed ? ', killed' : ''}):\n` +
                      this.daemon.stderr.slice(-4000));
  }

  // The commands the simulator received, one a line as it traced them (unit address in front).
  received() {
    return this.sim.lines.slice(this.traceFrom).map((line) => line.text);
  }

  // How many times `command` reached the projector, with any unit address.
  count(command) {
    return this.received().filter((text) => text === command || text.slice(4) === command).length;
  }

  // Waits until `command` has reached the projector `times` times in all.
  async waitFor(command, times = 1, ms = 15000) {
    const deadline = Date.now() + ms;
    while (this.count(command) < times) {
      if (Date.now() > deadline)
        throw new Error(`the simulator received ${this.count(command)} × ${command}, ` +
                        `not ${times}, within ${ms} ms; it received:\n${this.received().join('\n')}`);
      await sleep(20);
    }
  }

  // A request to the API with the password as the bearer; the parsed JSON or the text.
  async api(path, { method = 'GET', body } = {}) {
    const response = await fetch(new URL(path.replace(/^\//, ''), this.url), {
      method,
      headers: {
        Authorization: `Bearer ${this.password}`,
        ...(body === undefined ? {} : { 'Content-Type': 'application/json' }),
      },
      body: body === undefined ? undefined : JSON.stringify(body),
    });
    const text = await response.text();
    if (!response.ok) throw new Error(`${method} ${path}: ${response.status} ${text}`);
    return (response.headers.get('content-type') ?? '').startsWith('application/json')
      ? JSON.parse(text)
      : text;
  }
}
