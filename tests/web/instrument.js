"use strict";
// The simulated instrument behind monopanel-server on a free loopback port, and headless
// chromium, for the page's test and its screenshots. Everything started here ends with stop().

const { spawn } = require("node:child_process");
const fs = require("node:fs");
const net = require("node:net");
const os = require("node:os");
const path = require("node:path");
const puppeteer = require("puppeteer-core");

// The longest wait for anything the page shows.
const Bound = 15000;
const Chromium = process.env.CHROMIUM || "/usr/bin/chromium";
// This network refuses chromium's own background connections, and as root it runs only
// without its sandbox.
const ChromiumFlags = ["--no-sandbox", "--disable-gpu", "--disable-quic",
  "--no-first-run", "--disable-background-networking", "--disable-component-update",
  "--disable-sync", "--disable-dev-shm-usage"];

function freePort() {
  return new Promise((resolve, reject) => {
    const probe = net.createServer();
    probe.once("error", reject);
    probe.listen(0, "127.0.0.1", () => {
      const { port } = probe.address();
      probe.close(() => resolve(port));
    });
  });
}

function within(promise, ms, what) {
  let timer;
  const late = new Promise((_, reject) => {
    timer = setTimeout(() => reject(new Error(`${what}: nothing within ${ms} ms`)), ms);
  });
  return Promise.race([promise, late]).finally(() => clearTimeout(timer));
}

function firstLine(child) {
  return new Promise((resolve, reject) => {
    let text = "";
    child.stdout.on("data", (chunk) => {
      text += chunk;
      const end = text.indexOf("\n");
      if (end >= 0) {
        resolve(text.slice(0, end).trim());
      }
    });
    child.once("exit", (code) => reject(new Error(`ended with ${code} before its first line`)));
  });
}

async function pageAnswers(url, bound) {
  const deadline = Date.now() + bound;
  while (Date.now() < deadline) {
    try {
      const reply = await fetch(url, { signal: AbortSignal.timeout(1000) });
      if (reply.ok) {
        return;
      }
    } catch (error) {
      // Not listening yet.
    }
    await new Promise((resolve) => setTimeout(resolve, 100));
  }
  throw new Error(`${url} did not answer within ${bound} ms`);
}

class Instrument {
  // simulator and server: the programs' paths; simulatorArgs: triaxsim's options.
  static async start(simulator, server, simulatorArgs = []) {
    const instrument = new Instrument();
    instrument.simulator = spawn(simulator, simulatorArgs, { stdio: ["ignore", "pipe", "inherit"] });
    const device = await within(firstLine(instrument.simulator), 10000, "triaxsim");
    instrument.port = await freePort();
    instrument.server = spawn(server, [device, String(instrument.port)], { stdio: "inherit" });
    instrument.url = `http://127.0.0.1:${instrument.port}/`;
    await pageAnswers(instrument.url, 20000);
    return instrument;
  }

  // Ends both programs; throws unless each ended with status 0, as SIGTERM ends them and as a
  // sanitizer's report at the end would not.
  async stop() {
    const failures = [];
    for (const [name, child] of [["monopanel-server", this.server], ["triaxsim", this.simulator]]) {
      if (!child) {
        continue;
      }
      if (child.exitCode === null && child.signalCode === null) {
        const ended = new Promise((resolve) => child.once("exit", resolve));
        child.kill("SIGTERM");
        await within(ended, 10000, `ending ${name}`).catch(() => child.kill("SIGKILL"));
      }
      if (child.exitCode !== 0) {
        failures.push(`${name} ended with ${child.exitCode ?? child.signalCode}`);
      }
    }
    if (failures.length) {
      throw new Error(failures.join("; "));
    }
  }

  // A remote call from a client other than the page, with one parameter written as XML-RPC
  // (such as "<double>700</double>"); the answer's document.
  async callAsOther(method, value) {
    const reply = await fetch(`${this.url}RPC2`, {
      method: "POST",
      headers: { "Content-Type": "text/xml" },
      body: `<?xml version="1.0"?><methodCall><methodName>${method}</methodName>`
        + `<params><param><value>${value}</value></param></params></methodCall>`,
      signal: AbortSignal.timeout(10000),
    });
    return reply.text();
  }
}

// The page's status text reads status.
function waitForStatus(page, status) {
  return page.waitForFunction((s) => document.getElementById("status-text").textContent === s,
    { timeout: Bound }, status);
}

// Opens the instrument's page in page, not ready and its requests disabled, and connects.
async function openConnected(page, instrument) {
  await page.goto(instrument.url, { timeout: Bound });
  await waitForStatus(page, "not ready");
  await page.waitForFunction(() => document.getElementById("wavelength-input").disabled,
    { timeout: Bound });
  await page.click("#connect");
  await waitForStatus(page, "ready");
  await page.waitForFunction(() => !document.getElementById("wavelength-input").disabled,
    { timeout: Bound });
}

// Types value into the wavelength field in place of what it shows, and sends it.
async function setWavelength(page, value) {
  await page.click("#wavelength-input", { count: 3 });
  await page.keyboard.type(value);
  await page.keyboard.press("Enter");
}

// Runs first() whenever the page calls method, before the page's call goes out; first()'s
// results, in order.
async function before(page, method, first) {
  const results = [];
  await page.setRequestInterception(true);
  page.on("request", async (request) => {
    try {
      if ((request.postData() || "").includes(`<methodName>${method}</methodName>`)) {
        results.push(await first());
      }
    } finally {
      request.continue();
    }
  });
  return results;
}

async function launchBrowser() {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), "monopanel-chromium-"));
  const browser = await puppeteer.launch({
    executablePath: Chromium,
    headless: true,
    userDataDir: profile,
    args: ChromiumFlags,
    timeout: 30000,
    protocolTimeout: 30000,
  });
  const close = browser.close.bind(browser);
  browser.close = async () => {
    await close().catch(() => {});
    fs.rmSync(profile, { recursive: true, force: true });
  };
  return browser;
}

module.exports = { Bound, Instrument, before, launchBrowser, openConnected, setWavelength,
  waitForStatus };
