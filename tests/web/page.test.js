"use strict";
// The instrument's page in headless chromium, on the simulated instrument behind
// monopanel-server: connect and a move, a silent instrument, a value refused in the page and
// one refused by the program.
// Usage: node page.test.js TRIAXSIM MONOPANEL_SERVER

const assert = require("node:assert/strict");

// Built by hand, without scripts/test: the browser's driver is not there yet. CTest counts 77
// as skipped.
try {
  require.resolve("puppeteer-core");
} catch {
  console.log("browser test skipped: its Node.js packages are missing; run "
    + "npm ci --prefix tests/web (scripts/test does)");
  process.exit(77);
}

const { Bound, Instrument, before, launchBrowser, openConnected, setWavelength, waitForStatus }
  = require("./instrument");

const [simulator, server] = process.argv.slice(2);

// Every call the page makes, by method, as the browser sends it; a multicall counts as each
// of its calls.
function countCalls(page) {
  const calls = {};
  page.on("request", (request) => {
    const body = request.postData() || "";
    const method = /<methodName>([^<]*)<\/methodName>/.exec(body);
    if (request.method() !== "POST" || !method) {
      return;
    }
    const inner = [...body.matchAll(/<name>methodName<\/name><value><string>([^<]*)</g)];
    for (const name of method[1] === "system.multicall" ? inner.map((m) => m[1]) : [method[1]]) {
      calls[name] = (calls[name] || 0) + 1;
    }
  });
  return calls;
}

const text = (page, selector) => page.$eval(selector, (e) => e.textContent.trim());

async function connectAndMove(browser) {
  const instrument = await Instrument.start(simulator, server);
  try {
    const page = await browser.newPage();
    const calls = countCalls(page);
    await openConnected(page, instrument);
    // The page learnt the limits from the program.
    assert.match(await text(page, "#wavelength-hint"), /^250 to 1300 nm/);

    await setWavelength(page, "546.07");
    // Read back one after the other: the position first.
    await page.waitForFunction(() => document.getElementById("position").textContent === "21843"
      && document.getElementById("wavelength").textContent === "546.07", { timeout: Bound });
    await waitForStatus(page, "ready");
    assert.equal(calls.setWavelength, 1);

    // Refused in the page, explained next to the field, and never sent: two more polls go
    // out meanwhile, so the request would have too.
    await setWavelength(page, "2000");
    const polls = calls.getState;
    await page.waitForFunction(() => !document.getElementById("wavelength-error").hidden,
      { timeout: Bound });
    assert.match(await text(page, "#wavelength-error"), /2000 nm is outside 250 to 1300 nm/);
    assert.match(await page.$eval("#wavelength-input", (e) => e.getAttribute("aria-describedby")),
      /wavelength-error/);
    const after = Date.now() + Bound;
    while (calls.getState < polls + 2 && Date.now() < after) {
      await new Promise((resolve) => setTimeout(resolve, 50));
    }
    assert.ok(calls.getState >= polls + 2, "the page stopped polling");
    assert.equal(calls.setWavelength, 1, "a refused value went out");

    // Another client's move is taken while the page's own request is on its way: the program
    // refuses the page's, and the page says why next to the field.
    const other = await before(page, "setWavelength",
      () => instrument.callAsOther("setWavelength", "<double>700</double>"));
    await setWavelength(page, "600");
    await page.waitForFunction(() => !document.getElementById("wavelength-error").hidden,
      { timeout: Bound });
    assert.equal(other.length, 1);
    assert.match(other[0].replace(/\s/g, ""), /<param><value><string><\/string><\/value>/,
      "the other client's move was not taken");
    assert.equal(await text(page, "#wavelength-error"), "wavelength 600 nm refused: motor busy");
    assert.equal(await page.$eval("#wavelength-input", (e) => e.getAttribute("aria-invalid")), "true");
    await page.waitForFunction(() => document.getElementById("wavelength").textContent === "700.00",
      { timeout: Bound });

    // Another client's refused request appears among the events, marked as refused.
    await instrument.callAsOther("setWavelength", "<double>2000</double>");
    await page.waitForFunction(() => /setWavelength 2000/.test(
      document.getElementById("events").firstElementChild?.textContent), { timeout: Bound });
    const newest = await page.$eval("#events", (e) => [e.firstElementChild.dataset.kind,
      e.firstElementChild.textContent]);
    assert.equal(newest[0], "refused");
    assert.match(newest[1], /127\.0\.0\.1 setWavelength 2000 refused: outside 250 to 1300 nm/);
    await page.close();
  } finally {
    await instrument.stop();
  }
}

async function silentInstrument(browser) {
  const instrument = await Instrument.start(simulator, server, ["--fault", "noanswer:E"]);
  try {
    const page = await browser.newPage();
    await openConnected(page, instrument);
    // The motor is polled with "E" after a move, which the instrument leaves unanswered.
    await setWavelength(page, "600");
    await waitForStatus(page, "no answer");
    assert.match(await text(page, "#reason"), /no answer/);
    assert.equal(await page.$eval("#close", (e) => e.disabled), false);
    assert.equal(await page.$eval("#connect", (e) => e.disabled), true);
    assert.equal(await page.$eval("#wavelength-input", (e) => e.disabled), true);
    await page.close();
  } finally {
    await instrument.stop();
  }
}

async function main() {
  const browser = await launchBrowser();
  try {
    await connectAndMove(browser);
    await silentInstrument(browser);
  } finally {
    await browser.close();
  }
}

// Whatever hangs, the test ends.
setTimeout(() => {
  console.error("page test: no end within 150 s");
  process.exit(1);
}, 150000).unref();

main().then(() => console.log("page test: passed"), (error) => {
  console.error(`page test: ${error.stack || error}`);
  process.exitCode = 1;
});
