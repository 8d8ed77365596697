"use strict";
// The page's pictures for the manual, taken in headless chromium on the simulated instrument:
// ready after a move, with a silent instrument, and with a request refused because another
// client's move came first, each at a desktop's and a phone's width.
// Usage: node screenshots.js TRIAXSIM MONOPANEL_SERVER DIRECTORY

const path = require("node:path");
const { Bound, Instrument, before, launchBrowser, openConnected, waitForStatus }
  = require("./instrument");

const [simulator, server, directory] = process.argv.slice(2);
const Widths = [["", 1000], ["-phone", 390]];

// The page asks for wavelength; when other is given, another client asks for that one first.
async function drive(browser, { name, simulatorArgs = [], wavelength, other, status }) {
  const instrument = await Instrument.start(simulator, server, simulatorArgs);
  try {
    const page = await browser.newPage();
    await page.setViewport({ width: 1000, height: 700 });
    await openConnected(page, instrument);
    if (other) {
      await before(page, "setWavelength",
        () => instrument.callAsOther("setWavelength", `<double>${other}</double>`));
    }
    await page.type("#wavelength-input", wavelength);
    await page.keyboard.press("Enter");
    await page.waitForFunction((nm) => document.getElementById("wavelength").textContent === nm,
      { timeout: Bound }, other || wavelength);
    await waitForStatus(page, status);
    // Every value read back: the state's name is no longer shown beside its text.
    await page.waitForFunction(() => document.getElementById("state").textContent === "",
      { timeout: Bound });
    await page.$eval("#wavelength-input", (e) => e.blur());
    for (const [suffix, width] of Widths) {
      await page.setViewport({ width, height: 700 });
      const file = path.join(directory, `page-${name}${suffix}.png`);
      await page.screenshot({ path: file, fullPage: true });
      console.log(file);
    }
    await page.close();
  } finally {
    await instrument.stop();
  }
}

async function main() {
  const browser = await launchBrowser();
  try {
    await drive(browser, { name: "ready", wavelength: "546.07", status: "ready" });
    // The instrument leaves the motor's poll unanswered after the move.
    await drive(browser, { name: "fault", simulatorArgs: ["--fault", "noanswer:E"],
      wavelength: "500.00", status: "no answer" });
    await drive(browser, { name: "refused", wavelength: "600.00", other: "700.00", status: "ready" });
  } finally {
    await browser.close();
  }
}

main().catch((error) => {
  console.error(error.stack || String(error));
  process.exitCode = 1;
});
